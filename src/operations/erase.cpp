// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/erase.h"

#include <array>
#include <cstdint>
#include <string>

#include "device/command_protocol.h"
#include "device/operation_clock.h"
#include "device/version_notice.h"
#include "operations/operation_controls.h"
#include "operations/pre_check.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

constexpr std::uint8_t kEraseDone = 6;
constexpr int kCommandTimeoutMs = 1000;
constexpr int kDoneReadTimeoutMs = 1000;
constexpr int kDrainTimeoutMs = 10;
// A device that keeps answering the drain must not hold the erase forever; this is
// far more than the receive area could hold.
constexpr int kMaxDrainReads = 8192;

}  // namespace

bool EraseChip(OperationContext& ctx, bool pre_check) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  state.stop_erase = 0;
  if (RefuseInDfuMode(ctx)) return false;
  if (state.busy_erasing.load()) return false;

  if (pre_check) {
    if (!RunPreCheck(ctx)) return false;
    if (!state.bulk_mode.load() && !host.Confirm(kEraseConfirmText)) return false;
    ShowVersionNotice(host, ctx.selection.CurrentRecord());
  }

  state.busy_erasing = 1;
  GrayOperationControls(host, RunningOperation::kErase);
  host.ShowStatus("chip is erasing...", false, false);
  std::array<std::uint8_t, 64> reply{};
  const OperationClock clock(ctx.clock);

  // Whatever an earlier command left on the bulk-in pipe would be taken for the mark.
  for (int i = 0; i < kMaxDrainReads; ++i) {
    if (ctx.link.BulkRead(reply.data(), 1, kDrainTimeoutMs) < 0) break;
  }

  bool sent = SendCommand(ctx.link, ctx.packet, command_code::kErase, kCommandTimeoutMs);
  for (int tries = 1; !sent && tries < kEraseSendTries && !state.stop_erase.load(); ++tries)
    sent = SendCommand(ctx.link, ctx.packet, command_code::kErase, kCommandTimeoutMs);

  bool success = false;
  if (!sent) {
    host.ShowStatus("device connect error", true, true);
  } else {
    reply[0] = 0;
    int last_read = 0;
    for (int reads = 0; reads < kEraseDoneReads && !state.stop_erase.load();) {
      last_read = ctx.link.BulkRead(reply.data(), 1, kDoneReadTimeoutMs);
      ++reads;
      if (last_read > 0 && reply[0] == kEraseDone) break;
    }
    if (state.stop_erase.load()) {
      host.ShowStatus("erase finished", false, false);
      (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kCommandTimeoutMs);
    } else if (last_read > 0 && reply[0] == kEraseDone) {
      host.ShowStatus("erase succeed." + clock.ElapsedText(), false, false);
      success = true;
      (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kCommandTimeoutMs);
      PlayRemindSound(ctx, state.paths.delete_sound);
    } else {
      // Either the link failed or the programmer never said it was done: not erased.
      host.ShowStatus("device connect error", true, true);
    }
  }

  RestoreOperationControls(ctx, RunningOperation::kErase);
  state.busy_erasing = 0;
  ctx.clock.SleepMs(50);

  if (state.stop_erase.load()) {
    // Leave the programmer ready for the next step with the chip's parameters.
    (void)SendCommand(ctx.link, ctx.packet, command_code::kEndOperation, kCommandTimeoutMs);
    ctx.clock.SleepMs(10);
    (void)SendCommand(ctx.link, ctx.packet, command_code::kResetParameters, kCommandTimeoutMs);
    ctx.clock.SleepMs(10);
    (void)SendCommand(ctx.link, ctx.packet, command_code::kSetParameters, kCommandTimeoutMs);
    return true;
  }
  return success;
}

}  // namespace tarvix
