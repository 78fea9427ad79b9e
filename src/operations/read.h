// Read: copies the whole selected chip into the chip data file "k_est0.dll" and
// loads that file as the current image (shown as unsaved chip data). Worker
// command 13. A stopped or abandoned read keeps and shows what arrived so far; a
// failed one leaves the chip data file and the image as they were. A context with its
// own read sink gets the chip's bytes there instead, and nothing is loaded.
#pragma once

#include <cstdint>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr int kReadChunkSize = 8192;
inline constexpr int kReadTimeoutMs = 5000;

inline constexpr char kScanModeSelected[] = "scan mode selected";
inline constexpr char kReadFinished[] = "Read finished";
// The chip data file cannot be created or written (the load's own texts for it).
inline constexpr char kChipDataFailedStatus[] = "read failed! ";
inline constexpr char kChipDataFailedBox[] = "read failed!  ";

// "Read succeed.%d:%d"
[[nodiscard]] std::string ReadSucceedText(std::int64_t elapsed_seconds);

// The read operation. True when the chip data was received (in full, or up to a
// stop) and loaded.
[[nodiscard]] bool ReadChip(OperationContext& ctx);

}  // namespace tarvix
