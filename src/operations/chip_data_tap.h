// SPDX-License-Identifier: GPL-3.0-or-later
// ChipDataTap: sees the chip's bytes as a read or a verify receives them, and what a
// verify compares them with, in the same pass as the operation itself. Checksums of
// the chip data and the difference list of a verify are taps; an operation without a
// tap works as before.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix {

class ChipDataTap {
 public:
  virtual ~ChipDataTap() = default;
  // A transfer of the chip's first `length` bytes begins.
  virtual void Begin(std::uint64_t length) = 0;
  // The chip's bytes at `address`, in address order.
  virtual void ChipData(std::uint64_t address, std::span<const std::uint8_t> chip) = 0;
  // Verify: what the same bytes should be (the image, 0xFF past its end).
  virtual void Compared(std::uint64_t address, std::span<const std::uint8_t> expected,
                        std::span<const std::uint8_t> chip) = 0;
  // The transfer is over; `complete` when every byte arrived.
  virtual void End(bool complete) = 0;
};

}  // namespace tarvix
