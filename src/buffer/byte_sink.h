// SPDX-License-Identifier: GPL-3.0-or-later
// ByteSink: where the bytes of a chip read go, in the chip's order. A read calls Begin
// once, Append for each piece as it arrives, then Commit when the read ended well or
// Abandon when it failed. Nothing of a sink's output may stand in for the result
// before Commit.
//
// The window's sink is its chip data file, loaded as the image afterwards; the command
// line writes the user's file once (FileSink). A writer of a load-file format or a
// checksum taken on the way is a ByteSink in front of another one.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix {

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // A transfer of `length` bytes begins. False when the output cannot be made.
  [[nodiscard]] virtual bool Begin(std::uint64_t length) = 0;
  // The next bytes. False when they cannot be stored (a full disk).
  [[nodiscard]] virtual bool Append(std::span<const std::uint8_t> bytes) = 0;
  // The transfer ended well: the output takes its place. False when it cannot.
  [[nodiscard]] virtual bool Commit() = 0;
  // The transfer failed: nothing of it stays.
  virtual void Abandon() = 0;
};

}  // namespace tarvix
