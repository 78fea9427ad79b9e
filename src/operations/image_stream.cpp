// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/image_stream.h"

#include <algorithm>
#include <cstring>

namespace tarvix {

bool ImageStream::Fill(std::uint64_t offset) {
  const std::uint64_t size = image_.Size();
  const auto want =
      static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), size - offset));
  const std::int64_t got = image_.ReadAt(offset, std::span(window_.data(), want));
  if (got <= 0) {
    filled_ = 0;
    return false;
  }
  start_ = offset;
  filled_ = static_cast<std::size_t>(got);
  return true;
}

bool ImageStream::View(std::uint64_t offset, std::size_t count,
                       std::span<const std::uint8_t>* out) {
  const std::uint64_t size = image_.Size();
  if (offset >= size || count == 0) {
    *out = {};
    return true;
  }
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
  // A request the window does not hold whole starts a new window at its offset.
  if (offset < start_ || offset + count > start_ + filled_) {
    if (!Fill(offset)) return false;
  }
  const auto at = static_cast<std::size_t>(offset - start_);
  *out = std::span<const std::uint8_t>(window_.data() + at, std::min(count, filled_ - at));
  return true;
}

bool ImageStream::ReadChipSized(std::uint64_t offset, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    std::span<const std::uint8_t> part;
    if (!View(offset + done, out.size() - done, &part)) return false;
    if (part.empty()) break;  // past the image
    std::memcpy(out.data() + done, part.data(), part.size());
    done += part.size();
  }
  std::memset(out.data() + done, 0xFF, out.size() - done);
  return true;
}

}  // namespace tarvix
