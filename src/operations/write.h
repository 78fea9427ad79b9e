// SPDX-License-Identifier: GPL-3.0-or-later
// Write: programs the loaded image into the selected chip. Code 1 announces the
// stream, the image goes out in chunks of up to 4096 bytes on the bulk-out
// pipe (padded with 0xFF up to the capacity, except for SPI FLASH, which gets the
// image only), code 2 carries the byte count, and the programmer's end mark 2 closes
// the exchange. Worker command 1, and the write step of Auto.
#pragma once

#include <cstdint>
#include <string>

#include "operations/operation_context.h"

namespace tarvix {

inline constexpr int kWriteChunkSize = 4096;
inline constexpr int kWriteChunkTimeoutMs = 60000;
inline constexpr int kWriteEndMarkReads = 10;
inline constexpr int kWriteEndMarkTimeoutMs = 6000;
inline constexpr std::uint8_t kWriteEndMark = 2;

inline constexpr char kWriteConfirmText[] = "datas will be overwritten ! continue ?";
inline constexpr char kFileNotOpened[] = "file is not opened!";
inline constexpr char kWriteOverflowQuestion[] =
    "file length is out of the chip range!      \r\n       still write?";
inline constexpr char kWriteStart[] = "start write...";
inline constexpr char kWriteFinished[] = "write finished...";
inline constexpr char kWriteOverflowBox[] =
    "    datas is overflow\r\noverflow part is unwritten.     ";
// Shown when the programmer never confirmed the end of a write (our own text).
inline constexpr char kWriteNotConfirmed[] =
    "write not confirmed by the device,data may be incomplete!";

// "write succeed,%d bytes,%d:%d"
[[nodiscard]] std::string WriteSucceedText(std::uint64_t bytes, std::int64_t elapsed_seconds);
// "write is broken!%d bytes,%d:%d"
[[nodiscard]] std::string WriteBrokenText(std::uint64_t bytes, std::int64_t elapsed_seconds);
// "datas is overflow,overflow part is unwritten.%d bytes,%d:%d"
[[nodiscard]] std::string WriteOverflowText(std::uint64_t bytes, std::int64_t elapsed_seconds);

// The write operation. `pre_check`: run the chip test or device-open check and ask
// the user first (the worker passes true; Auto only for its first step).
// `overflow_accepted`: the user has already agreed to write an image longer than the
// chip (Auto asks before its erase), so the length question is not asked again. True
// when the stream ran to its end, a user stop included.
[[nodiscard]] bool WriteChip(OperationContext& ctx, bool pre_check, bool overflow_accepted = false);

// The stream itself, with the controls already set by WriteChip.
[[nodiscard]] bool WriteStream(OperationContext& ctx);

}  // namespace tarvix
