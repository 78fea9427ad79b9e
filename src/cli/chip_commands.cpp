// detect, read, write, verify, erase, blank, auto: the chip operations, run through
// the same Program (start-up, worker, operations) as the window.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "buffer/file_sink.h"
#include "buffer/file_source.h"
#include "cli/chip_session.h"
#include "cli/cli_context.h"
#include "cli/file_reasons.h"
#include "operations/auto_sequence.h"
#include "operations/blank_check.h"
#include "operations/erase.h"
#include "operations/read.h"
#include "operations/recognition.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace tarvix::cli {
namespace {

namespace w = worker_command;

// The simulated operator of a bulk run: some time after each chip is done it takes
// the chip out and, as long again later, puts a fresh one from the same box in.
class SimOperator {
 public:
  SimOperator(sim::SimBus& bus, sim::ChipDescription chip, std::int64_t swap_ms)
      : bus_(bus), chip_(std::move(chip)), swap_ms_(swap_ms), state_(std::make_shared<State>()) {}

  // Number of the chip now in the socket (1 for the one there at the start, 0 while
  // the socket is empty).
  [[nodiscard]] int InSocket() const { return state_->in_socket; }

  void ChipDone() {
    auto state = state_;
    const std::int64_t half = swap_ms_ / 2;
    bus_.At(bus_.clock().NowMs() + half, [state, half, chip = chip_](sim::SimBus& bus) {
      bus.Programmer().RemoveChip();
      state->in_socket = 0;
      // The socket stays empty for a while, however late the removal came.
      bus.At(bus.clock().NowMs() + half, [state, chip](sim::SimBus& later) {
        later.Programmer().InsertChip(std::make_unique<sim::VirtualChip>(chip));
        state->in_socket = ++state->inserted;
      });
    });
  }

 private:
  struct State {
    int in_socket = 1;
    int inserted = 1;
  };
  sim::SimBus& bus_;
  sim::ChipDescription chip_;
  std::int64_t swap_ms_;
  std::shared_ptr<State> state_;
};

constexpr std::int64_t kDefaultSwapMs = 2000;
// Shorter swaps could take a chip out and put the next in between two looks of the
// programmer, which then never sees the socket empty and waits on.
constexpr std::int64_t kMinimumSwapMs = 1000;

bool IsNumber(const std::string& s) {
  return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

// A command's arguments: at most one file, and for auto the bulk options.
struct ChipArgs {
  std::string file;
  bool bulk = false;
  std::int64_t bulk_count = 0;  // 0: until Ctrl-C
  std::int64_t swap_ms = kDefaultSwapMs;
  bool swap_given = false;
};

enum class ChipCommand { kDetect, kRead, kWrite, kVerify, kErase, kBlank, kAuto };

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

// Parses the arguments; an error text when they are wrong.
std::string ParseChipArgs(ChipCommand command, const std::vector<std::string>& args,
                          ChipArgs& out) {
  const CommandInfo info = Info(command);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (command == ChipCommand::kAuto && a == "--bulk") {
      out.bulk = true;
      if (i + 1 < args.size() && IsNumber(args[i + 1])) {
        out.bulk_count = std::stoll(args[++i]);
        if (out.bulk_count == 0) return "--bulk takes a number of chips above 0";
      }
    } else if (command == ChipCommand::kAuto && a == "--sim-swap") {
      if (i + 1 >= args.size() || !IsNumber(args[i + 1]))
        return "--sim-swap needs a time in milliseconds";
      out.swap_ms = std::stoll(args[++i]);
      out.swap_given = true;
      if (out.swap_ms < kMinimumSwapMs)
        return "--sim-swap takes at least " + std::to_string(kMinimumSwapMs) + " ms";
    } else if (a.rfind("--", 0) == 0) {
      return "unknown option " + a + " for " + std::string(info.name);
    } else if (info.needs_file && out.file.empty()) {
      out.file = a;
    } else {
      return std::string(info.name) + (info.needs_file ? " takes one FILE" : " takes no arguments");
    }
  }
  if (info.needs_file && out.file.empty()) return std::string(info.name) + " needs a FILE";
  return {};
}

// A read's output on the command line: the chip's bytes go straight into a temporary
// file beside the user's FILE, which takes that name after the run, and only when it
// holds the whole chip of a run nobody stopped. The read's Commit only marks its end.
// As with cp, the system writes the file to the disk in its own time: a forced flush
// would cost more than the whole read.
class ReadOutput final : public ByteSink {
 public:
  explicit ReadOutput(const std::filesystem::path& file) : file_(file, /*durable=*/false) {}

  [[nodiscard]] bool Valid() const { return file_.Valid(); }
  [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return file_.TemporaryPath(); }
  [[nodiscard]] std::uint64_t Written() const { return file_.Written(); }
  [[nodiscard]] std::string Why() const { return file_.Why(); }

  bool Begin(std::uint64_t length) override {
    length_ = length;
    ended_ = false;
    return file_.Begin(length);
  }
  bool Append(std::span<const std::uint8_t> bytes) override { return file_.Append(bytes); }
  bool Commit() override {
    ended_ = true;
    return true;
  }
  void Abandon() override { file_.Abandon(); }

  // Puts the file in place when the read ended with the whole chip; otherwise removes
  // it. False, with the reason, when the file is not in place.
  [[nodiscard]] bool Place(std::string* why) {
    if (!ended_ || file_.Written() != length_) {
      file_.Abandon();
      *why = "the read ended after " + std::to_string(file_.Written()) + " of " +
             std::to_string(length_) + " bytes";
      return false;
    }
    if (file_.Commit()) return true;
    *why = file_.Why();
    return false;
  }

 private:
  FileSink file_;
  std::uint64_t length_ = 0;
  bool ended_ = false;
};

// The steps of an auto run; after a Ctrl-C no further step starts, and a step that
// ended early (erase reports a stopped erase as done) does not count as done.
AutoSteps InterruptibleSteps(ChipSession& s) {
  const AutoSteps steps = ChipAutoSteps(s.ctx());
  // Whatever arguments a step takes (the pre-check flag, and what else it is told).
  const auto guard = [&s](auto step) {
    return [&s, step = std::move(step)](auto... args) {
      if (s.Interrupted()) return false;
      const bool ok = step(args...);
      return ok && !s.Interrupted();
    };
  };
  return {guard(steps.erase), guard(steps.write), guard(steps.verify)};
}

// What the first chip of a bulk run is asked; the later chips are not.
std::string BulkQuestion(const Settings& settings) {
  std::string steps;
  const auto add = [&steps](const char* word) {
    if (!steps.empty()) steps += ", ";
    steps += word;
  };
  if (settings.IsOn(SettingItem::kBulkErase)) add("erased");
  if (settings.IsOn(SettingItem::kBulkWrite)) add("written");
  if (settings.IsOn(SettingItem::kBulkVerify)) add("verified");
  if (steps.empty()) steps = "counted (no step is chosen in \"Bulk Process\")";
  return "bulk mode: every chip put in the socket will be " + steps +
         " without another question ! continue ?";
}

void PrintChipJson(std::ostream& out, const ChipRecord* record, const MainState& state) {
  if (record == nullptr) return;
  out << ",\"chip\":{\"type\":" << JsonString(record->type)
      << ",\"manufacturer\":" << JsonString(record->manufacturer)
      << ",\"model\":" << JsonString(record->model)
      << ",\"capacity_bytes\":" << state.chip_capacity.load() << "}";
}

int RunAuto(Context& c, ChipSession& s, const ChipArgs& args) {
  const bool json = c.options().json;
  Program& program = s.program();
  OperationContext& ctx = s.ctx();
  MainState& state = program.State();
  struct ChipResult {
    int number;
    bool ok;
    int socket;  // simulated chip number, 0 with a real programmer
    std::string status;
  };
  std::vector<ChipResult> chips;
  bool interrupted_chip = false;
  std::optional<SimOperator> sim_operator;
  Device& device = s.device();
  if (args.bulk && device.sim != nullptr && device.sim->Programmer().chip() != nullptr)
    sim_operator.emplace(*device.sim, device.sim->Programmer().chip()->description(), args.swap_ms);
  const AutoSteps steps = InterruptibleSteps(s);
  bool ok = false;

  const auto finish_chip = [&](bool run_ok, std::string status) {
    ChipResult r{static_cast<int>(chips.size()) + 1, run_ok,
                 sim_operator ? sim_operator->InSocket() : 0, std::move(status)};
    if (!json) {
      s.host().BreakLine();
      std::cout << "chip " << r.number << ": " << (r.ok ? "pass" : "fail");
      if (r.socket > 0) std::cout << " (simulated chip #" << r.socket << ")";
      std::cout << "  " << r.status << std::endl;
    }
    chips.push_back(std::move(r));
    if (args.bulk_count > 0 && static_cast<std::int64_t>(chips.size()) >= args.bulk_count)
      state.bulk_mode = 0;
    else if (sim_operator)
      sim_operator->ChipDone();
  };

  program.SetOperation(w::kAuto, [&] {
    // Every chip after the first must be the run's chip too.
    if (args.bulk && !chips.empty() && !s.Interrupted()) {
      const std::string refusal = s.CheckSwappedChip();
      if (!refusal.empty()) {
        s.host().BreakLine();
        std::cerr << "tarvix-cli: " << refusal << "\n";
        finish_chip(false, refusal);
        return;
      }
    }
    const bool run_ok = AutoSequence(ctx, steps);
    ok = run_ok;
    if (!args.bulk) return;
    // A chip finished before the Ctrl-C still counts; one stopped half-way does not.
    if (s.Interrupted() && !run_ok) {
      interrupted_chip = true;
      return;
    }
    // The worker then waits for the next chip, on one refreshed "waiting for a chip".
    finish_chip(run_ok, s.host().LastStatus());
  });

  if (args.bulk) {
    if (!s.host().Confirm(BulkQuestion(program.SettingsMenu()))) return kExitFailed;
    program.Bulk().Press();  // refuses, with its message, without "Auto Recognize"
    if (state.bulk_mode.load() == 0) return s.Interrupted() ? s.InterruptedExit() : kExitFailed;
  } else {
    program.TheWorker().Give(w::kAuto);
  }
  program.TheWorker().RunUntilIdle();
  const bool interrupted = s.Interrupted();

  if (!args.bulk) {
    if (interrupted) ok = false;
    if (json)
      std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(s.host().LastStatus())
                << ",\"file\":" << JsonString(args.file)
                << (interrupted ? ",\"interrupted\":true" : "") << "}\n";
    if (interrupted) return s.InterruptedExit();
    return ok ? kExitOk : kExitFailed;
  }
  int passed = 0;
  for (const ChipResult& r : chips) passed += r.ok ? 1 : 0;
  const int failed = static_cast<int>(chips.size()) - passed;
  const bool all_ok = !chips.empty() && failed == 0 && !interrupted;
  if (json) {
    std::cout << "{\"ok\":" << JsonBool(all_ok)
              << ",\"status\":" << JsonString(s.host().LastStatus())
              << ",\"file\":" << JsonString(args.file) << ",\"passed\":" << passed
              << ",\"failed\":" << failed << ",\"interrupted\":" << JsonBool(interrupted)
              << ",\"chips\":[";
    for (std::size_t i = 0; i < chips.size(); ++i) {
      const ChipResult& r = chips[i];
      std::cout << (i ? "," : "") << "{\"chip\":" << r.number << ",\"ok\":" << JsonBool(r.ok)
                << ",\"simulated_chip\":" << r.socket << ",\"status\":" << JsonString(r.status)
                << "}";
    }
    std::cout << "]}\n";
  } else {
    s.host().BreakLine();
    if (interrupted_chip)
      std::cout << "chip " << chips.size() + 1 << ": interrupted, not counted\n";
    std::cout << "passed: " << passed << "  failed: " << failed << "\n";
  }
  if (interrupted) return s.InterruptedExit();
  return all_ok ? kExitOk : kExitFailed;
}

int RunChipCommand(Context& c, ChipCommand command) {
  ChipArgs args;
  if (const std::string error = ParseChipArgs(command, c.options().args, args); !error.empty())
    return UsageError(error);
  if (args.swap_given && !c.options().simulate) return UsageError("--sim-swap needs --simulate");
  const CommandInfo info = Info(command);
  const bool json = c.options().json;
  const auto refuse_file = [&] {
    if (json)
      std::cout << "{\"ok\":false,\"status\":\"\",\"file\":" << JsonString(args.file) << "}\n";
    return kExitFailed;
  };
  const bool reads_file = info.needs_file && command != ChipCommand::kRead;
  std::vector<NamedFile> inputs, outputs;
  if (reads_file) inputs.push_back({"", args.file});
  if (command == ChipCommand::kRead) outputs.push_back({"", args.file});
  if (!c.CheckFiles(inputs, outputs, true, true)) return refuse_file();
  // A whole chip can take minutes to read: a file that cannot be written is said first.
  std::optional<ReadOutput> read_output;
  if (command == ChipCommand::kRead) {
    read_output.emplace(args.file);
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

  // The user's file itself is streamed, read-only; the chip's size is known by now.
  std::unique_ptr<FileSource> source;
  if (reads_file) {
    std::string why;
    source = FileSource::Open(args.file, state.chip_capacity.load(), &why);
    if (!source) {
      s.host().BreakLine();
      std::cerr << "tarvix-cli: " << args.file << ": " << why << "\n";
      return refuse_file();
    }
    ctx.source = source.get();
  }
  if (read_output) {
    ctx.read_sink = &*read_output;
    // A second Ctrl-C leaves without unwinding: the session removes the file then.
    s.SetPartialFile(read_output->TemporaryPath());
  }
  if (command == ChipCommand::kAuto) return RunAuto(c, s, args);

  // Each command's routine keeps its result for the report.
  int test_result = kNoProgrammer;
  bool ok = false;
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
      operation = [&] { ok = WriteChip(ctx, true); };
      break;
    case ChipCommand::kVerify:
      operation = [&] { ok = VerifyChip(ctx, true); };
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
  // A run the user stopped is not a success, whatever the operation made of it.
  const bool interrupted = s.Interrupted();
  if (interrupted) ok = false;

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
            << ",\"bytes\":" << (saved ? read_output->Written() : 0);
        break;
      case ChipCommand::kWrite:
      case ChipCommand::kVerify:
        out << ",\"file\":" << JsonString(args.file) << ",\"bytes\":" << source->Size()
            << ",\"file_sum\":" << JsonString(FormatSum(source->FileSum()))
            << ",\"chip_sum\":" << JsonString(FormatSum(source->ChipSum()));
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
  } else if (command == ChipCommand::kRead && saved) {
    std::cout << args.file << ": " << read_output->Written() << " bytes\n";
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
const Registration kRead{{"read", "read FILE              read the whole chip into FILE",
                          [](Context& c) { return RunChipCommand(c, ChipCommand::kRead); }}};
const Registration kWrite{
    {"write",
     "write FILE             program FILE into the chip WITHOUT erasing it first (an SPI\n"
     "                         FLASH must be blank: use erase first, or auto, which erases,\n"
     "                         writes and verifies)",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kWrite); }}};
const Registration kVerify{{"verify", "verify FILE            compare the chip with FILE",
                            [](Context& c) { return RunChipCommand(c, ChipCommand::kVerify); }}};
const Registration kErase{{"erase", "erase                  erase the chip",
                           [](Context& c) { return RunChipCommand(c, ChipCommand::kErase); }}};
const Registration kBlank{{"blank", "blank                  blank check",
                           [](Context& c) { return RunChipCommand(c, ChipCommand::kBlank); }}};
const Registration kAuto{
    {"auto",
     "auto FILE [--bulk [N]] [--sim-swap MS]\n"
     "                         erase, write and verify; --bulk: one chip after another (N\n"
     "                         chips, or until Ctrl-C), asking once before the first;\n"
     "                         --sim-swap: the simulated operator swaps chips MS ms after\n"
     "                         each (default 2000, at least 1000)",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kAuto); }}};

}  // namespace
}  // namespace tarvix::cli
