// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/tvx_image.h"

#include "buffer/stream_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace tarvix {
namespace {

std::uint32_t Trailer(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[2]};
}

}  // namespace

std::uint32_t TvxByteSum(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  for (const std::uint8_t b : bytes) sum += b;
  return sum;
}

std::optional<TvxInfo> CheckTvx(std::span<const std::uint8_t> image) {
  if (image.size() < kTvxMinimumSize) return std::nullopt;
  const std::size_t payload = image.size() - kTvxTrailerSize;
  if (TvxByteSum(image.first(payload)) != Trailer(image.data() + payload)) return std::nullopt;
  return TvxInfo{image.size(), image[payload - 1]};
}

TvxFile::TvxFile(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat st {};
  // Only a regular file has a length to check against; a folder or a pipe is no image.
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
}

TvxFile::~TvxFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TvxFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (fd_ < 0) return -1;
  return tarvix::ReadAt(fd_, out, offset);
}

std::optional<TvxInfo> TvxFile::Check() const {
  if (fd_ < 0 || size_ < kTvxMinimumSize) return std::nullopt;
  const std::uint64_t payload = size_ - kTvxTrailerSize;
  std::array<std::uint8_t, 65536> chunk{};
  std::uint32_t sum = 0;
  for (std::uint64_t at = 0; at < payload;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), payload - at));
    const std::int64_t n = ReadAt(at, std::span(chunk).first(want));
    // A file that shrank or fails to read is no image we could send whole.
    if (n != static_cast<std::int64_t>(want)) return std::nullopt;
    sum = TvxByteSum(std::span(chunk).first(want), sum);
    at += want;
  }
  std::array<std::uint8_t, kTvxTrailerSize + 1> tail{};
  if (ReadAt(payload - 1, tail) != static_cast<std::int64_t>(tail.size())) return std::nullopt;
  if (sum != Trailer(tail.data() + 1)) return std::nullopt;
  return TvxInfo{size_, tail[0]};
}

std::optional<std::vector<std::uint8_t>> MakeTvx(std::span<const std::uint8_t> payload,
                                                 std::string* error) {
  if (payload.empty()) {
    if (error) *error = "the payload is empty";
    return std::nullopt;
  }
  // The sum is taken before it could wrap: more than 2^32 / 255 bytes cannot fit anyway.
  std::uint64_t sum = 0;
  for (const std::uint8_t b : payload) {
    sum += b;
    if (sum > kTvxLargestSum) {
      if (error)
        *error = "the payload's byte sum does not fit the 24-bit trailer (at most " +
                 std::to_string(kTvxLargestSum) + ")";
      return std::nullopt;
    }
  }
  std::vector<std::uint8_t> image(payload.begin(), payload.end());
  image.push_back(static_cast<std::uint8_t>(sum >> 16));
  image.push_back(static_cast<std::uint8_t>(sum >> 8));
  image.push_back(static_cast<std::uint8_t>(sum));
  return image;
}

}  // namespace tarvix
