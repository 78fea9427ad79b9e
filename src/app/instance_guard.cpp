// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarvix {

std::string InstanceGuard::LockDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime)
    return runtime;
  std::string dir = "/tmp/tarvix-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

InstanceGuard::InstanceGuard(std::string_view name) {
  const std::string path = LockDirectory() + "/" + std::string(name) + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // The kernel drops the lock when the process ends, however it ends.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    busy_ = errno == EWOULDBLOCK;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

InstanceGuard::~InstanceGuard() { Release(); }

void InstanceGuard::Release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace tarvix
