// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/blank_check.h"

#include <array>
#include <cstdio>

#include "device/command_protocol.h"
#include "device/operation_clock.h"
#include "device/version_notice.h"
#include "operations/operation_controls.h"
#include "operations/pre_check.h"
#include "state/control_ids.h"

namespace tarvix {
namespace {

constexpr int kReplySize = 6;
constexpr int kPollSize = 64;
constexpr int kPollTimeoutMs = 1000;
constexpr int kCommandTimeoutMs = 1000;

}  // namespace

std::string NotBlankText(std::span<const std::uint8_t, 6> reply) {
  // Only the numbers are zero-padded; the words keep their blanks.
  char text[64];
  std::snprintf(text, sizeof text, "chip is not blank\r\nAddr:%02X%02X%02X%02X\r\nData:%02X",
                unsigned{reply[1]}, unsigned{reply[2]}, unsigned{reply[3]}, unsigned{reply[4]},
                unsigned{reply[5]});
  return std::string(text) + "           ";
}

bool BlankCheck(OperationContext& ctx) {
  MainState& state = ctx.state;
  Host& host = ctx.host;
  state.stop_blank = 0;
  // Not a full reply yet: a reply left over from earlier cannot end the poll.
  int last_read = 2;
  if (RefuseInDfuMode(ctx)) return false;
  if (!RunPreCheck(ctx)) return false;
  ShowVersionNotice(host, ctx.selection.CurrentRecord());

  (void)SendCommand(ctx.link, ctx.packet, command_code::kBlankCheck, kCommandTimeoutMs);
  host.ShowStatus("chip blank checking", false, false);
  GrayOperationControls(host, RunningOperation::kBlankCheck);
  const OperationClock clock(ctx.clock);

  std::array<std::uint8_t, kPollSize> reply{};
  for (int reads = 0;;) {
    const bool answered = reply[0] == kBlankReplyBlank || reply[0] == kBlankReplyNotBlank;
    if (answered && last_read == kReplySize) break;
    if (reads == kBlankCheckPolls) break;
    if (state.stop_blank.load()) {
      last_read = -1;
      break;
    }
    last_read = ctx.link.BulkRead(reply.data(), kPollSize, kPollTimeoutMs);
    ++reads;
  }
  const std::string elapsed = clock.ElapsedText();

  bool blank = false;
  if (last_read > 0) {
    if (reply[0] == kBlankReplyBlank) {
      host.ShowStatus("blank check succeed." + elapsed, false, false);
      host.MessageBox("chip is blank    ", "info", BoxIcon::kInformation, BoxButtons::kOk);
      blank = true;
    } else if (reply[0] == kBlankReplyNotBlank) {
      host.ShowStatus("blank check failed." + elapsed, true, false);
      host.MessageBox(NotBlankText(std::span<const std::uint8_t, 6>(reply.data(), kReplySize)),
                      "info", BoxIcon::kError, BoxButtons::kOk);
    }
  } else if (!state.stop_blank.load()) {
    host.ShowStatus("blank check failed!", true, false);
    host.MessageBox("blank check failed!", "info", BoxIcon::kInformation, BoxButtons::kOk);
  } else {
    host.ShowStatus("blank check finished!", false, false);
  }

  RestoreOperationControls(ctx, RunningOperation::kBlankCheck);
  return blank;
}

}  // namespace tarvix
