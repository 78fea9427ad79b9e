// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/setting_checks.h"

namespace tarvix {

int SettingCommandId(SettingItem item) {
  static constexpr int kIds[kSettingCount] = {32809, 32811, 32820, 32821, 32822};
  return kIds[static_cast<std::size_t>(item)];
}

std::string_view SettingCaption(SettingItem item) {
  static constexpr std::string_view kCaptions[kSettingCount] = {"Remind Sound", "Auto Recognize",
                                                                " Erase ", " Write", " Verify"};
  return kCaptions[static_cast<std::size_t>(item)];
}

}  // namespace tarvix
