// SPDX-License-Identifier: GPL-3.0-or-later
// One chip of a production run through a chip operation: its serial number reserved
// and patched into the data the operation sends and compares, the operation run, and
// the chip recorded before the next one may start.
#pragma once

#include <functional>
#include <string>

#include "operations/operation_context.h"
#include "production/production_run.h"

namespace tarvix {

enum class ChipOutcome : std::uint8_t {
  kPassed,
  kFailed,
  kRunStopped,  // the log or the counter failed: no further chip may be programmed
};

// Runs `operation` (the auto sequence, a write or a verify on `ctx`) for one chip of
// `run`. While it runs, the context's image is stamped with the chip's serial number.
// `result_text` gives the operation's last status text for the log. kRunStopped, with
// `error`, when the chip cannot be begun or recorded.
[[nodiscard]] ChipOutcome RunProductionChip(OperationContext& ctx, ProductionRun& run,
                                            const ChipIdentity& chip,
                                            const std::function<bool()>& operation,
                                            const std::function<std::string()>& result_text,
                                            std::string* error);

}  // namespace tarvix
