// SPDX-License-Identifier: GPL-3.0-or-later
// The log pane: one time-stamped line per logged text. A text logged twice in a row
// refreshes the time stamp of its line instead of adding another.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

struct LocalTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Where the log takes its time of day from; injectable so tests are deterministic.
using LocalTimeSource = std::function<LocalTime()>;
[[nodiscard]] LocalTime SystemLocalTime();

// "9:05:07  ": hours, two-digit minutes and seconds, two blanks.
[[nodiscard]] std::string LogTimeStamp(LocalTime time);

class LogPane {
 public:
  explicit LogPane(LocalTimeSource clock = SystemLocalTime);

  struct Appended {
    std::string line;       // as the pane shows it, time stamp first
    bool replaced = false;  // the last line was refreshed rather than a new one added
  };
  Appended Append(std::string_view text);
  // Empties the pane; the last logged text is kept, as it lives as long as the process.
  void Clear() { lines_.clear(); }

  [[nodiscard]] const std::vector<std::string>& Lines() const { return lines_; }
  // The pane's whole text: the lines separated by "\r\n".
  [[nodiscard]] std::string Text() const;
  [[nodiscard]] const std::string& LastText() const { return last_text_; }

 private:
  LocalTimeSource clock_;
  std::vector<std::string> lines_;
  std::string last_text_;
};

}  // namespace tarvix
