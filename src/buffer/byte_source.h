// SPDX-License-Identifier: GPL-3.0-or-later
// ByteSource: the image a chip operation streams to the chip (write) or compares the
// chip with (verify, the steps of auto). Its length is fixed while an operation runs;
// reads are positioned, so one source may serve several streams in turn.
//
// The window's source is its working copy (ImageBuffer); the command line streams the
// user's file itself (FileSource). A decoder of a load-file format or a checksum taken
// on the way is a ByteSource over another one: the operations never learn the difference.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // The image's length in bytes.
  [[nodiscard]] virtual std::uint64_t Size() const = 0;
  // Up to `out.size()` bytes at `offset`: fewer only at the end of the image (none
  // past it); -1 when the bytes cannot be read.
  [[nodiscard]] virtual std::int64_t ReadAt(std::uint64_t offset,
                                            std::span<std::uint8_t> out) const = 0;
};

}  // namespace tarvix
