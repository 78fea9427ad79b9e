// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of the window's commands: the operation buttons' idle and stop captions
// and tooltips, the menu bar with its items' states at creation.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvix {

// An operation button's texts.
struct ButtonTexts {
  int id;
  const char* idle_caption;
  const char* busy_caption;  // null: the button has no stop function
  const char* idle_tooltip;
  const char* busy_tooltip;
};

// The buttons of the "operation" group and the browse button, in window order.
[[nodiscard]] const std::vector<ButtonTexts>& OperationButtons();
// Menu items grayed when the window is created.
[[nodiscard]] const std::vector<int>& InitiallyGrayedMenuItems();

// The menu bar.
enum class MenuState : std::uint8_t { kNormal, kGrayed, kChecked, kSeparator };
struct MenuEntry {
  std::string_view menu;     // "File", "Operate", ...
  std::string_view submenu;  // "Bulk Process" for its three items, else empty
  std::string_view text;     // "&Open"; empty for a separator
  int id;                    // 0 for a separator
  MenuState state;           // at creation
};
[[nodiscard]] const std::vector<MenuEntry>& MainMenu();

}  // namespace tarvix
