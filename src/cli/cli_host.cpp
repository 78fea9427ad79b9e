#include "cli/cli_host.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

namespace tarvix::cli {

namespace {
constexpr int kBarWidth = 30;

bool IsYes(std::string answer) {
  answer.erase(
      std::remove_if(answer.begin(), answer.end(), [](unsigned char c) { return std::isspace(c); }),
      answer.end());
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return answer == "y" || answer == "yes" || answer == "o" || answer == "ok";
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
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

CliHost::CliHost(CliHostOptions options, LocalTimeSource clock, MainState* state)
    : HostModel(std::move(clock), state), options_(options) {}

std::ostream& CliHost::Err() {
  return options_.err != nullptr ? *options_.err : std::cerr;
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

BoxAnswer CliHost::MessageBox(std::string_view text, std::string_view title, BoxIcon /*icon*/,
                              BoxButtons buttons) {
  std::lock_guard lock(out_mutex_);
  const bool redraw = ClearBar();
  Err() << title << ": " << TerminalText(text) << "\n";
  BoxAnswer answer = BoxAnswer::kOk;
  const bool yes_no = buttons == BoxButtons::kYesNo || buttons == BoxButtons::kYesNoCancel;
  const BoxAnswer accept = yes_no ? BoxAnswer::kYes : BoxAnswer::kOk;
  const BoxAnswer refuse = yes_no ? BoxAnswer::kNo : BoxAnswer::kCancel;
  if (buttons != BoxButtons::kOk) {
    if (options_.yes) {
      answer = accept;
    } else if (options_.stdin_is_tty) {
      Err() << (yes_no ? "[y/n] " : "[ok/cancel] ") << std::flush;
      std::string line;
      std::istream& in = options_.in != nullptr ? *options_.in : std::cin;
      answer = std::getline(in, line) && IsYes(line) ? accept : refuse;
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

void CliHost::LogLineAdded(const std::string& line, bool /*replaced*/) {
  // A refreshed line is printed again: a terminal cannot rewrite what scrolled away.
  std::lock_guard lock(out_mutex_);
  const bool redraw = ClearBar();
  Err() << TerminalText(line) << "\n";
  if (redraw) DrawBar();
  Err().flush();
}

void CliHost::ProgressChanged(const ProgressState& progress) {
  if (!options_.stderr_is_tty) return;
  std::lock_guard lock(out_mutex_);
  const bool changed = progress.visible != bar_.visible || progress.position != bar_.position ||
                       progress.caption != bar_.caption;
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
  Err() << "\r\x1b[K[" << std::string(filled, '#') << std::string(kBarWidth - filled, '-') << "] "
        << bar_.position << "% " << bar_.caption;
  bar_drawn_ = true;
}

}  // namespace tarvix::cli
