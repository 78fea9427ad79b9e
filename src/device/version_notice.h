// SPDX-License-Identifier: GPL-3.0-or-later
// The notice shown before an operation on a 5 V 24-series chip, which only newer
// programmers support.
#pragma once

#include "catalogue/chip_record.h"
#include "device/host.h"

namespace tarvix {

inline constexpr char kVersionNoticeText[] =
    "******only version 2.0 and above device supports this chip******";

// Shows the notice (normal colour, no beep) when `record` is a "24 EEPROM" whose
// voltage text is exactly "5"; does nothing otherwise or without a record.
void ShowVersionNotice(Host& host, const ChipRecord* record);

}  // namespace tarvix
