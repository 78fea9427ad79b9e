// SPDX-License-Identifier: GPL-3.0-or-later
// The reporting Host of the command-line tool. Status lines go to stderr as the log
// pane shows them (time-stamped); a text repeated in a row refreshes its line, as the
// pane refreshes it, instead of printing again. The progress bar is drawn on stderr
// when it is a terminal. Questions are answered OK/Yes with --yes, otherwise asked on
// the terminal, and refused when stdin is not one (a script never hangs on a prompt).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

#include "device/host_model.h"

namespace tarvix::cli {

struct CliHostOptions {
  bool yes = false;             // --yes: every question answered OK/Yes
  bool stdin_is_tty = false;    // questions may be asked
  bool stderr_is_tty = false;   // a progress bar may be drawn, lines refreshed in place
  std::istream* in = nullptr;   // answers (std::cin when null)
  std::ostream* err = nullptr;  // status lines, boxes, bar (std::cerr when null)
  // Milliseconds of a steady clock, for the bar's time estimate (steady_clock when null).
  std::function<std::int64_t()> now_ms;

  // The process's own terminal.
  static CliHostOptions FromTerminal(bool yes);
};

class CliHost : public HostModel {
 public:
  explicit CliHost(CliHostOptions options, LocalTimeSource clock = SystemLocalTime,
                   MainState* state = nullptr);

  // Prints "title: text" and answers by the rules above; a box with only OK is
  // answered OK. After an interrupt every question is refused.
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override;
  void ShowStatus(std::string_view text, bool red, bool beep) override;
  // The last status text of this run; empty when none was shown (for --json).
  [[nodiscard]] std::string LastStatus() const;
  // No sound on a terminal.
  void PlaySound(const std::filesystem::path& /*wave*/) override {}

  // A line of the tool's own, time-stamped like a status line but kept out of the
  // status (and out of --json); repeated in a row it refreshes its line too.
  void Notice(std::string_view text);
  // Something else (a result on stdout) was printed: the last line can no longer be
  // refreshed in place.
  void BreakLine();

  // The user pressed Ctrl-C: questions are refused from now on and no status line
  // that claims success is shown (a stopped run is no success). Signal-thread safe.
  void SetInterrupted() { interrupted_.store(true); }
  [[nodiscard]] bool Interrupted() const { return interrupted_.load(); }

  // Boxes with this title are kept instead of printed (a command that prints their
  // text as its result); the last one's text.
  void CaptureBoxes(std::string title);
  [[nodiscard]] std::string CapturedBox() const;

 protected:
  void Beep() override;
  void InformationSound() override;
  void LogLineAdded(const std::string& line, bool replaced) override;
  void ProgressChanged(const ProgressState& progress) override;

 private:
  std::ostream& Err();
  // Prints `stamped` (whose text is `text`) as a new line, or with `refresh` rewrites
  // the last line with it. Call with out_mutex_ held.
  void EchoLine(const std::string& stamped, std::string_view text, bool refresh);
  // Removes a drawn bar so that a text line starts at column 0; true if one was drawn.
  bool ClearBar();
  void DrawBar();
  std::int64_t NowMs() const;

  CliHostOptions options_;
  LocalTimeSource clock_;
  mutable std::mutex out_mutex_;  // the worker and the main thread both print
  std::string last_status_;
  std::string echoed_text_;      // text of the last line printed
  bool echoed_is_last_ = false;  // nothing was printed below it since
  std::atomic<bool> interrupted_{false};
  std::string capture_title_;
  std::string captured_;
  ProgressState bar_;
  bool bar_drawn_ = false;
  std::int64_t bar_started_ms_ = 0;
  std::string bar_word_;  // the caption without its number: a new word is a new step
};

// A text as a terminal wants it: "\r\n" as "\n", control characters escaped.
[[nodiscard]] std::string TerminalText(std::string_view text);

// "m:ss" of a number of seconds.
[[nodiscard]] std::string MinutesSeconds(std::int64_t seconds);

}  // namespace tarvix::cli
