#include "buffer/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "buffer/byte_sum.h"

namespace tarvix {
namespace {

constexpr std::size_t kSumChunk = 256 * 1024;

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::filesystem::path& path,
                                             std::uint32_t capacity, std::string* why) {
  const auto fail = [why](std::string reason) {
    if (why != nullptr) *why = std::move(reason);
    return nullptr;
  };
  // Non-blocking so that a pipe cannot hang the open; a regular file ignores the flag.
  std::unique_ptr<FileSource> source(new FileSource());
  source->fd_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!source->fd_.Valid()) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(source->fd_.Get(), &st) != 0) return fail(std::strerror(errno));
  if (std::string reason = NotAFileReason(st.st_mode); !reason.empty()) return fail(reason);
  source->size_ = static_cast<std::uint64_t>(st.st_size);

  std::vector<std::uint8_t> chunk(kSumChunk);
  const std::uint64_t chip_part = std::min<std::uint64_t>(source->size_, capacity);
  std::uint64_t prefix_sum = 0;
  for (std::uint64_t at = 0; at < source->size_;) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kSumChunk, source->size_ - at));
    const std::int64_t got = tarvix::ReadAt(source->fd_.Get(), std::span(chunk).first(want), at);
    if (got < 0) return fail(std::strerror(errno));
    if (got != static_cast<std::int64_t>(want)) return fail("it became shorter while it was read");
    const std::uint64_t sum = ByteSum(chunk.data(), want);
    source->file_sum_ += sum;
    if (at + want <= chip_part) {
      prefix_sum += sum;
    } else if (at < chip_part) {
      prefix_sum += ByteSum(chunk.data(), static_cast<std::size_t>(chip_part - at));
    }
    at += want;
  }
  source->chip_sum_ = prefix_sum + 0xFFull * (capacity - chip_part);
  return source;
}

std::int64_t FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= size_) return 0;
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  return tarvix::ReadAt(fd_.Get(), out.first(want), offset);
}

}  // namespace tarvix
