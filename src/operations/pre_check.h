// SPDX-License-Identifier: GPL-3.0-or-later
// The steps write, read and verify (and the other chip operations) take before they
// touch the chip: the refusal in the programmer's update mode and the pre-check
// (chip test or device-open check, then the selection-changed refusal).
#pragma once

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr char kDfuModeRefusal[] = "device is in dfu mode";
inline constexpr char kDeviceConnectError[] = "device connect error";
// The image cannot be read while write or verify stream it (our own text).
inline constexpr char kWorkingCopyReadFailed[] = "file read failed!";

// Shows "device is in dfu mode" (red, beep) and returns true when the programmer is
// in its update mode.
[[nodiscard]] bool RefuseInDfuMode(OperationContext& ctx);

// The chip test when "Auto Recognize" is on, else CheckDeviceOpen; then refuses
// silently when recognition changed the selection. True when the operation may go
// on; every refusal has already been reported.
[[nodiscard]] bool RunPreCheck(OperationContext& ctx);

// Edit mode of the hex view; off when the context has no hex view.
[[nodiscard]] bool EditModeOn(const OperationContext& ctx);

}  // namespace tarvix
