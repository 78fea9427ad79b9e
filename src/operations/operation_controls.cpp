// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/operation_controls.h"

#include "operations/pre_check.h"
#include "state/control_ids.h"

namespace tarvix {

void GrayOperationControls(Host& host, RunningOperation operation) {
  const OperationControls& controls = ControlsOf(operation);
  for (const int id : controls.commands) host.DisableCommand(id);
  for (const int id : controls.menu_grayed) host.GrayMenuItem(id);
  host.SetBusyCaption(controls.button, true);
}

void RestoreOperationControls(const OperationContext& ctx, RunningOperation operation) {
  const OperationControls& controls = ControlsOf(operation);
  Host& host = ctx.host;
  if (controls.file_fill_when_edit_mode && EditModeOn(ctx))
    host.EnableMenuItem(control_id::kFileFill);
  for (const int id : controls.commands) host.EnableCommand(id);
  for (const int id : controls.menu_enabled) host.EnableMenuItem(id);
  host.SetBusyCaption(controls.button, false);
}

}  // namespace tarvix
