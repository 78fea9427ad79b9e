// SPDX-License-Identifier: GPL-3.0-or-later
// Verify: compares the whole chip with the loaded image on the host. Code 8 carries
// the capacity; the programmer streams the chip's contents, which are compared block
// by block with the same range of the image (0xFF past its end). Each
// mismatch may be shown in a Yes/No/Cancel box. Worker command 8, and the verify
// step of Auto.
#pragma once

#include <cstdint>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr int kVerifyBlockSize = 8192;
inline constexpr int kVerifyReadTimeoutMs = 5000;
inline constexpr int kVerifyEndTimeoutMs = 2000;

inline constexpr char kVerifyBegin[] = "Verify begin...";
inline constexpr char kVerifyNoImageStatus[] = "file is not opened";
inline constexpr char kVerifyNoImageBox[] = "file is not opened!";
inline constexpr char kVerifyMismatchTitle[] = "error ";
inline constexpr char kVerifyOverflowSucceed[] = "verify succeed! overflow part not verified!";
inline constexpr char kVerifyOverflowBox[] =
    "verify succeed!     \r\n   overflow part not verified!";

// The mismatch box: "%XH error! ", the file and chip bytes, and the answer hint.
[[nodiscard]] std::string VerifyMismatchText(std::uint64_t address, std::uint8_t file_byte,
                                             std::uint8_t chip_byte);
// "verify finished.%d error(s)! %s", or with "overflow part not verified " when the
// image is longer than the chip.
[[nodiscard]] std::string VerifyErrorsText(std::uint64_t errors, bool overflow,
                                           std::int64_t elapsed_seconds);
// "verify succeed! %s"
[[nodiscard]] std::string VerifySucceedText(std::int64_t elapsed_seconds);
// A verify the user stopped before the whole chip was compared:
// "verify stopped.%d bytes compared,%d error(s)! %s".
[[nodiscard]] std::string VerifyStoppedText(std::uint64_t compared, std::uint64_t errors,
                                            std::int64_t elapsed_seconds);

// The verify operation. `pre_check` as for WriteChip (no confirmation is
// asked). True when the whole chip arrived and no mismatch was found; a verify the
// user stopped part-way is a failure, whatever it found so far.
[[nodiscard]] bool VerifyChip(OperationContext& ctx, bool pre_check);

}  // namespace tarvix
