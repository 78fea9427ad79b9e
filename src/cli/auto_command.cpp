// SPDX-License-Identifier: GPL-3.0-or-later
// auto: erase, write and verify one chip, or with --bulk one chip after another, each
// run (and with --log recorded) as one chip of a production run, stamped with its
// serial number when asked.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buffer/load_file_format.h"
#include "cli/chip_commands.h"
#include "cli/production_output.h"
#include "operations/auto_sequence.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace tarvix::cli {
namespace {

namespace w = worker_command;

// The simulated operator of a bulk run: some time after each chip is done it takes
// the chip out and, as long again later, puts a fresh one from the same box in. With
// a folder for its box, chip number N lives in the file "chip-N.img" there: a blank
// new chip when there is no such file, and its contents stay there afterwards.
class SimOperator {
 public:
  SimOperator(sim::SimBus& bus, sim::ChipDescription chip, std::int64_t swap_ms,
              std::filesystem::path box)
      : bus_(bus),
        chip_(std::move(chip)),
        swap_ms_(swap_ms),
        box_(std::move(box)),
        state_(std::make_shared<State>()) {}

  // Number of the chip now in the socket (1 for the one there at the start, 0 while
  // the socket is empty).
  [[nodiscard]] int InSocket() const { return state_->in_socket; }

  void ChipDone() {
    auto state = state_;
    const std::int64_t half = swap_ms_ / 2;
    bus_.At(bus_.clock().NowMs() + half, [state, half, chip = chip_, box = box_](sim::SimBus& bus) {
      bus.Programmer().RemoveChip();
      state->in_socket = 0;
      // The socket stays empty for a while, however late the removal came.
      bus.At(bus.clock().NowMs() + half, [state, chip, box](sim::SimBus& later) {
        auto next = std::make_unique<sim::VirtualChip>(chip);
        const int number = state->inserted + 1;
        std::string error;
        if (!box.empty() &&
            !next->UseImageFile(box / ("chip-" + std::to_string(number) + ".img"), &error))
          std::cerr << "tarvix-cli: --sim-chips: " << error << "\n";
        later.Programmer().InsertChip(std::move(next));
        state->in_socket = state->inserted = number;
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
  std::filesystem::path box_;
  std::shared_ptr<State> state_;
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

std::string SerialJson(const std::optional<std::uint64_t>& serial) {
  return serial ? std::to_string(*serial) : "null";
}

}  // namespace

int RunAuto(Context& c, ChipSession& s, const ChipArgs& args, ChipRun& run) {
  const bool json = c.options().json;
  Program& program = s.program();
  OperationContext& ctx = s.ctx();
  MainState& state = program.State();
  ProductionStation& station = *run.station;
  struct ChipResult {
    int number;
    bool ok;
    int socket;  // simulated chip number, 0 with a real programmer
    std::string status;
    std::optional<std::uint64_t> serial;
  };
  std::vector<ChipResult> chips;
  bool interrupted_chip = false;
  std::optional<SimOperator> sim_operator;
  Device& device = s.device();
  if (args.bulk && device.sim != nullptr && device.sim->Programmer().chip() != nullptr)
    sim_operator.emplace(*device.sim, device.sim->Programmer().chip()->description(), args.swap_ms,
                         args.sim_chips);
  const AutoSteps steps = InterruptibleSteps(s);
  bool ok = false;
  std::string log_error;  // the log stopped the run

  const auto finish_chip = [&](bool run_ok, std::string status) {
    ChipResult r{static_cast<int>(chips.size()) + 1, run_ok,
                 sim_operator ? sim_operator->InSocket() : 0, std::move(status),
                 station.LastSerial()};
    if (!json) {
      s.host().BreakLine();
      std::cout << "chip " << r.number << ": " << (r.ok ? "pass" : "fail");
      if (r.socket > 0) std::cout << " (simulated chip #" << r.socket << ")";
      if (r.serial) std::cout << "  serial " << *r.serial;
      std::cout << "  " << r.status << std::endl;
    }
    chips.push_back(std::move(r));
    if (!log_error.empty() ||
        (args.bulk_count > 0 && static_cast<std::int64_t>(chips.size()) >= args.bulk_count))
      state.bulk_mode = 0;
    else if (sim_operator)
      sim_operator->ChipDone();
  };
  // A chip the log could not take ends the run: no chip is programmed that nobody
  // can trace.
  const auto log_failed = [&](const std::string& status) {
    s.host().BreakLine();
    std::cerr << "tarvix-cli: " << log_error << "\n";
    if (args.bulk && station.LastChipRan())
      finish_chip(false, "not in the production log: " + status);
    state.bulk_mode = 0;
  };

  program.SetOperation(w::kAuto, [&] {
    // Every chip after the first must be the run's chip too; one that is not is
    // recorded as failed, untouched.
    if (args.bulk && !chips.empty() && !s.Interrupted()) {
      const std::string refusal = s.CheckSwappedChip();
      if (!refusal.empty()) {
        s.host().BreakLine();
        std::cerr << "tarvix-cli: " << refusal << "\n";
        run.refusal = refusal;
        const ChipOutcome outcome = station.RunChip([] { return false; }, &log_error);
        run.refusal.clear();
        if (outcome == ChipOutcome::kRunStopped) return log_failed(refusal);
        finish_chip(false, refusal);
        return;
      }
    }
    const ChipOutcome outcome =
        station.RunChip([&] { return AutoSequence(ctx, steps); }, &log_error);
    const bool run_ok = outcome == ChipOutcome::kPassed;
    ok = run_ok;
    if (outcome == ChipOutcome::kRunStopped) return log_failed(s.host().LastStatus());
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
    // What every chip gets, to compare with the release sheet before the first is done.
    if (!json) std::cout << SumsLine("image", run.image_sums) << std::flush;
    program.Bulk().Press();  // refuses, with its message, without "Auto Recognize"
    if (state.bulk_mode.load() == 0) return s.Interrupted() ? s.InterruptedExit() : kExitFailed;
  } else {
    program.TheWorker().Give(w::kAuto);
  }
  program.TheWorker().RunUntilIdle();
  const bool interrupted = s.Interrupted();
  const std::string image_json =
      ",\"file\":" + JsonString(args.file) +
      ",\"format\":" + JsonString(FormatName({run.format, 0})) + SumsJson("image", run.image_sums) +
      (log_error.empty() ? "" : ",\"log_error\":" + JsonString(log_error));
  if (!args.bulk) {
    if (!json) std::cout << SumsLine("image", run.image_sums);
    if (interrupted || !log_error.empty()) ok = false;
    if (json)
      std::cout << "{\"ok\":" << JsonBool(ok) << ",\"status\":" << JsonString(s.host().LastStatus())
                << image_json << (interrupted ? ",\"interrupted\":true" : "") << "}\n";
    if (interrupted) return s.InterruptedExit();
    return ok ? kExitOk : kExitFailed;
  }
  int passed = 0;
  for (const ChipResult& r : chips) passed += r.ok ? 1 : 0;
  const int failed = static_cast<int>(chips.size()) - passed;
  const bool all_ok = !chips.empty() && failed == 0 && !interrupted && log_error.empty();
  if (json) {
    std::cout << "{\"ok\":" << JsonBool(all_ok)
              << ",\"status\":" << JsonString(s.host().LastStatus()) << image_json
              << ",\"passed\":" << passed << ",\"failed\":" << failed
              << ",\"interrupted\":" << JsonBool(interrupted) << ",\"chips\":[";
    for (std::size_t i = 0; i < chips.size(); ++i) {
      const ChipResult& r = chips[i];
      std::cout << (i ? "," : "") << "{\"chip\":" << r.number << ",\"ok\":" << JsonBool(r.ok)
                << ",\"simulated_chip\":" << r.socket << ",\"serial\":" << SerialJson(r.serial)
                << ",\"status\":" << JsonString(r.status) << "}";
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

}  // namespace tarvix::cli
