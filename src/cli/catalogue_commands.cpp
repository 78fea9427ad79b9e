// SPDX-License-Identifier: GPL-3.0-or-later
// chips, info, db pack, db unpack.
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "buffer/replacement_file.h"
#include "buffer/stream_copy.h"
#include "catalogue/database_codec.h"
#include "cli/cli_context.h"
#include "cli/file_reasons.h"
#include "device/command_packet.h"

namespace tarvix::cli {
namespace {

// Written beside the target and put in place whole, so a failed write never leaves
// half a file and an existing one stays as it was.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  ReplacementFile out(path);
  const bool ok = out.Valid() && WriteAt(out.Fd(), bytes, 0) && out.Commit();
  if (!ok) {
    const int error = out.Error() != 0 ? out.Error() : errno;
    std::cerr << "cannot write " << path << ": " << std::strerror(error) << "\n";
  }
  return ok;
}

int DbPack(Context& c) {
  if (c.options().args.size() != 2) return UsageError("db pack needs TEXT and OUT.dat");
  const std::string& input = c.options().args[0];
  const std::string& output = c.options().args[1];
  if (!c.CheckFiles({{"", input}}, {{"", output}}, false, false)) return kExitFailed;
  std::vector<std::uint8_t> plain;
  if (!ReadWholeInput(input, kDatabaseLargest, "a chip database text", &plain)) return kExitFailed;
  ScrambleResult packed = Scramble(plain);
  if (!packed.error.empty()) {
    std::cerr << input << ": " << packed.error << "\n";
    return kExitFailed;
  }
  // The packed file must load as the program loads it: a text of no chip would replace
  // a good database with one that lists nothing.
  ChipCatalogue check;
  std::string first_problem;
  check.Parse(
      Unscramble(packed.bytes),
      [&](std::string_view message, std::string_view) {
        if (first_problem.empty()) first_problem = std::string(message);
      },
      input);
  if (check.Count() == 0) {
    std::cerr << "tarvix-cli: " << input << ": it lists no chip ("
              << (first_problem.empty() ? std::string("a chip line starts with \"@\"")
                                        : first_problem)
              << "); " << output << " was not written\n";
    return kExitFailed;
  }
  return WriteFile(output, packed.bytes) ? kExitOk : kExitFailed;
}

int DbUnpack(Context& c) {
  if (c.options().args.size() != 2) return UsageError("db unpack needs DAT and OUT.txt");
  const std::string& input = c.options().args[0];
  const std::string& output = c.options().args[1];
  if (!c.CheckFiles({{"", input}}, {{"", output}}, false, false)) return kExitFailed;
  std::vector<std::uint8_t> stored;
  if (!ReadWholeInput(input, kDatabaseLargest, "a chip database", &stored)) return kExitFailed;
  if (const std::string problem = DatabaseProblem(stored); !problem.empty()) {
    std::cerr << input << ": " << problem << "\n";
    return kExitFailed;
  }
  return WriteFile(output, Unscramble(stored)) ? kExitOk : kExitFailed;
}

int Chips(Context& c) {
  if (!c.options().args.empty()) return UsageError("chips takes no arguments");
  if (!c.CheckFiles({}, {}, true, false)) return kExitFailed;
  if (!c.LoadCatalogue()) return kExitFailed;
  const ChipCatalogue& cat = c.catalogue();
  if (c.options().json) {
    std::cout << "[";
    for (std::uint32_t i = 0; i < cat.Count(); ++i) {
      const ChipRecord& r = cat.Record(i);
      std::cout << (i ? ",\n " : "\n ") << "{\"index\":" << r.internal_number
                << ",\"type\":" << JsonString(r.type)
                << ",\"manufacturer\":" << JsonString(r.manufacturer)
                << ",\"model\":" << JsonString(r.model)
                << ",\"page_size\":" << JsonString(r.page_size)
                << ",\"sector_size\":" << JsonString(r.sector_size)
                << ",\"capacity\":" << JsonString(r.capacity)
                << ",\"main_address\":" << JsonString(r.main_address)
                << ",\"slave_address\":" << JsonString(r.slave_address)
                << ",\"main_id\":" << JsonString(r.main_id)
                << ",\"secondary_id\":" << JsonString(r.secondary_id)
                << ",\"voltage\":" << JsonString(r.voltage)
                << ",\"operation_type\":" << JsonString(r.operation_type)
                << ",\"capacity_bytes\":" << ParseCapacity(r.capacity) << "}";
    }
    std::cout << "\n]\n";
    return kExitOk;
  }
  for (std::uint32_t i = 0; i < cat.Count(); ++i) {
    const ChipRecord& r = cat.Record(i);
    std::cout << std::setw(3) << i << "  " << std::left << std::setw(13) << r.type << std::setw(14)
              << r.manufacturer << std::setw(22) << r.model << std::setw(8) << r.capacity
              << std::right << " " << r.main_id << " " << r.secondary_id << "\n";
  }
  return kExitOk;
}

int Info(Context& c) {
  if (!c.options().args.empty()) return UsageError("info takes no arguments");
  if (!c.CheckFiles({}, {}, true, false)) return kExitFailed;
  if (!c.LoadCatalogue()) return kExitFailed;
  const ChipSelection& s = c.selection();
  if (c.options().json) {
    const ChipRecord* r = s.CurrentRecord();
    std::cout << "{\"ok\":true,\"status\":\"\",\"index\":" << c.state().selected_chip_index
              << ",\"type\":" << JsonString(r ? r->type : "")
              << ",\"manufacturer\":" << JsonString(r ? r->manufacturer : "")
              << ",\"model\":" << JsonString(r ? r->model : "")
              << ",\"capacity_bytes\":" << c.state().chip_capacity
              << ",\"capacity_label\":" << JsonString(s.CapacityLabel())
              << ",\"packet\":" << JsonString(c.packet().DetailsText())
              << ",\"details\":" << JsonString(s.DetailsText()) << "}\n";
    return kExitOk;
  }
  // The details box text with its line ends as a terminal shows them.
  std::string details = s.DetailsText();
  std::string out;
  for (std::size_t i = 0; i < details.size(); ++i) {
    if (details[i] == '\r' && i + 1 < details.size() && details[i + 1] == '\n') continue;
    out += details[i];
  }
  std::cout << out << "\n" << s.CapacityLabel() << "\n";
  return kExitOk;
}

const Registration kChips{{"chips", "chips                  list the catalogue", Chips}};
const Registration kInfo{
    {"info", "info                   the selected record and its 20 packet bytes", Info}};
const Registration kPack{
    {"db pack", "db pack TEXT OUT.dat   write a scrambled chip database", DbPack}};
const Registration kUnpack{
    {"db unpack", "db unpack DAT OUT.txt  read a scrambled chip database", DbUnpack}};

}  // namespace
}  // namespace tarvix::cli
