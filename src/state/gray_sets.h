// SPDX-License-Identifier: GPL-3.0-or-later
// What each running operation grays while it runs and enables again at its end: the
// one table the operations and the window both read.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvix {

// The operations that gray the others while they run.
enum class RunningOperation : std::uint8_t { kWrite, kErase, kBlankCheck, kRead, kVerify };

// What a running operation grays at its start and enables again at its end. The Bulk
// Mode button is in none of them.
struct OperationControls {
  int button;                     // its own button, which turns into a stop button
  std::vector<int> commands;      // DisableCommand at the start, EnableCommand at the end
  std::vector<int> menu_grayed;   // GrayMenuItem at the start
  std::vector<int> menu_enabled;  // EnableMenuItem at the end
  bool file_fill_when_edit_mode;  // "File Fill" enabled at the end, only in edit mode
};
[[nodiscard]] const OperationControls& ControlsOf(RunningOperation operation);

}  // namespace tarvix
