#include "operations/pre_check.h"

#include "app/command_state.h"
#include "buffer/hex_page.h"
#include "operations/recognition.h"

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

void GrayLinkMenuItems(Host& host) {
  host.GrayMenuItem(control_id::kChipFill);
  host.GrayMenuItem(control_id::kViewData);
  host.GrayMenuItem(control_id::kFirmwareVersion);
  host.GrayMenuItem(control_id::kFirmwareUpgrade);
}

void EnableLinkMenuItems(Host& host) {
  host.EnableMenuItem(control_id::kSaveAs);
  host.EnableMenuItem(control_id::kFindData);
  host.EnableMenuItem(control_id::kChipFill);
  host.EnableMenuItem(control_id::kViewData);
  host.EnableMenuItem(control_id::kFirmwareVersion);
  host.EnableMenuItem(control_id::kFirmwareUpgrade);
}

}  // namespace tarvix
