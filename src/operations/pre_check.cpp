// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/pre_check.h"

#include "buffer/hex_page.h"
#include "operations/recognition.h"
#include "state/control_ids.h"

namespace tarvix {

bool RefuseInDfuMode(OperationContext& ctx) {
  if (ctx.state.dfu_mode.load() == 0) return false;
  ctx.host.ShowStatus(kDfuModeRefusal, true, true);
  return true;
}

bool RunPreCheck(OperationContext& ctx) {
  const bool auto_recognize = ctx.settings.IsOn(SettingItem::kAutoRecognize);
  if (auto_recognize) {
    const int result = ChipTest(ctx);
    if (result == kNoProgrammer || result == kNoChip) return false;
  } else if (ctx.link.CheckDeviceOpen() == kDeviceRefused) {
    return false;
  }
  // A test that picked another record leaves the user to confirm the choice first.
  return !(ctx.state.selection_changed.load() != 0 && auto_recognize);
}

bool EditModeOn(const OperationContext& ctx) {
  return ctx.hex != nullptr && ctx.hex->EditMode();
}

}  // namespace tarvix
