// The reporting Host of the command-line tool. Status lines go to stderr as the log
// pane shows them (time-stamped); the progress bar is drawn on stderr when it is a
// terminal. Questions are answered OK/Yes with --yes, otherwise asked on the
// terminal, and refused when stdin is not one (a script never hangs on a prompt).
#pragma once

#include <iosfwd>
#include <mutex>
#include <string>

#include "device/host_model.h"

namespace tarvix::cli {

struct CliHostOptions {
  bool yes = false;             // --yes: every question answered OK/Yes
  bool stdin_is_tty = false;    // questions may be asked
  bool stderr_is_tty = false;   // a progress bar may be drawn
  std::istream* in = nullptr;   // answers (std::cin when null)
  std::ostream* err = nullptr;  // status lines, boxes, bar (std::cerr when null)

  // The process's own terminal.
  static CliHostOptions FromTerminal(bool yes);
};

class CliHost : public HostModel {
 public:
  explicit CliHost(CliHostOptions options, LocalTimeSource clock = SystemLocalTime,
                   MainState* state = nullptr);

  // Prints "title: text" and answers by the rules above; a box with only OK is
  // answered OK.
  BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                       BoxButtons buttons) override;
  void ShowStatus(std::string_view text, bool red, bool beep) override;
  // The last status text of this run; empty when none was shown (for --json).
  [[nodiscard]] std::string LastStatus() const;
  // No sound on a terminal.
  void PlaySound(const std::filesystem::path& /*wave*/) override {}

 protected:
  void Beep() override;
  void InformationSound() override;
  void LogLineAdded(const std::string& line, bool replaced) override;
  void ProgressChanged(const ProgressState& progress) override;

 private:
  std::ostream& Err();
  // Removes a drawn bar so that a text line starts at column 0; true if one was drawn.
  bool ClearBar();
  void DrawBar();

  CliHostOptions options_;
  mutable std::mutex out_mutex_;  // the worker and the main thread both print
  std::string last_status_;
  ProgressState bar_;
  bool bar_drawn_ = false;
};

// "\r\n" as a terminal wants it ("\n").
[[nodiscard]] std::string TerminalText(std::string_view text);

}  // namespace tarvix::cli
