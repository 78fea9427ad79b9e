// SPDX-License-Identifier: GPL-3.0-or-later
// The check states of the five "Settings" menu items: the live settings that the
// operations read. Loading, toggling and storing them is the settings menu's work.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvix {

enum class SettingItem : std::uint8_t {
  kRemindSound = 0,
  kAutoRecognize = 1,
  kBulkErase = 2,
  kBulkWrite = 3,
  kBulkVerify = 4,
};

inline constexpr std::size_t kSettingCount = 5;

// Menu command ids of the five items.
[[nodiscard]] int SettingCommandId(SettingItem item);
// The menu text of an item ("Remind Sound", " Erase ", ...).
[[nodiscard]] std::string_view SettingCaption(SettingItem item);

class SettingChecks {
 public:
  SettingChecks() {
    for (auto& c : checked_) c = true;  // the menu's defaults
  }

  [[nodiscard]] bool IsOn(SettingItem item) const {
    return checked_[static_cast<std::size_t>(item)].load();
  }

 protected:
  // Sets the check mark; true when it changed.
  bool Check(SettingItem item, bool on) {
    return checked_[static_cast<std::size_t>(item)].exchange(on) != on;
  }

 private:
  // Read by the worker while the window thread toggles.
  std::array<std::atomic<bool>, kSettingCount> checked_;
};

}  // namespace tarvix
