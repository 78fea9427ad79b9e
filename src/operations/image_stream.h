// SPDX-License-Identifier: GPL-3.0-or-later
// Sequential reads of the operation's image (a ByteSource: the window's working copy,
// or the user's file on the command line) for the streams of write and verify. They
// ask for 4 or 8 KiB at a time; reading a window at a time keeps that to a few system
// calls per megabyte while memory stays small and independent of the chip.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "buffer/byte_source.h"

namespace tarvix {

class ImageStream {
 public:
  static constexpr std::size_t kDefaultWindow = 256 * 1024;

  explicit ImageStream(const ByteSource& image, std::size_t window = kDefaultWindow)
      : image_(image), window_(window) {}

  // Up to `count` bytes of the image at `offset`, contiguous and valid until
  // the next call; shorter only at the end of the image (empty past it). False when
  // the image cannot be read.
  [[nodiscard]] bool View(std::uint64_t offset, std::size_t count,
                          std::span<const std::uint8_t>* out);

  // Exactly `out.size()` bytes of the chip-sized image at `offset`: the image's bytes,
  // then 0xFF past its end. False when the image cannot be read.
  [[nodiscard]] bool ReadChipSized(std::uint64_t offset, std::span<std::uint8_t> out);

 private:
  [[nodiscard]] bool Fill(std::uint64_t offset);

  const ByteSource& image_;
  std::vector<std::uint8_t> window_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace tarvix
