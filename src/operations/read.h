// SPDX-License-Identifier: GPL-3.0-or-later
// Read: copies the whole selected chip into the chip data file "k_est0.dll" and
// loads that file as the current image (shown as unsaved chip data). Worker
// command 13. A stopped or abandoned read keeps and shows what arrived so far, marked
// as part of the chip; a failed one leaves the chip data file and the image as they
// were. A context with its own read sink gets the chip's bytes there instead, and
// nothing is loaded.
#pragma once

#include <cstdint>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr int kReadChunkSize = 8192;
inline constexpr int kReadTimeoutMs = 5000;

inline constexpr char kScanModeSelected[] = "scan mode selected";
// The chip data file cannot be created or written (the load's own texts for it).
inline constexpr char kChipDataFailedStatus[] = "read failed! ";
inline constexpr char kChipDataFailedBox[] = "read failed!  ";

// "Read succeed.%d:%d"
[[nodiscard]] std::string ReadSucceedText(std::int64_t elapsed_seconds);
// A read stopped before the chip's end (red): "Read stopped,%llu of %u bytes read,%d:%d".
[[nodiscard]] std::string ReadStoppedText(std::uint64_t received, std::uint32_t capacity,
                                          std::int64_t elapsed_seconds);
// The path box over the part of a chip a stopped read loaded.
[[nodiscard]] std::string PartialChipDataText(std::uint64_t received, std::uint32_t capacity);

// The read operation. True when the whole chip was received and loaded; a read
// stopped half-way loads what arrived, says so in red and in the path box, and is
// no success.
[[nodiscard]] bool ReadChip(OperationContext& ctx);

}  // namespace tarvix
