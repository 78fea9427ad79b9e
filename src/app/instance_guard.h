// SPDX-License-Identifier: GPL-3.0-or-later
// Named per-user locks standing in for the named mutexes of the start-up guards:
// one copy of the program per user, and none while the sibling program runs.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

class InstanceGuard {
 public:
  static constexpr std::string_view kProgramLock = "VRNT_Tarvix 高速编程器 V2.exe";
  static constexpr std::string_view kSiblingLock = "VRNT_HalcyrinII Inner.exe";
  static constexpr std::string_view kAlreadyRunningMessage = "VRNT_Tarvix 高速编程器已经在运行！    ";
  static constexpr std::string_view kSiblingRunningMessage = "请关闭VRNT_HalcyrinII Inner！    ";
  static constexpr std::string_view kCaption = "提示";

  // Takes the lock called `name`; Busy() tells whether another process holds it.
  explicit InstanceGuard(std::string_view name);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  [[nodiscard]] bool Busy() const { return busy_; }
  [[nodiscard]] bool Held() const { return fd_ >= 0; }
  // Lets the lock go at once (the sibling guard only tests the other program).
  void Release();

  // The folder the locks live in: $XDG_RUNTIME_DIR, else a per-user folder in /tmp.
  [[nodiscard]] static std::string LockDirectory();

 private:
  int fd_ = -1;
  bool busy_ = false;  // a lock folder we cannot use does not stop the program
};

}  // namespace tarvix
