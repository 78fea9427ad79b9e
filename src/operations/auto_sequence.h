// SPDX-License-Identifier: GPL-3.0-or-later
// Auto (worker command 14): erase, write and verify the chip from the loaded image in
// one run. Outside bulk mode all three steps run; in bulk mode the "Bulk Process"
// settings choose them. Only the first step that runs checks the chip and asks the
// user; between steps the programmer's parameters are reset and sent again.
#pragma once

#include <functional>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr char kAutoNoImageBox[] = "file is not opened!      ";
// The user would not write an image longer than the chip: nothing was done to it.
inline constexpr char kAutoOverflowRefused[] =
    "file length is out of the chip range! auto stopped,chip not touched";
// A step was stopped by the user (or by close): the rest of the run does not happen.
inline constexpr char kAutoStoppedIn[] = "Auto stopped in its ";
// Time-outs and waits of the pause between two steps.
inline constexpr int kAutoPauseTimeoutMs = 1000;
inline constexpr int kAutoPauseResetWaitMs = 20;
inline constexpr int kAutoPauseParametersWaitMs = 50;

// The three steps; each takes the pre-check flag and returns its success. The write
// is also told whether the user has already agreed to an image longer than the chip.
struct AutoSteps {
  std::function<bool(bool pre_check)> erase;
  std::function<bool(bool pre_check, bool overflow_accepted)> write;
  std::function<bool(bool pre_check)> verify;
};

// EraseChip, WriteChip and VerifyChip on `ctx`.
[[nodiscard]] AutoSteps ChipAutoSteps(OperationContext& ctx);

// "Auto " + "Erase " / "Write " / "Verify " for each step that ran + "finished,%d:%d".
[[nodiscard]] std::string AutoFinishedText(bool erased, bool wrote, bool verified,
                                           std::int64_t elapsed_seconds);

// "Auto stopped in its erase|write|verify step,%d:%d" (red).
[[nodiscard]] std::string AutoStoppedText(const char* step, std::int64_t elapsed_seconds);

// The auto routine. True when every step that ran succeeded; then, in bulk mode, the
// bulk success counter is one higher. A stop of any step ends the whole run there,
// with one red line naming the step.
[[nodiscard]] bool AutoSequence(OperationContext& ctx, const AutoSteps& steps);
[[nodiscard]] inline bool AutoSequence(OperationContext& ctx) {
  return AutoSequence(ctx, ChipAutoSteps(ctx));
}

// The pause between two steps: code 25, the selected chip's parameters again, code 0.
void AutoStepPause(OperationContext& ctx);

}  // namespace tarvix
