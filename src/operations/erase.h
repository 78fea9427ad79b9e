// SPDX-License-Identifier: GPL-3.0-or-later
// Erase (worker command 5, and the erase step of Auto): the programmer clears the
// whole selected chip while the host waits, in one-second reads, for its done mark.
#pragma once

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr char kEraseConfirmText[] = "This chip will be erased! continue ?";
// One-second reads the host makes before it gives up waiting for the done mark.
inline constexpr int kEraseDoneReads = 601;
// Sends of code 5 before the erase is given up as not sent.
inline constexpr int kEraseSendTries = 11;

// `pre_check`: run the chip test (or the device-open check) and, outside bulk mode,
// ask the user first. True on success, and after a stop requested by the user (so
// Auto goes on with its next step).
[[nodiscard]] bool EraseChip(OperationContext& ctx, bool pre_check);

}  // namespace tarvix
