// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the buffer tool tests: a scratch folder, whole-file helpers and a Host
// that keeps every box and status line it is shown.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "device/host.h"

namespace tarvix::testing {

// A fresh folder under the system's temp folder, removed again at the end; the
// name carries a blank and a non-ASCII letter so every path handled is awkward.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tarvix tools ü " + tag + "_" + std::to_string(::getpid()) + "_" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// While it lives, a file cannot grow past `bytes`: writes beyond fail as on a full
// disk. The limit is the process's own, so only short outputs of the test itself may
// be written meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t old_handler_ = SIG_DFL;
};

inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& v, std::size_t from,
                                       std::size_t n) {
  return {v.begin() + static_cast<std::ptrdiff_t>(from),
          v.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

struct ShownBox {
  std::string text, title;
  BoxIcon icon;
};
struct ShownStatus {
  std::string text;
  bool red, beep;
};

class BoxHost : public Host {
 public:
  void ShowStatus(std::string_view text, bool red, bool beep) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back({std::string(text), red, beep});
  }
  void AppendLogLine(std::string_view) override {}
  void ClearLog() override {}
  void SetProgress(int, std::string_view, CaptionAlign) override {}
  void ShowProgress(bool) override {}
  [[nodiscard]] bool Confirm(std::string_view) override { return true; }
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back({std::string(text), std::string(title), icon});
    return BoxAnswer::kOk;
  }
  void DisableCommand(int) override {}
  void EnableCommand(int) override {}
  void GrayMenuItem(int) override {}
  void EnableMenuItem(int) override {}
  void SetBusyCaption(int, bool) override {}
  void PlaySound(const std::filesystem::path&) override {}
  void SetPicture(int, int) override {}
  void InformationBeep() override {}

  std::vector<ShownBox> Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> BoxTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& b : boxes_) texts.push_back(b.text);
    return texts;
  }
  std::vector<ShownStatus> Statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ShownBox> boxes_;
  std::vector<ShownStatus> statuses_;
};

}  // namespace tarvix::testing
