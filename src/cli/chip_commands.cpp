// detect, read, write, verify, erase, blank, auto: the chip operations, run through
// the same Program (start-up, worker, operations) as the window. The worker runs on
// the calling thread (Worker::RunUntilIdle), so a command runs exactly as the worker
// would run it, after-run steps included, and the tool ends when the worker goes idle.
//
// The private files ("kest2.dll", "k_est0.dll", "k_est1.dll", the operation log) live
// in the current directory, as for the window.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/program.h"
#include "buffer/stream_copy.h"
#include "cli/cli_context.h"
#include "cli/cli_host.h"
#include "cli/device_setup.h"
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

// What Ctrl-C reaches: the bulk flag and the running operation's stop request.
std::atomic<std::uint8_t>* g_bulk_flag = nullptr;
std::atomic<std::uint8_t>* g_stop_flag = nullptr;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  // Lock-free atomics: safe in a signal handler.
  if (g_bulk_flag != nullptr) g_bulk_flag->store(0);
  if (g_stop_flag != nullptr) g_stop_flag->store(1);
}

// Ctrl-C ends bulk mode after the chip under way, and asks a single operation to stop.
class InterruptScope {
 public:
  InterruptScope(std::atomic<std::uint8_t>* bulk, std::atomic<std::uint8_t>* stop) {
    g_interrupted = 0;
    g_bulk_flag = bulk;
    g_stop_flag = stop;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptScope() {
    ::sigaction(SIGINT, &previous_, nullptr);
    g_bulk_flag = nullptr;
    g_stop_flag = nullptr;
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction previous_ {};
};

// The tool's host. A verify that finds a run of differences would ask once per byte;
// with --yes the first difference is shown and the rest are only counted.
class ChipHost final : public CliHost {
 public:
  using CliHost::CliHost;
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override {
    if (yes_ && buttons == BoxButtons::kYesNoCancel && title == kVerifyMismatchTitle) {
      if (mismatch_shown_) return BoxAnswer::kNo;
      mismatch_shown_ = true;
      CliHost::MessageBox(text, title, icon, BoxButtons::kOk);
      return BoxAnswer::kNo;
    }
    return CliHost::MessageBox(text, title, icon, buttons);
  }
  void SetYes(bool yes) { yes_ = yes; }

 private:
  bool yes_ = false;
  bool mismatch_shown_ = false;
};

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

std::string JsonBool(bool b) {
  return b ? "true" : "false";
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

// Copies the chip data file to the user's file, through a file beside it, so a
// failure never leaves half a file under the user's name.
bool SaveChipData(const std::filesystem::path& from, const std::filesystem::path& to) {
  UniqueFd in = OpenRegularForReading(from);
  if (!in.Valid()) return false;
  const std::int64_t length = FileLength(in.Get());
  const std::filesystem::path part = to.string() + ".part";
  UniqueFd out = CreateTruncated(part);
  if (length < 0 || !out.Valid()) return false;
  const bool ok =
      CopyRange(in.Get(), 0, static_cast<std::uint64_t>(length), out.Get(), 0) == CopyResult::kOk &&
      out.Close();
  std::error_code ec;
  if (ok) std::filesystem::rename(part, to, ec);
  if (!ok || ec) {
    std::filesystem::remove(part, ec);
    return false;
  }
  return true;
}

int RunChipCommand(Context& c, ChipCommand command) {
  ChipArgs args;
  if (const std::string error = ParseChipArgs(command, c.options().args, args); !error.empty())
    return UsageError(error);
  if (args.swap_given && !c.options().simulate) return UsageError("--sim-swap needs --simulate");
  const CommandInfo info = Info(command);
  const bool json = c.options().json;

  if (c.catalogue().Count() == 0 && !c.LoadCatalogue()) return kExitFailed;
  std::optional<Device> device = MakeDevice(c);
  if (!device) return kExitFailed;

  ChipHost host(CliHostOptions::FromTerminal(c.options().yes));
  host.SetYes(c.options().yes);
  ProgramOptions options;
  options.base = std::filesystem::current_path();
  options.catalogue = &c.catalogue();
  options.worker_thread = false;
  options.device_change_notices = false;
  Program program(options, *device->backend, *device->clock, host);
  OperationContext& ctx = program.Context();
  MainState& state = program.State();
  Worker& worker = program.TheWorker();

  program.StartUp();
  const Options& o = c.options();
  if (o.type || o.manufacturer || o.chip) {
    // The record the user named stays selected: no recognition at start-up.
    program.Selection().SelectRecord(c.state().selected_chip_index.load());
    state.command_code = w::kIdle;
  } else {
    worker.RunUntilIdle();
  }

  // Each command's routine keeps its result for the report.
  int test_result = kNoProgrammer;
  bool ok = false;
  switch (command) {
    case ChipCommand::kDetect:
      program.SetOperation(info.code, [&] {
        test_result = ChipTest(ctx);
        ok = test_result >= 0;
      });
      break;
    case ChipCommand::kRead:
      program.SetOperation(info.code, [&] { ok = ReadChip(ctx); });
      break;
    case ChipCommand::kWrite:
      program.SetOperation(info.code, [&] { ok = WriteChip(ctx, true); });
      break;
    case ChipCommand::kVerify:
      program.SetOperation(info.code, [&] { ok = VerifyChip(ctx, true); });
      break;
    case ChipCommand::kErase:
      program.SetOperation(info.code, [&] { ok = EraseChip(ctx, true); });
      break;
    case ChipCommand::kBlank:
      program.SetOperation(info.code, [&] { ok = BlankCheck(ctx); });
      break;
    case ChipCommand::kAuto:
      break;
  }

  if (command == ChipCommand::kWrite || command == ChipCommand::kVerify ||
      command == ChipCommand::kAuto) {
    if (!std::filesystem::exists(args.file)) {
      std::cerr << "tarvix-cli: cannot open " << args.file << "\n";
      return kExitFailed;
    }
    if (!program.Files().Load(args.file, true)) {
      if (json)
        std::cout << "{\"ok\":false,\"status\":" << JsonString(host.LastStatus())
                  << ",\"file\":" << JsonString(args.file) << "}\n";
      return kExitFailed;
    }
  }

  // ---- auto, once or in bulk ---------------------------------------------------
  if (command == ChipCommand::kAuto) {
    struct ChipResult {
      int number;
      bool ok;
      int socket;  // simulated chip number, 0 with a real programmer
      std::string status;
    };
    std::vector<ChipResult> chips;
    std::optional<SimOperator> sim_operator;
    if (args.bulk && device->sim != nullptr && device->sim->Programmer().chip() != nullptr)
      sim_operator.emplace(*device->sim, device->sim->Programmer().chip()->description(),
                           args.swap_ms);
    program.SetOperation(w::kAuto, [&] {
      const bool run_ok = AutoSequence(ctx);
      ok = run_ok;
      if (!args.bulk) return;
      ChipResult r{static_cast<int>(chips.size()) + 1, run_ok,
                   sim_operator ? sim_operator->InSocket() : 0, host.LastStatus()};
      if (!json) {
        std::cout << "chip " << r.number << ": " << (r.ok ? "pass" : "fail");
        if (r.socket > 0) std::cout << " (simulated chip #" << r.socket << ")";
        std::cout << "  " << r.status << std::endl;
      }
      chips.push_back(std::move(r));
      if (args.bulk_count > 0 && static_cast<std::int64_t>(chips.size()) >= args.bulk_count)
        state.bulk_mode = 0;
      else if (sim_operator)
        sim_operator->ChipDone();
    });

    InterruptScope interrupt(&state.bulk_mode, nullptr);
    if (args.bulk) {
      program.Bulk().Press();  // refuses, with its message, without "Auto Recognize"
      if (state.bulk_mode.load() == 0) return kExitFailed;
    } else {
      worker.Give(w::kAuto);
    }
    worker.RunUntilIdle();

    if (!args.bulk) {
      if (json)
        std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(host.LastStatus())
                  << ",\"file\":" << JsonString(args.file) << "}\n";
      return ok ? kExitOk : kExitFailed;
    }
    int passed = 0;
    for (const ChipResult& r : chips) passed += r.ok ? 1 : 0;
    const int failed = static_cast<int>(chips.size()) - passed;
    const bool all_ok = !chips.empty() && failed == 0;
    if (json) {
      std::cout << "{\"ok\":" << JsonBool(all_ok) << ",\"status\":" << JsonString(host.LastStatus())
                << ",\"file\":" << JsonString(args.file) << ",\"passed\":" << passed
                << ",\"failed\":" << failed << ",\"interrupted\":" << JsonBool(g_interrupted != 0)
                << ",\"chips\":[";
      for (std::size_t i = 0; i < chips.size(); ++i) {
        const ChipResult& r = chips[i];
        std::cout << (i ? "," : "") << "{\"chip\":" << r.number << ",\"ok\":" << JsonBool(r.ok)
                  << ",\"simulated_chip\":" << r.socket << ",\"status\":" << JsonString(r.status)
                  << "}";
      }
      std::cout << "]}\n";
    } else {
      std::cout << "passed: " << passed << "  failed: " << failed << "\n";
    }
    return all_ok ? kExitOk : kExitFailed;
  }

  // ---- the other commands: one run --------------------------------------------------
  std::atomic<std::uint8_t>* stop = nullptr;
  switch (command) {
    case ChipCommand::kRead:
      stop = &state.stop_read;
      break;
    case ChipCommand::kWrite:
      stop = &state.stop_write;
      break;
    case ChipCommand::kVerify:
      stop = &state.stop_verify;
      break;
    case ChipCommand::kErase:
      stop = &state.stop_erase;
      break;
    case ChipCommand::kBlank:
      stop = &state.stop_blank;
      break;
    default:
      break;
  }
  {
    InterruptScope interrupt(nullptr, stop);
    if (stop != nullptr) stop->store(0);
    worker.Give(info.code);
    worker.RunUntilIdle();
  }
  // A run the user stopped is not a success, whatever the operation made of it.
  const bool interrupted = g_interrupted != 0;
  if (interrupted) ok = false;

  bool saved = false;
  if (command == ChipCommand::kRead && ok) {
    saved = SaveChipData(state.paths.chip_data, args.file);
    if (!saved) {
      std::cerr << "tarvix-cli: cannot write " << args.file << "\n";
      ok = false;
    }
  }

  const ChipRecord* record = program.Selection().CurrentRecord();
  if (json) {
    std::ostringstream out;
    out << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(host.LastStatus());
    if (interrupted) out << ",\"interrupted\":true";
    switch (command) {
      case ChipCommand::kDetect:
        out << ",\"result\":" << test_result;
        break;
      case ChipCommand::kRead:
        out << ",\"file\":" << JsonString(args.file)
            << ",\"bytes\":" << (saved ? program.Image().Size() : 0);
        break;
      case ChipCommand::kWrite:
      case ChipCommand::kVerify:
        out << ",\"file\":" << JsonString(args.file) << ",\"bytes\":" << program.Image().Size();
        break;
      case ChipCommand::kBlank:
        out << ",\"blank\":" << JsonBool(ok);
        break;
      default:
        break;
    }
    if (record != nullptr)
      out << ",\"chip\":{\"type\":" << JsonString(record->type)
          << ",\"manufacturer\":" << JsonString(record->manufacturer)
          << ",\"model\":" << JsonString(record->model)
          << ",\"capacity_bytes\":" << state.chip_capacity.load() << "}";
    out << "}\n";
    std::cout << out.str();
  } else if (command == ChipCommand::kDetect) {
    std::cout << "result: " << test_result << "\n";
    if (record != nullptr)
      std::cout << "type: " << record->type << "\nmanufacturer: " << record->manufacturer
                << "\nchip: " << record->model << "\n";
  } else if (command == ChipCommand::kRead && saved) {
    std::cout << args.file << ": " << program.Image().Size() << " bytes\n";
  }
  return ok ? kExitOk : kExitFailed;
}

const Registration kDetect{
    {"detect", "detect                 chip test; the result code and the selected chip",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kDetect); }}};
const Registration kRead{{"read", "read FILE              read the chip into FILE",
                          [](Context& c) { return RunChipCommand(c, ChipCommand::kRead); }}};
const Registration kWrite{{"write", "write FILE             write FILE to the chip",
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
     "                         erase, write and verify; --bulk: one chip after another (N "
     "chips,\n"
     "                         or until Ctrl-C); --sim-swap: the simulated operator swaps "
     "chips\n"
     "                         MS ms after each (default 2000, at least 1000)",
     [](Context& c) { return RunChipCommand(c, ChipCommand::kAuto); }}};

}  // namespace
}  // namespace tarvix::cli
