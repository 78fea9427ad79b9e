// SPDX-License-Identifier: GPL-3.0-or-later
// The image as one chip is to hold it: the operation's image with this chip's serial
// number over it. Write streams it and verify compares with it; the loaded image and
// the user's file never change. A field past the image's end makes the image that
// much longer (0xFF up to the field), so a write that sends only the image (SPI FLASH)
// still sends the number.
#pragma once

#include "buffer/byte_source.h"
#include "production/serial_number.h"

namespace tarvix {

class StampingSource final : public ByteSource {
 public:
  StampingSource(const ByteSource& image, const SerialPatch& patch)
      : image_(image), patch_(patch) {}

  [[nodiscard]] std::uint64_t Size() const override;
  [[nodiscard]] std::int64_t ReadAt(std::uint64_t offset,
                                    std::span<std::uint8_t> out) const override;

 private:
  const ByteSource& image_;
  const SerialPatch& patch_;
};

}  // namespace tarvix
