// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/host.h"

namespace tarvix {
namespace {

// Opens for reading and writing, creating the file if missing, never truncating.
class SettingsFile {
 public:
  explicit SettingsFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}
  ~SettingsFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  [[nodiscard]] bool ok() const { return fd_ >= 0; }
  // Up to five bytes from offset 0 over five bytes preset to 1.
  [[nodiscard]] std::array<std::uint8_t, kSettingCount> ReadFive() const {
    std::array<std::uint8_t, kSettingCount> bytes{1, 1, 1, 1, 1};
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n =
          ::pread(fd_, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    return bytes;
  }
  [[nodiscard]] off_t Size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_size : -1;
  }
  [[nodiscard]] bool WriteAt(const std::uint8_t* data, std::size_t size, off_t offset) const {
    return ::pwrite(fd_, data, size, offset) == static_cast<ssize_t>(size);
  }

 private:
  int fd_;
};

}  // namespace

Settings::Settings(std::filesystem::path file, Reporter report, bool writable)
    : file_(std::move(file)), report_(std::move(report)), writable_(writable) {}

void Settings::LoadReadOnly() {
  std::array<std::uint8_t, kSettingCount> bytes{1, 1, 1, 1, 1};
  // Non-blocking: a pipe of that name must not hang the start; it holds no settings.
  const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n =
          ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  if (fd >= 0) ::close(fd);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    SetChecked(static_cast<SettingItem>(i), bytes[i] == 1);
}

void Settings::Load() {
  if (!writable_) {
    LoadReadOnly();
    return;
  }
  std::array<std::uint8_t, kSettingCount> bytes{};
  {
    SettingsFile f(file_);
    if (!f.ok()) {
      // Without a file the sound starts off, as on a machine that never saved one.
      SetChecked(SettingItem::kRemindSound, false);
      if (report_) report_(kCannotOpenMessage);
      return;
    }
    bytes = f.ReadFive();
  }
  if (bytes[0] == 1) {
    SetChecked(SettingItem::kRemindSound, true);
  } else if (IsOn(SettingItem::kRemindSound)) {
    Toggle(SettingItem::kRemindSound);
  }
  if (bytes[1] == 1) {
    SetChecked(SettingItem::kAutoRecognize, true);
  } else if (IsOn(SettingItem::kAutoRecognize)) {
    Toggle(SettingItem::kAutoRecognize);
  }
  SetChecked(SettingItem::kBulkErase, bytes[2] == 1);
  SetChecked(SettingItem::kBulkWrite, bytes[3] == 1);
  SetChecked(SettingItem::kBulkVerify, bytes[4] == 1);
}

bool Settings::Toggle(SettingItem item) {
  const bool on = !IsOn(item);
  if (!writable_ || !Store(item, on)) {
    if (report_) report_(kCannotWriteMessage);
    return false;
  }
  SetChecked(item, on);
  return true;
}

bool Settings::Store(SettingItem item, bool on) {
  SettingsFile f(file_);
  if (!f.ok()) return false;
  const std::uint8_t value = on ? 1 : 0;
  switch (item) {
    case SettingItem::kRemindSound:
      return f.WriteAt(&value, 1, 0);
    case SettingItem::kAutoRecognize: {
      const off_t size = f.Size();
      if (size < 0) return false;
      const std::uint8_t one = 1;
      // An empty file gets the sound byte first so the new byte lands at offset 1.
      if (size == 0 && !f.WriteAt(&one, 1, 0)) return false;
      return f.WriteAt(&value, 1, 1);
    }
    case SettingItem::kBulkErase:
    case SettingItem::kBulkWrite:
    case SettingItem::kBulkVerify: {
      auto bytes = f.ReadFive();
      bytes[static_cast<std::size_t>(item)] = value;
      return f.WriteAt(bytes.data(), bytes.size(), 0);
    }
  }
  return false;
}

void Settings::SetChecked(SettingItem item, bool on) {
  if (!Check(item, on)) return;
  for (const auto& listener : listeners_) listener(item);
}

void Settings::PlaySound(Host& host, const std::filesystem::path& wave) const {
  if (IsOn(SettingItem::kRemindSound)) host.PlaySound(wave);
}

}  // namespace tarvix
