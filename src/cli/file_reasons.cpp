#include "cli/file_reasons.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "firmware/tvx_image.h"

namespace tarvix::cli {
namespace {

std::string Hex6(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", value);
  return text;
}

}  // namespace

std::string WhyUnreadable(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = std::strerror(errno);
  else if (S_ISDIR(st.st_mode))
    why = "it is a folder, not a file";
  else if (!S_ISREG(st.st_mode))
    why = "it is not a regular file";
  ::close(fd);
  return why;
}

std::string WhyUnwritable(const std::filesystem::path& path) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  if (!existed) std::filesystem::remove(path, ec);
  return {};
}

std::string TvxProblem(const std::filesystem::path& path) {
  if (std::string why = WhyUnreadable(path); !why.empty()) return why;
  const TvxFile file(path);
  if (!file.IsOpen()) return "it cannot be opened";
  const std::uint64_t size = file.Size();
  if (size < kTvxMinimumSize)
    return "it holds " + std::to_string(size) + " byte(s); a firmware image has at least " +
           std::to_string(kTvxMinimumSize) + " (its payload and a 3-byte checksum)";
  if (file.Check()) return {};
  // Recompute what the check compared, to say by how much it is off.
  std::vector<std::uint8_t> chunk(65536);
  const std::uint64_t payload = size - kTvxTrailerSize;
  std::uint32_t sum = 0;
  for (std::uint64_t at = 0; at < payload;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), payload - at));
    const std::int64_t n = file.ReadAt(at, std::span(chunk).first(want));
    if (n != static_cast<std::int64_t>(want)) return "it cannot be read to its end";
    sum = TvxByteSum(std::span(chunk).first(want), sum);
    at += want;
  }
  std::uint8_t tail[kTvxTrailerSize] = {};
  if (file.ReadAt(payload, std::span(tail)) != static_cast<std::int64_t>(kTvxTrailerSize))
    return "it cannot be read to its end";
  const std::uint32_t stored =
      (std::uint32_t{tail[0]} << 16) | (std::uint32_t{tail[1]} << 8) | tail[2];
  return "its checksum does not match: the last 3 bytes say " + Hex6(stored) +
         ", the byte sum of the " + std::to_string(payload) + " bytes before them is " +
         (sum > kTvxLargestSum ? std::to_string(sum) : Hex6(sum)) +
         " (not a firmware image, or a damaged one)";
}

}  // namespace tarvix::cli
