// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/log_pane.h"

#include <cstdio>
#include <ctime>

namespace tarvix {

LocalTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

std::string LogTimeStamp(LocalTime time) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d:%2d:%2d**", time.hour, time.minute, time.second);
  std::string stamp = buffer;
  for (char& c : stamp) {
    if (c == ' ')
      c = '0';
    else if (c == '*')
      c = ' ';
  }
  return stamp;
}

LogPane::LogPane(LocalTimeSource clock)
    : clock_(clock ? std::move(clock) : LocalTimeSource(SystemLocalTime)) {}

LogPane::Appended LogPane::Append(std::string_view text) {
  Appended result;
  result.line = LogTimeStamp(clock_());
  result.line.append(text);
  if (text == last_text_ && !lines_.empty()) {
    lines_.back() = result.line;
    result.replaced = true;
  } else {
    lines_.push_back(result.line);
  }
  last_text_ = text;
  return result;
}

std::string LogPane::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

}  // namespace tarvix
