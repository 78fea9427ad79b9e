// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "buffer/byte_sum.h"

namespace tarvix {
namespace {

constexpr std::size_t kSumChunk = 256 * 1024;

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::filesystem::path& path,
                                             std::uint32_t capacity, std::string* why,
                                             std::optional<FileFormat> forced,
                                             const Observer& observe) {
  const auto fail = [why](std::string reason) {
    if (why != nullptr) *why = std::move(reason);
    return nullptr;
  };
  std::unique_ptr<FileSource> source(new FileSource());
  source->format_ = LoadFormatOf(path, forced);
  if (source->format_ != FileFormat::kBinary) {
    LoadFileError error;
    std::optional<ImageFile> image = OpenImageFile(path, source->format_, &error);
    if (!image) {
      // The caller names the file itself.
      const std::string prefix = path.string() + ": ";
      if (error.text.rfind(prefix, 0) == 0) error.text.erase(0, prefix.size());
      return fail(error.text);
    }
    source->fd_ = std::move(image->fd);
    source->size_ = image->size;
    source->decoded_ = image->decoded;
  } else {
    // Non-blocking so that a pipe cannot hang the open; a regular file ignores the flag.
    source->fd_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!source->fd_.Valid()) return fail(std::strerror(errno));
    struct stat st {};
    if (::fstat(source->fd_.Get(), &st) != 0) return fail(std::strerror(errno));
    if (std::string reason = NotAFileReason(st.st_mode); !reason.empty()) return fail(reason);
    source->size_ = static_cast<std::uint64_t>(st.st_size);
  }
  std::string reason;
  if (!source->TakeSums(capacity, observe, &reason)) return fail(reason);
  return source;
}

bool FileSource::TakeSums(std::uint32_t capacity, const Observer& observe, std::string* why) {
  std::vector<std::uint8_t> chunk(kSumChunk);
  const std::uint64_t chip_part = std::min<std::uint64_t>(size_, capacity);
  std::uint64_t prefix_sum = 0;
  for (std::uint64_t at = 0; at < size_;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kSumChunk, size_ - at));
    const std::int64_t got = tarvix::ReadAt(fd_.Get(), std::span(chunk).first(want), at);
    if (got < 0) {
      *why = std::strerror(errno);
      return false;
    }
    if (got != static_cast<std::int64_t>(want)) {
      *why = "it became shorter while it was read";
      return false;
    }
    if (observe) observe(std::span(chunk.data(), want));
    const std::uint64_t sum = ByteSum(chunk.data(), want);
    file_sum_ += sum;
    if (at + want <= chip_part) {
      prefix_sum += sum;
    } else if (at < chip_part) {
      prefix_sum += ByteSum(chunk.data(), static_cast<std::size_t>(chip_part - at));
    }
    at += want;
  }
  chip_sum_ = prefix_sum + 0xFFull * (capacity - chip_part);
  return true;
}

std::int64_t FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= size_) return 0;
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  return tarvix::ReadAt(fd_.Get(), out.first(want), offset);
}

std::string FileSource::RangeProblem(std::uint64_t capacity) const {
  return decoded_ ? RecordsPastChip(*decoded_, capacity) : std::string();
}

}  // namespace tarvix
