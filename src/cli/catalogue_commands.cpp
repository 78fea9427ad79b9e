// chips, info, db pack, db unpack.
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>

#include "catalogue/database_codec.h"
#include "cli/cli_context.h"
#include "device/command_packet.h"

namespace tarvix::cli {
namespace {

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "cannot open " << path << "\n";
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  // Written beside the target and renamed, so a failed write never leaves half a file.
  const std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::cerr << "cannot write " << path << "\n";
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::cerr << "cannot write " << path << "\n";
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

int DbPack(Context& c) {
  if (c.options().args.size() != 2) return UsageError("db pack needs TEXT and OUT.dat");
  std::vector<std::uint8_t> plain;
  if (!ReadFile(c.options().args[0], plain)) return kExitFailed;
  ScrambleResult packed = Scramble(plain);
  if (!packed.error.empty()) {
    std::cerr << c.options().args[0] << ": " << packed.error << "\n";
    return kExitFailed;
  }
  return WriteFile(c.options().args[1], packed.bytes) ? kExitOk : kExitFailed;
}

int DbUnpack(Context& c) {
  if (c.options().args.size() != 2) return UsageError("db unpack needs DAT and OUT.txt");
  std::vector<std::uint8_t> stored;
  if (!ReadFile(c.options().args[0], stored)) return kExitFailed;
  return WriteFile(c.options().args[1], Unscramble(stored)) ? kExitOk : kExitFailed;
}

int Chips(Context& c) {
  if (!c.options().args.empty()) return UsageError("chips takes no arguments");
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
