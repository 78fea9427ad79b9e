// SPDX-License-Identifier: GPL-3.0-or-later
// Graying the other commands while an operation runs and restoring them at its end,
// from the one table the window and the key handling read as well.
#pragma once

#include "operations/operation_context.h"
#include "state/gray_sets.h"

namespace tarvix {

// Disables the operation's commands, grays its menu items and turns its button into
// the stop button.
void GrayOperationControls(Host& host, RunningOperation operation);
// The reverse at the end; "File Fill" comes back only in edit mode, for the
// operations whose table says so.
void RestoreOperationControls(const OperationContext& ctx, RunningOperation operation);

}  // namespace tarvix
