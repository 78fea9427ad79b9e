// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/file_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "buffer/stream_copy.h"

namespace tarvix {

FileSink::FileSink(const std::filesystem::path& target, bool durable) : file_(target, durable) {}

std::string FileSink::Why() const {
  if (error_ != 0) return std::strerror(error_);
  if (file_.Error() != 0) return std::strerror(file_.Error());
  return {};
}

bool FileSink::Begin(std::uint64_t length) {
  written_ = 0;
  if (!file_.Valid()) return false;
  // The blocks are taken at once rather than one page at a time as the data arrives
  // (a reservation only: a disk that cannot hold it still fails on a write).
  reserved_ = length > 0 && ::fallocate(file_.Fd(), 0, 0, static_cast<off_t>(length)) == 0;
  return true;
}

bool FileSink::Append(std::span<const std::uint8_t> bytes) {
  errno = 0;
  if (!WriteAt(file_.Fd(), bytes, written_)) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool FileSink::Commit() {
  // A read that ended early keeps only what arrived.
  if (reserved_ && ::ftruncate(file_.Fd(), static_cast<off_t>(written_)) != 0) {
    error_ = errno;
    file_.Abandon();
    return false;
  }
  return file_.Commit();
}

void FileSink::Abandon() {
  file_.Abandon();
}

}  // namespace tarvix
