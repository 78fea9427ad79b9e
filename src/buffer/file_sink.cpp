#include "buffer/file_sink.h"

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

bool FileSink::Begin(std::uint64_t /*length*/) {
  written_ = 0;
  return file_.Valid();
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
  return file_.Commit();
}

void FileSink::Abandon() {
  file_.Abandon();
}

}  // namespace tarvix
