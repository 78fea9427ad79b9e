// SPDX-License-Identifier: GPL-3.0-or-later
// Plain POSIX file access for the file tools: an owning descriptor, whole reads and
// writes that survive short transfers and signals, and a streamed copy of a byte
// range through one fixed buffer, so memory stays flat whatever the file's size.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace tarvix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset();
  // Closes and reports whether the close itself succeeded (a delayed write error
  // shows up here on some file systems).
  [[nodiscard]] bool Close();

 private:
  int fd_ = -1;
};

// Why a file of this kind (st_mode) is no file to read or write, naming what it is:
// "it is a folder, not a file" and the like; empty for a regular file.
[[nodiscard]] std::string NotAFileReason(unsigned mode);
// The same for what `path` names (links followed); empty when it is a regular file or
// is not there. Never opens it, so a pipe cannot hang the caller.
[[nodiscard]] std::string NotAFileReason(const std::filesystem::path& path);

// Opens an existing regular file for reading. Directories, devices and pipes are
// refused: a pipe would block the caller, a directory fails only at the first read.
[[nodiscard]] UniqueFd OpenRegularForReading(const std::filesystem::path& path);
// Creates the file or truncates it, for writing (and reading when `read_too`).
[[nodiscard]] UniqueFd CreateTruncated(const std::filesystem::path& path, bool read_too = false);

// Length of an open file; -1 on failure.
[[nodiscard]] std::int64_t FileLength(int fd);

// Reads up to `out.size()` bytes at `offset`, stopping early only at the end of the
// file. Returns the count, or -1 on a read error.
[[nodiscard]] std::int64_t ReadAt(int fd, std::span<std::uint8_t> out, std::uint64_t offset);
// Writes all of `bytes` at `offset`; false on any error (a full disk included).
[[nodiscard]] bool WriteAt(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset);

enum class CopyResult : std::uint8_t {
  kOk,
  kReadFailed,   // a read error, or the source ended before the range did
  kWriteFailed,  // a write error, for example a full disk
  kStopped,      // the caller asked the copy to stop
};

// The transfer size of the streamed copies.
inline constexpr std::size_t kCopyChunk = 1 << 20;

// Copies `length` bytes of `from` starting at `from_offset` to `to` at `to_offset`.
// A set `stop` ends the copy between two chunks (kStopped).
[[nodiscard]] CopyResult CopyRange(int from, std::uint64_t from_offset, std::uint64_t length,
                                   int to, std::uint64_t to_offset,
                                   const std::atomic<bool>* stop = nullptr);

// True when both paths name the same existing file (links and relative forms included).
[[nodiscard]] bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tarvix
