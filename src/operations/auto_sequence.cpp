// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/auto_sequence.h"

#include <optional>

#include "device/command_protocol.h"
#include "device/operation_clock.h"
#include "operations/erase.h"
#include "operations/pre_check.h"
#include "operations/verify.h"
#include "operations/write.h"

namespace tarvix {

AutoSteps ChipAutoSteps(OperationContext& ctx) {
  return {[&ctx](bool pre_check) { return EraseChip(ctx, pre_check); },
          [&ctx](bool pre_check, bool overflow_accepted) {
            return WriteChip(ctx, pre_check, overflow_accepted);
          },
          [&ctx](bool pre_check) { return VerifyChip(ctx, pre_check); }};
}

std::string AutoFinishedText(bool erased, bool wrote, bool verified, std::int64_t elapsed_seconds) {
  std::string text = "Auto ";
  if (erased) text += "Erase ";
  if (wrote) text += "Write ";
  if (verified) text += "Verify ";
  return text + "finished," + FormatElapsed(elapsed_seconds);
}

std::string AutoStoppedText(const char* step, std::int64_t elapsed_seconds) {
  return std::string(kAutoStoppedIn) + step + " step," + FormatElapsed(elapsed_seconds);
}

void AutoStepPause(OperationContext& ctx) {
  (void)SendCommand(ctx.link, ctx.packet, command_code::kResetParameters, kAutoPauseTimeoutMs);
  ctx.clock.SleepMs(kAutoPauseResetWaitMs);
  // Code 25 made the programmer forget the chip; the packet gets it back whole.
  std::uint32_t capacity = 0;
  if (ctx.packet.LoadChipParameters(ctx.catalogue, ctx.state.selected_chip_index.load(), &capacity))
    ctx.state.chip_capacity.store(capacity);
  (void)SendCommand(ctx.link, ctx.packet, command_code::kSetParameters, kAutoPauseTimeoutMs);
  ctx.clock.SleepMs(kAutoPauseParametersWaitMs);
}

bool AutoSequence(OperationContext& ctx, const AutoSteps& steps) {
  ctx.host.ClearLog();
  if (RefuseInDfuMode(ctx)) return false;
  const ByteSource* image = OperationImage(ctx);
  if (image == nullptr) {
    ctx.host.ShowStatus(kFileNotOpened, true, false);
    ctx.host.MessageBox(kAutoNoImageBox, "info", BoxIcon::kWarning, BoxButtons::kOk);
    return false;
  }

  const bool bulk = ctx.state.bulk_mode.load() != 0;
  const auto chosen = [&](SettingItem item) { return !bulk || ctx.settings.IsOn(item); };
  // The elapsed time comes from the monotonic clock: a run that passes midnight
  // still shows its real duration.
  const OperationClock started(ctx.clock);
  bool pre_check = true;
  bool erased = false, wrote = false, verified = false;
  bool last = true;

  // The write would ask about an image longer than the chip only after the erase, and
  // a No there would leave a blank chip: ask before anything touches it.
  std::optional<std::uint32_t> overflow_accepted_for;
  const std::uint32_t capacity = ctx.state.chip_capacity.load();
  if (chosen(SettingItem::kBulkWrite) && image->Size() > capacity) {
    if (ctx.host.MessageBox(kWriteOverflowQuestion, "info", BoxIcon::kQuestion,
                            BoxButtons::kYesNo) != BoxAnswer::kYes) {
      ctx.host.ShowStatus(kAutoOverflowRefused, true, false);
      return false;
    }
    overflow_accepted_for = capacity;
  }

  // A stopped step ends the run: a write after a stopped erase, or a verify after a
  // stopped write, would only pile errors on what the user asked to end.
  const auto stopped = [&](const std::atomic<std::uint8_t>& request, const char* step) {
    if (request.load() == 0) return false;
    ctx.host.ShowStatus(AutoStoppedText(step, started.ElapsedSeconds()), true, false);
    return true;
  };
  if (chosen(SettingItem::kBulkErase)) {
    const bool ok = steps.erase(pre_check);
    erased = true;
    pre_check = false;
    if (stopped(ctx.state.stop_erase, "erase") || !ok) return false;
  }
  if (chosen(SettingItem::kBulkWrite)) {
    if (erased) AutoStepPause(ctx);
    // The answer holds for the chip it was given for; should the erase's chip test
    // have selected another chip, the write asks again.
    last = steps.write(pre_check, overflow_accepted_for == ctx.state.chip_capacity.load());
    wrote = true;
    pre_check = false;
    if (stopped(ctx.state.stop_write, "write")) return false;
  }
  if (last && chosen(SettingItem::kBulkVerify)) {
    if (erased && !wrote) AutoStepPause(ctx);
    last = steps.verify(pre_check);
    verified = true;
    if (stopped(ctx.state.stop_verify, "verify")) return false;
  }
  if (!last) return false;

  if (bulk) ctx.state.bulk_success_count.fetch_add(1);
  ctx.host.ShowStatus(AutoFinishedText(erased, wrote, verified, started.ElapsedSeconds()), false,
                      false);
  PlayRemindSound(ctx, ctx.state.paths.finish_sound);
  return true;
}

}  // namespace tarvix
