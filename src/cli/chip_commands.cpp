// SPDX-License-Identifier: GPL-3.0-or-later
// detect, read, write, verify, erase, blank (and auto, in auto_command.cpp): the chip
// operations, run through the same Program (start-up, worker, operations) as the
// window. Image files come in any load-file format and are summed as they are opened;
// read and verify sum the chip's data as it arrives.
#include "cli/chip_commands.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "buffer/file_source.h"
#include "buffer/load_file_writer.h"
#include "cli/cli_context.h"
#include "cli/file_reasons.h"
#include "cli/production_output.h"
#include "cli/read_output.h"
#include "operations/blank_check.h"
#include "operations/erase.h"
#include "operations/read.h"
#include "operations/recognition.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "production/checksum_worker.h"
#include "production/chip_data_checks.h"
#include "production/diff_list.h"

namespace tarvix::cli {
namespace {

namespace w = worker_command;

bool IsNumber(const std::string& s) {
  return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

struct CommandInfo {
  std::string_view name;
  bool needs_file;
  WorkerCommand code;
};

CommandInfo Info(ChipCommand command) {
  switch (command) {
    case ChipCommand::kDetect:
      return {"detect", false, w::kChipTest};
    case ChipCommand::kRead:
      return {"read", true, w::kRead};
    case ChipCommand::kWrite:
      return {"write", true, w::kWrite};
    case ChipCommand::kVerify:
      return {"verify", true, w::kVerify};
    case ChipCommand::kErase:
      return {"erase", false, w::kErase};
    case ChipCommand::kBlank:
      return {"blank", false, w::kBlankCheck};
    case ChipCommand::kAuto:
      break;
  }
  return {"auto", true, w::kAuto};
}

}  // namespace

std::string ParseChipArgs(ChipCommand command, const std::vector<std::string>& args,
                          ChipArgs& out) {
  const CommandInfo info = Info(command);
  const bool is_auto = command == ChipCommand::kAuto;
  SerialSettings serial;
  bool serial_given = false;
  bool address_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (is_auto && a == "--bulk") {
      out.bulk = true;
      if (i + 1 < args.size() && IsNumber(args[i + 1])) {
        out.bulk_count = std::stoll(args[++i]);
        if (out.bulk_count == 0) return "--bulk takes a number of chips above 0";
      }
    } else if (is_auto && a == "--sim-swap") {
      if (i + 1 >= args.size() || !IsNumber(args[i + 1]))
        return "--sim-swap needs a time in milliseconds";
      out.swap_ms = std::stoll(args[++i]);
      out.swap_given = true;
      if (out.swap_ms < kMinimumSwapMs)
        return "--sim-swap takes at least " + std::to_string(kMinimumSwapMs) + " ms";
    } else if (is_auto && a == "--sim-chips") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return "--sim-chips needs a folder";
      out.sim_chips = args[++i];
    } else if (is_auto && a.rfind("--serial-", 0) == 0) {
      if (i + 1 >= args.size()) return a + " needs a value";
      bool known = false;
      std::string error;
      if (!ParseSerialOption(a, args[i + 1], serial, &known, &error))
        return known ? error : "unknown option " + a + " for auto";
      ++i;
      serial_given = true;
      address_given = address_given || a == "--serial-address";
    } else if (command == ChipCommand::kVerify && a == "--diff") {
      out.diff = kDefaultDiffRanges;
      if (i + 1 < args.size() && IsNumber(args[i + 1])) out.diff = std::stoul(args[++i]);
    } else if (a.rfind("--", 0) == 0) {
      return "unknown option " + a + " for " + std::string(info.name);
    } else if (info.needs_file && out.file.empty()) {
      out.file = a;
    } else {
      return std::string(info.name) + (info.needs_file ? " takes one FILE" : " takes no arguments");
    }
  }
  if (info.needs_file && out.file.empty()) return std::string(info.name) + " needs a FILE";
  if (serial_given) {
    if (!address_given) return "serial numbers need --serial-address";
    if (!out.bulk) return "serial numbers are stamped in auto --bulk only";
    out.serial = serial;
  }
  return {};
}

void PrintChipJson(std::ostream& out, const ChipRecord* record, const MainState& state) {
  if (record == nullptr) return;
  out << ",\"chip\":{\"type\":" << JsonString(record->type)
      << ",\"manufacturer\":" << JsonString(record->manufacturer)
      << ",\"model\":" << JsonString(record->model)
      << ",\"capacity_bytes\":" << state.chip_capacity.load() << "}";
}

namespace {

int RunChipCommand(Context& c, ChipCommand command) {
  ChipArgs args;
  if (const std::string error = ParseChipArgs(command, c.options().args, args); !error.empty())
    return UsageError(error);
  const Options& o = c.options();
  if (args.swap_given && !o.simulate) return UsageError("--sim-swap needs --simulate");
  if (!args.sim_chips.empty() && !o.simulate) return UsageError("--sim-chips needs --simulate");
  if (args.serial && o.log.empty())
    return UsageError(std::string(kStampingNeedsLog) + ": give --log FILE");
  const CommandInfo info = Info(command);
  const bool json = o.json;
  const auto refuse_file = [&] {
    if (json)
      std::cout << "{\"ok\":false,\"status\":\"\",\"file\":" << JsonString(args.file) << "}\n";
    return kExitFailed;
  };
  const bool reads_file = info.needs_file && command != ChipCommand::kRead;
  std::vector<NamedFile> inputs, outputs;
  if (reads_file) inputs.push_back({"", args.file});
  if (command == ChipCommand::kRead) outputs.push_back({"", args.file});
  // The log is written too; it must not be the image or the chip under another name.
  if (reads_file && !o.log.empty()) outputs.push_back({"--log", o.log});
  if (!c.CheckFiles(inputs, outputs, true, true)) return refuse_file();
  if (!args.sim_chips.empty() && !std::filesystem::is_directory(args.sim_chips)) {
    std::cerr << "tarvix-cli: --sim-chips " << args.sim_chips << ": no such folder\n";
    return refuse_file();
  }
  // A whole chip can take minutes to read: a file that cannot be written is said first.
  std::optional<ReadOutput> read_output;
  if (command == ChipCommand::kRead) {
    read_output.emplace(args.file, SaveFormatOf(args.file, o.format));
    if (!read_output->Valid()) {
      std::cerr << "tarvix-cli: cannot write " << args.file << ": " << read_output->Why() << "\n";
      return refuse_file();
    }
  }

  std::unique_ptr<ChipSession> session = ChipSession::Open(c, true);
  if (!session) return kExitFailed;
  ChipSession& s = *session;
  Program& program = s.program();
  OperationContext& ctx = s.ctx();
  MainState& state = program.State();

  s.StartUp();
  if (s.Interrupted()) return s.InterruptedExit();
  if (command != ChipCommand::kDetect && !s.ChipSettled()) {
    if (json)
      std::cout << "{\"ok\":false,\"status\":" << JsonString(s.host().LastStatus())
                << ",\"identified\":false}\n";
    return kExitFailed;
  }
  const std::uint32_t capacity = state.chip_capacity.load();
  const auto refuse = [&](const std::string& text) {
    s.host().BreakLine();
    std::cerr << "tarvix-cli: " << text << "\n";
    return refuse_file();
  };
  if (read_output) {
    if (std::string problem = FormatWidthProblem(read_output->Format(), capacity); !problem.empty())
      return refuse("cannot write " + args.file + ": " + problem);
  }

  // The user's file itself is streamed, read-only, summed in the one pass that opens
  // it; the chip's size is known by now.
  std::unique_ptr<FileSource> source;
  ChipRun run;
  if (reads_file) {
    std::string why;
    ChecksumWorker sums;
    const std::optional<FileFormat> forced =
        o.format ? std::optional(o.format->format) : std::nullopt;
    source = FileSource::Open(args.file, capacity, &why, forced,
                              [&sums](std::span<const std::uint8_t> bytes) { sums.Update(bytes); });
    run.image_sums = sums.Finish();
    if (!source) return refuse(args.file + ": " + why);
    if (std::string problem = source->RangeProblem(capacity); !problem.empty())
      return refuse(args.file + ": " + problem);
    run.format = source->Format();
    ctx.source = source.get();
    ProductionJob job{o.lot.value_or(""), std::string(info.name), args.file, run.image_sums,
                      args.serial};
    const std::optional<std::filesystem::path> log =
        o.log.empty() ? std::nullopt : std::optional<std::filesystem::path>(o.log);
    run.station = ProductionStation::Open(
        ctx, log, std::move(job),
        [&s, &run] { return run.refusal.empty() ? s.host().LastStatus() : run.refusal; }, &why);
    if (!run.station || !run.station->Start(&why)) return refuse(why);
  }
  if (read_output) {
    ctx.read_sink = &*read_output;
    // A second Ctrl-C leaves without unwinding: the session removes the file then.
    s.SetPartialFile(read_output->TemporaryPath());
  }
  if (command == ChipCommand::kAuto) return RunAuto(c, s, args, run);

  // Read and verify sum the chip's data as it arrives; verify also lists where it
  // differs (only counted without --diff).
  std::optional<DiffList> diff;
  std::optional<ChipDataChecks> checks;
  if (command == ChipCommand::kVerify) {
    diff.emplace(args.diff.value_or(0));
    checks.emplace(&*diff);
  } else if (command == ChipCommand::kRead) {
    checks.emplace(nullptr);
  }
  if (checks) ctx.chip_data_tap = &*checks;

  // Each command's routine keeps its result for the report; write and verify run as
  // one chip of a production run.
  int test_result = kNoProgrammer;
  bool ok = false;
  std::string log_error;
  const auto production_chip = [&](const std::function<bool()>& chip_operation) {
    return run.station->RunChip(chip_operation, &log_error) == ChipOutcome::kPassed;
  };
  Worker::Operation operation;
  switch (command) {
    case ChipCommand::kDetect:
      operation = [&] {
        test_result = ChipTest(ctx);
        ok = test_result >= 0;
      };
      break;
    case ChipCommand::kRead:
      operation = [&] { ok = ReadChip(ctx); };
      break;
    case ChipCommand::kWrite:
      operation = [&] { ok = production_chip([&] { return WriteChip(ctx, true); }); };
      break;
    case ChipCommand::kVerify:
      operation = [&] { ok = production_chip([&] { return VerifyChip(ctx, true); }); };
      break;
    case ChipCommand::kErase:
      operation = [&] { ok = EraseChip(ctx, true); };
      break;
    case ChipCommand::kBlank:
      operation = [&] { ok = BlankCheck(ctx); };
      break;
    case ChipCommand::kAuto:
      break;
  }
  s.Run(info.code, std::move(operation));
  ctx.chip_data_tap = nullptr;
  // A run the user stopped is not a success, whatever the operation made of it.
  const bool interrupted = s.Interrupted();
  if (interrupted) ok = false;
  if (!log_error.empty()) {
    s.host().BreakLine();
    std::cerr << "tarvix-cli: " << log_error << "\n";
  }

  bool saved = false;
  if (read_output) {
    std::string why;
    saved = ok && read_output->Place(&why);
    // A read that failed on the file (not on the chip) says which file and why.
    if (!ok && !interrupted) why = read_output->Why();
    if (!saved && !interrupted && !why.empty()) {
      s.host().BreakLine();
      std::cerr << "tarvix-cli: cannot write " << args.file << ": " << why << "\n";
    }
    read_output->Abandon();
    s.SetPartialFile({});
    ok = saved;
  }
  const std::optional<Checksums> chip_sums =
      checks && checks->ChipSums() && (command != ChipCommand::kRead || saved) ? checks->ChipSums()
                                                                               : std::nullopt;
  // Verify's differences: listed with --diff, otherwise only counted when there are any.
  const bool show_diff =
      command == ChipCommand::kVerify && !interrupted && (args.diff || checks->DiffRanges() > 0);

  const ChipRecord* record = program.Selection().CurrentRecord();
  s.host().BreakLine();
  if (json) {
    std::ostringstream out;
    out << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(s.host().LastStatus());
    if (interrupted) out << ",\"interrupted\":true";
    switch (command) {
      case ChipCommand::kDetect:
        out << ",\"result\":" << test_result;
        break;
      case ChipCommand::kRead:
        out << ",\"file\":" << JsonString(args.file)
            << ",\"format\":" << JsonString(FormatName(read_output->Format()))
            << ",\"bytes\":" << (saved ? read_output->Written() : 0) << SumsJson("chip", chip_sums);
        break;
      case ChipCommand::kWrite:
      case ChipCommand::kVerify:
        out << ",\"file\":" << JsonString(args.file)
            << ",\"format\":" << JsonString(FormatName({run.format, 0}))
            << ",\"bytes\":" << source->Size()
            << ",\"file_sum\":" << JsonString(FormatSum(source->FileSum()))
            << ",\"chip_sum\":" << JsonString(FormatSum(source->ChipSum()))
            << SumsJson("image", run.image_sums);
        if (command == ChipCommand::kVerify) out << SumsJson("chip", chip_sums);
        if (show_diff) out << DiffJson(*diff, checks->DiffRanges(), checks->DifferingBytes());
        if (!log_error.empty()) out << ",\"log_error\":" << JsonString(log_error);
        break;
      case ChipCommand::kBlank:
        out << ",\"blank\":" << JsonBool(ok);
        break;
      default:
        break;
    }
    PrintChipJson(out, record, state);
    out << "}\n";
    std::cout << out.str();
  } else if (command == ChipCommand::kDetect) {
    std::cout << "result: " << test_result << "\n";
    if (record != nullptr)
      std::cout << "type: " << record->type << "\nmanufacturer: " << record->manufacturer
                << "\nchip: " << record->model << "\n";
  } else {
    if (command == ChipCommand::kRead && saved)
      std::cout << args.file << ": " << read_output->Written() << " bytes\n";
    if (reads_file) std::cout << SumsLine("image", run.image_sums);
    if (chip_sums) std::cout << SumsLine("chip", *chip_sums);
    if (show_diff) std::cout << DiffText(*diff, checks->DiffRanges(), checks->DifferingBytes());
  }
  if (interrupted) return s.InterruptedExit();
  return ok ? kExitOk : kExitFailed;
}

const Registration kDetect{
    {"detect",
     "detect                 chip test: prints the result code and the selected chip\n"
     "                         result 1: found in the catalogue; 0: an EEPROM family (24, 25,\n"
     "                         93: the model cannot be told by ID) or an SPI FLASH not in the\n"
     "                         catalogue; -1: no chip (or the programmer is in its update\n"
     "                         mode); -2: no programmer, or it cannot be opened",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kDetect); }}};
const Registration kRead{
    {"read",
     "read FILE              read the whole chip into FILE, written as the data arrives and\n"
     "                         put in place when whole; binary, Intel HEX or S-record by\n"
     "                         --format or FILE's extension. Prints the chip's CRC-32 and\n"
     "                         SHA-256",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kRead); }}};
const Registration kWrite{
    {"write",
     "write FILE             program FILE into the chip WITHOUT erasing it first (an SPI\n"
     "                         FLASH must be blank: use erase first, or auto, which erases,\n"
     "                         writes and verifies). Prints the image's CRC-32 and SHA-256",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kWrite); }}};
const Registration kVerify{
    {"verify",
     "verify FILE [--diff [N]]\n"
     "                         compare the chip with FILE; prints the CRC-32 and SHA-256 of\n"
     "                         the image and of the chip, and how many ranges differ.\n"
     "                         --diff: list the first N (16) differing ranges (address,\n"
     "                         length, the first bytes of the file and of the chip)",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kVerify); }}};
const Registration kErase{{"erase", "erase                  erase the chip",
                           [](Context& c) { return RunChipCommand(c, ChipCommand::kErase); }}};
const Registration kBlank{{"blank", "blank                  blank check",
                           [](Context& c) { return RunChipCommand(c, ChipCommand::kBlank); }}};
const Registration kAuto{
    {"auto",
     "auto FILE [--bulk [N]] [--sim-swap MS] [--sim-chips DIR]\n"
     "                         erase, write and verify; --bulk: one chip after another (N\n"
     "                         chips, or until Ctrl-C), asking once before the first, each\n"
     "                         chip stamped with a serial number when the auto options\n"
     "                         below ask; --sim-swap: the simulated operator swaps chips MS\n"
     "                         ms after each (default 2000, at least 1000); --sim-chips: its\n"
     "                         chips live in DIR, number N (the first after the one in the\n"
     "                         socket is 2) in DIR/chip-N.img, blank when absent",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kAuto); }}};

}  // namespace
}  // namespace tarvix::cli
