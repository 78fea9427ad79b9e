// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/stamping_source.h"

#include <algorithm>

namespace tarvix {

std::uint64_t StampingSource::Size() const {
  return std::max(image_.Size(), patch_.End());
}

std::int64_t StampingSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  const std::uint64_t size = Size();
  if (offset >= size) return 0;
  out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset)));
  std::size_t got = 0;
  if (offset < image_.Size()) {
    const std::int64_t n = image_.ReadAt(offset, out);
    got = static_cast<std::size_t>(std::max<std::int64_t>(n, 0));
    // Short only at the image's end; anything else is a failed read.
    if (n < 0 || (got < out.size() && offset + got < image_.Size())) return -1;
  }
  // Between the image's end and the field: the blank byte.
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), 0xFF);
  patch_.Apply(offset, out);
  return static_cast<std::int64_t>(out.size());
}

}  // namespace tarvix
