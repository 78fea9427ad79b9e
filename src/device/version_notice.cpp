// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/version_notice.h"

namespace tarvix {

void ShowVersionNotice(Host& host, const ChipRecord* record) {
  if (record != nullptr && record->type == "24 EEPROM" && record->voltage == "5")
    host.ShowStatus(kVersionNoticeText, false, false);
}

}  // namespace tarvix
