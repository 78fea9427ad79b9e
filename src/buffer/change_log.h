// SPDX-License-Identifier: GPL-3.0-or-later
// The operation log "修改记录.txt": one record per Save, naming every byte it wrote
// back (or, for chip data saved to a new file, the chip and the file). The log is
// GBK text with "\r\n" line ends; it is emptied by the first Save that finds it at
// 100 MiB or more. The program reads it back only to show it where the desktop has
// no viewer for it.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "device/host.h"

namespace tarvix {

inline constexpr char kChangeLogName[] = "修改记录.txt";
// A log this long or longer is emptied before the next record.
inline constexpr std::uint64_t kChangeLogLimit = 104857600;
inline constexpr char kShowLogNotFound[] = "not find file";

// UTF-8 text as GBK bytes. A character GBK cannot hold (and a byte that is not valid
// UTF-8) becomes "?", so a record is never dropped for its text.
[[nodiscard]] std::string ToGbk(std::string_view utf8);
// GBK bytes as UTF-8 text; a byte sequence GBK does not define becomes U+FFFD.
[[nodiscard]] std::string FromGbk(std::string_view gbk);
// How much of the log's end the program's own view shows.
inline constexpr std::uint64_t kShownLogTail = 4u << 20;

// "    %Y-%m-%d %H:%M:%S" of a local time (four leading blanks).
[[nodiscard]] std::string LogTimeStamp(std::time_t when);

class ChangeLog {
 public:
  // The shell's "open" action on a file; false when it could not be opened.
  using ShellOpen = std::function<bool(const std::filesystem::path&)>;
  // The program's own view of the log, given its text as UTF-8.
  using ShowText = std::function<void(const std::string& utf8)>;

  // `path` is the full path, taken once at start-up.
  explicit ChangeLog(std::filesystem::path path) : path_(std::move(path)) {}
  ~ChangeLog();
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // The log in a base directory.
  [[nodiscard]] static std::filesystem::path PathIn(const std::filesystem::path& base) {
    return base / kChangeLogName;
  }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

  // Start-up: creates the log when it is missing, never truncates it.
  bool Prepare();

  // Starts a record: opens the log (re-creating it when it was deleted meanwhile),
  // empties it when it has reached the limit, and positions at its end. False when
  // it cannot be opened; the caller then saves nothing.
  [[nodiscard]] bool OpenRecord();
  // Record heads: the title line names the file (user file) or the chip (chip data).
  void WriteUserFileHead(std::string_view time_stamp, std::string_view file_name);
  void WriteChipDataHead(std::string_view time_stamp, std::string_view chip_name);
  // One changed byte; `old_value` is empty for a byte past the source file's end.
  void WriteChange(std::uint64_t offset, std::optional<std::uint8_t> old_value,
                   std::uint8_t new_value);
  void WriteSavedAs(std::string_view chip_name, std::string_view file_name);
  void WriteEnd();
  // Flushes and closes; false when any part of the record could not be written.
  [[nodiscard]] bool CloseRecord();
  [[nodiscard]] bool RecordOpen() const { return fd_ >= 0; }

  // Help > "Operate log": opens the log with the shell; "not find file" when it is
  // missing. When the desktop has no viewer for it, `show_here` gets its text
  // (decoded from GBK; the last kShownLogTail bytes of a longer log, from a line start).
  void Show(Host& host, const ShellOpen& open_with_shell, const ShowText& show_here);
  // The log's text as `show_here` gets it; empty when it cannot be read.
  [[nodiscard]] std::string ShownText() const;

 private:
  void Append(std::string_view bytes);
  bool Flush();

  std::filesystem::path path_;
  int fd_ = -1;
  bool failed_ = false;
  std::string pending_;
};

}  // namespace tarvix
