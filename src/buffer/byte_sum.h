// SPDX-License-Identifier: GPL-3.0-or-later
// Sum of bytes, each taken as 0..255: the file sum and chip sum of an image are
// computed over every byte loaded, so this runs at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarvix {

[[nodiscard]] inline std::uint64_t ByteSum(const std::uint8_t* data, std::size_t length) {
  constexpr std::uint64_t kLanes = 0x00FF00FF00FF00FFull;
  std::uint64_t total = 0;
  std::size_t i = 0;
  // Eight bytes at a time into four 16-bit lanes; 128 words add at most
  // 128 * 2 * 255 < 65536 per lane, then the lanes are folded into the total.
  while (length - i >= 8) {
    std::uint64_t lanes = 0;
    std::size_t words = (length - i) / 8;
    if (words > 128) words = 128;
    for (std::size_t w = 0; w < words; ++w, i += 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, 8);
      lanes += (word & kLanes) + ((word >> 8) & kLanes);
    }
    total += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
  }
  for (; i < length; ++i) total += data[i];
  return total;
}

}  // namespace tarvix
