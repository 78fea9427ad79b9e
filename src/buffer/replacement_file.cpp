// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

namespace tarvix {
namespace {

constexpr int kNameTries = 100;

// Writing through a link replaces the file it names, as writing into it would.
std::filesystem::path ResolveLink(const std::filesystem::path& target) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(target, ec)) return target;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
  return ec ? target : resolved;
}

std::filesystem::path TemporaryName(const std::filesystem::path& target, unsigned serial) {
  // Hidden, and never a name the tools themselves would write.
  return target.parent_path() /
         ("." + target.filename().string() + "." + std::to_string(::getpid()) + "-" +
          std::to_string(serial) + ".part");
}

}  // namespace

ReplacementFile::ReplacementFile(const std::filesystem::path& target, bool durable)
    : target_(ResolveLink(target)), durable_(durable) {
  struct stat existing {};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  // Only a file is replaced, never a folder or a device of that name.
  if (exists && !S_ISREG(existing.st_mode)) {
    error_ = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
    return;
  }
  // A file the user may not write keeps that protection: it is not replaced either.
  if (exists && ::access(target_.c_str(), W_OK) != 0) {
    error_ = errno;
    return;
  }
  static std::atomic<unsigned> serial{0};
  for (int i = 0; i < kNameTries; ++i) {
    const std::filesystem::path name = TemporaryName(target_, serial.fetch_add(1));
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temporary_ = name;
      break;
    }
    if (errno != EEXIST) {
      error_ = errno;
      return;
    }
  }
  if (fd_ < 0) {
    error_ = EEXIST;
    return;
  }
  // The new file keeps the old one's permissions.
  if (exists) (void)::fchmod(fd_, existing.st_mode & 07777);
}

ReplacementFile::~ReplacementFile() {
  Abandon();
}

bool ReplacementFile::Commit() {
  if (fd_ < 0) {
    if (error_ == 0) error_ = EBADF;
    return false;
  }
  bool ok = !durable_ || ::fsync(fd_) == 0;
  if (!ok) error_ = errno;
  if (::close(fd_) != 0 && ok) {
    ok = false;
    error_ = errno;
  }
  fd_ = -1;
  if (ok && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    ok = false;
    error_ = errno;
  }
  if (!ok) {
    (void)::unlink(temporary_.c_str());
  }
  temporary_.clear();
  return ok;
}

void ReplacementFile::Abandon() {
  if (fd_ >= 0) {
    (void)::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    (void)::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace tarvix
