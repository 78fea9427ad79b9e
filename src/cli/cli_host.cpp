// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_host.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <string>

#include "cli/terminal_output.h"

namespace tarvix::cli {

namespace {
constexpr int kBarWidth = 30;
// Below this the rate is too uncertain for an estimate to help.
constexpr std::int64_t kEtaAfterMs = 2000;

bool IsYes(std::string answer) {
  answer.erase(
      std::remove_if(answer.begin(), answer.end(), [](unsigned char c) { return std::isspace(c); }),
      answer.end());
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return answer == "y" || answer == "yes" || answer == "o" || answer == "ok";
}

// Every success text of the operations says "succeed" ("Read succeed.", "write
// succeed,", "Fill succeed", "firmware upgrade succeed...").
bool ClaimsSuccess(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("succeed") != std::string::npos;
}

// "Read13%" -> "Read%": what stays the same while one step runs.
std::string CaptionWord(std::string_view caption) {
  std::string word;
  for (const char c : caption)
    if (!std::isdigit(static_cast<unsigned char>(c))) word += c;
  return word;
}

// The log pane's line is its time stamp, two blanks, then the text.
std::size_t TextStart(const std::string& line) {
  const std::size_t gap = line.find("  ");
  return gap == std::string::npos ? 0 : gap + 2;
}
}  // namespace

CliHostOptions CliHostOptions::FromTerminal(bool yes) {
  CliHostOptions o;
  o.yes = yes;
  o.stdin_is_tty = ::isatty(STDIN_FILENO) == 1;
  o.stderr_is_tty = ::isatty(STDERR_FILENO) == 1;
  return o;
}

std::string TerminalText(std::string_view text) {
  return EscapeControls(text);
}

std::string MinutesSeconds(std::int64_t seconds) {
  const std::int64_t s = std::max<std::int64_t>(seconds, 0);
  const std::int64_t rest = s % 60;
  return std::to_string(s / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

CliHost::CliHost(CliHostOptions options, LocalTimeSource clock, MainState* state)
    : HostModel(clock, state), options_(std::move(options)), clock_(std::move(clock)) {
  if (!clock_) clock_ = SystemLocalTime;
}

std::ostream& CliHost::Err() {
  // The host escapes what it prints itself; its own bar and line refreshes must not be.
  return options_.err != nullptr ? *options_.err : OwnSequences();
}

std::int64_t CliHost::NowMs() const {
  if (options_.now_ms) return options_.now_ms();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CliHost::ShowStatus(std::string_view text, bool red, bool beep) {
  {
    std::lock_guard lock(out_mutex_);
    last_status_ = text;
  }
  HostModel::ShowStatus(text, red, beep);
}

std::string CliHost::LastStatus() const {
  std::lock_guard lock(out_mutex_);
  return last_status_;
}

void CliHost::CaptureBoxes(std::string title) {
  std::lock_guard lock(out_mutex_);
  capture_title_ = std::move(title);
}

std::string CliHost::CapturedBox() const {
  std::lock_guard lock(out_mutex_);
  return captured_;
}

BoxAnswer CliHost::MessageBox(std::string_view text, std::string_view title, BoxIcon /*icon*/,
                              BoxButtons buttons) {
  std::lock_guard lock(out_mutex_);
  if (buttons == BoxButtons::kOk && !capture_title_.empty() && title == capture_title_) {
    captured_ = text;
    return BoxAnswer::kOk;
  }
  const bool redraw = ClearBar();
  Err() << TerminalText(title) << ": " << TerminalText(text) << "\n";
  echoed_is_last_ = false;
  BoxAnswer answer = BoxAnswer::kOk;
  const bool yes_no = buttons == BoxButtons::kYesNo || buttons == BoxButtons::kYesNoCancel;
  const BoxAnswer accept = yes_no ? BoxAnswer::kYes : BoxAnswer::kOk;
  const BoxAnswer refuse = yes_no ? BoxAnswer::kNo : BoxAnswer::kCancel;
  if (buttons != BoxButtons::kOk) {
    if (Interrupted()) {
      answer = refuse;
      Err() << "(interrupted: answered " << (yes_no ? "No" : "Cancel") << ")\n";
    } else if (options_.yes) {
      answer = accept;
    } else if (options_.stdin_is_tty) {
      Err() << (yes_no ? "[y/n] " : "[ok/cancel] ") << std::flush;
      std::string line;
      std::istream& in = options_.in != nullptr ? *options_.in : std::cin;
      // Ctrl-C at the prompt ends the read (no restart of the call): that refuses.
      answer = std::getline(in, line) && !Interrupted() && IsYes(line) ? accept : refuse;
      if (Interrupted()) Err() << "\n";
    } else {
      answer = refuse;
      Err() << "(not a terminal: answered " << (yes_no ? "No" : "Cancel")
            << "; use --yes to accept)\n";
    }
  }
  if (redraw) DrawBar();
  Err().flush();
  return answer;
}

void CliHost::Beep() {
  std::lock_guard lock(out_mutex_);
  if (options_.stderr_is_tty) Err() << '\a' << std::flush;
}

void CliHost::InformationSound() {
  // A terminal has one bell for both sounds.
  Beep();
}

void CliHost::Notice(std::string_view text) {
  std::lock_guard lock(out_mutex_);
  EchoLine(LogTimeStamp(clock_()) + std::string(text), text, text == echoed_text_);
}

void CliHost::BreakLine() {
  std::lock_guard lock(out_mutex_);
  echoed_is_last_ = false;
}

void CliHost::LogLineAdded(const std::string& line, bool /*replaced*/) {
  std::lock_guard lock(out_mutex_);
  const std::size_t start = TextStart(line);
  const std::string_view text = std::string_view(line).substr(start);
  if (Interrupted() && ClaimsSuccess(text)) return;
  // What the pane refreshes (a repeated text, the bulk wait's line once a second) is
  // refreshed here too. The terminal's own last line decides rather than the pane's:
  // the pane forgets its lines when an auto run clears it, the terminal does not.
  EchoLine(line, text, text == echoed_text_);
}

void CliHost::EchoLine(const std::string& stamped, std::string_view text, bool refresh) {
  if (refresh) {
    // A terminal can rewrite the line only while it is still the last one; anything
    // else would just print it again.
    if (!options_.stderr_is_tty || !echoed_is_last_) return;
    const bool redraw = ClearBar();
    Err() << "\x1b[1A\r\x1b[K" << TerminalText(stamped) << "\n";
    if (redraw) DrawBar();
    Err().flush();
    return;
  }
  const bool redraw = ClearBar();
  Err() << TerminalText(stamped) << "\n";
  echoed_text_ = text;
  echoed_is_last_ = true;
  if (redraw) DrawBar();
  Err().flush();
}

void CliHost::ProgressChanged(const ProgressState& progress) {
  if (!options_.stderr_is_tty) return;
  std::lock_guard lock(out_mutex_);
  const bool changed = progress.visible != bar_.visible || progress.position != bar_.position ||
                       progress.caption != bar_.caption;
  // A new step (shown again, started over, or a new caption word) restarts the estimate.
  const std::string word = CaptionWord(progress.caption);
  if (progress.visible && (!bar_.visible || progress.position < bar_.position || word != bar_word_))
    bar_started_ms_ = NowMs();
  bar_word_ = word;
  bar_ = progress;
  if (!changed) return;
  if (progress.visible) {
    DrawBar();
  } else {
    ClearBar();
  }
  Err().flush();
}

bool CliHost::ClearBar() {
  if (!bar_drawn_) return false;
  Err() << "\r\x1b[K";
  bar_drawn_ = false;
  return true;
}

void CliHost::DrawBar() {
  if (!options_.stderr_is_tty || !bar_.visible) return;
  const int filled = bar_.position * kBarWidth / 100;
  Err() << "\r\x1b[K[" << std::string(filled, '#') << std::string(kBarWidth - filled, '-') << "] ";
  // The operations' captions carry the percentage already ("Read13%").
  if (bar_.caption.find('%') == std::string::npos) Err() << bar_.position << "% ";
  Err() << TerminalText(bar_.caption);
  const std::int64_t elapsed = NowMs() - bar_started_ms_;
  if (bar_.position > 0 && bar_.position < 100 && elapsed >= kEtaAfterMs) {
    const std::int64_t left_ms = elapsed * (100 - bar_.position) / bar_.position;
    Err() << "  ETA " << MinutesSeconds((left_ms + 999) / 1000);
  }
  bar_drawn_ = true;
}

}  // namespace tarvix::cli
