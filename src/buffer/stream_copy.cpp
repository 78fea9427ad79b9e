// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/stream_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <memory>
#include <new>

namespace tarvix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset() {
  (void)Close();
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0;
}

std::string NotAFileReason(unsigned mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "it is a folder, not a file";
  if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a file";
  if (S_ISCHR(mode)) return "it is a character device, not a file";
  if (S_ISBLK(mode)) return "it is a block device, not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  return "it is not a regular file";
}

std::string NotAFileReason(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return NotAFileReason(st.st_mode);
}

UniqueFd OpenRegularForReading(const std::filesystem::path& path) {
  // Non-blocking so that naming a pipe cannot hang the open; cleared again below.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return fd;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return UniqueFd();
  return fd;
}

UniqueFd CreateTruncated(const std::filesystem::path& path, bool read_too) {
  return UniqueFd(
      ::open(path.c_str(), (read_too ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

std::int64_t FileLength(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t ReadAt(int fd, std::span<std::uint8_t> out, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool WriteAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

CopyResult CopyRange(int from, std::uint64_t from_offset, std::uint64_t length, int to,
                     std::uint64_t to_offset, const std::atomic<bool>* stop) {
  if (length == 0) return CopyResult::kOk;
  const std::size_t size = length < kCopyChunk ? static_cast<std::size_t>(length) : kCopyChunk;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size]);
  if (!buffer) return CopyResult::kReadFailed;
  std::uint64_t done = 0;
  while (done < length) {
    if (stop != nullptr && stop->load()) return CopyResult::kStopped;
    const std::size_t want = length - done < size ? static_cast<std::size_t>(length - done) : size;
    const std::int64_t got = ReadAt(from, {buffer.get(), want}, from_offset + done);
    // A source that ends early has shrunk under us: the copy would be short.
    if (got <= 0) return CopyResult::kReadFailed;
    if (!WriteAt(to, {buffer.get(), static_cast<std::size_t>(got)}, to_offset + done))
      return CopyResult::kWriteFailed;
    done += static_cast<std::uint64_t>(got);
  }
  return CopyResult::kOk;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace tarvix
