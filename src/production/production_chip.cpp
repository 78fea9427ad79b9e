// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/production_chip.h"

#include <optional>

#include "production/stamping_source.h"

namespace tarvix {

ChipOutcome RunProductionChip(OperationContext& ctx, ProductionRun& run, const ChipIdentity& chip,
                              const std::function<bool()>& operation,
                              const std::function<std::string()>& result_text, std::string* error) {
  if (!run.BeginChip(error)) return ChipOutcome::kRunStopped;
  const ByteSource* const previous = ctx.source;
  const ByteSource* const image = OperationImage(ctx);
  std::optional<StampingSource> stamped;
  if (run.Patch() && image != nullptr) {
    stamped.emplace(*image, *run.Patch());
    ctx.source = &*stamped;
  }
  bool passed = false;
  try {
    passed = operation();
  } catch (...) {
    ctx.source = previous;
    run.AbandonChip();
    throw;
  }
  // The context gets its own image back: the stamped one lives only for this chip.
  ctx.source = previous;
  if (!run.EndChip(chip, passed, result_text(), error)) return ChipOutcome::kRunStopped;
  return passed ? ChipOutcome::kPassed : ChipOutcome::kFailed;
}

}  // namespace tarvix
