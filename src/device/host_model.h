// SPDX-License-Identifier: GPL-3.0-or-later
// The reporting state every front end shows: status line, warning-beep requests,
// log pane, progress bar, command enablement and captions, pictures. Operations
// change it through the Host calls (from the worker thread); views read snapshots
// and follow the change notices. Message boxes, sounds and the beep itself are
// presentation, left to the window, the command-line tool or the tests.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/host.h"
#include "device/log_pane.h"
#include "state/command_state.h"
#include "state/main_state.h"

namespace tarvix {

struct StatusLine {
  std::string text = "state";  // the label's text when the window is created
  bool red = false;
};

struct ProgressState {
  bool visible = false;
  int position = 0;  // 0 to 100
  std::string caption;
  CaptionAlign align = CaptionAlign::kLeft;
};

// Picture controls and their start-up images.
inline constexpr int kChipPictureControl = 1071;
inline constexpr int kSecondPictureControl = 1073;
inline constexpr int kSecondPictureDefault = 208;

class HostModel : public Host {
 public:
  enum class Change { kStatus, kBeep, kInformationBeep, kLog, kProgress, kPicture };
  using Listener = std::function<void(Change)>;

  // `state`, when given, receives the red flag of every status as well.
  explicit HostModel(LocalTimeSource clock = SystemLocalTime, MainState* state = nullptr);

  void ShowStatus(std::string_view text, bool red, bool beep) override;
  void AppendLogLine(std::string_view text) override;
  void ClearLog() override;
  void SetProgress(int position, std::string_view caption, CaptionAlign align) override;
  void ShowProgress(bool visible) override;
  // An "Information" box with OK and Cancel, through MessageBox.
  [[nodiscard]] bool Confirm(std::string_view question) override;
  void DisableCommand(int id) override { commands_.DisableCommand(id); }
  void EnableCommand(int id) override { commands_.EnableCommand(id); }
  void GrayMenuItem(int id) override { commands_.GrayMenuItem(id); }
  void EnableMenuItem(int id) override { commands_.EnableMenuItem(id); }
  void SetBusyCaption(int id, bool busy) override { commands_.SetBusyCaption(id, busy); }
  void SetPicture(int control_id, int picture) override;
  // Notifies kPicture when it changes.
  void SetProgrammerPresent(bool present) override;
  // Counts the request, notifies kInformationBeep and plays it (InformationSound).
  void InformationBeep() override;
  // MessageBox and PlaySound stay with the front end.

  [[nodiscard]] StatusLine Status() const;
  // Number of warning beeps asked for so far.
  [[nodiscard]] int BeepRequests() const;
  // Number of information beeps asked for so far.
  [[nodiscard]] int InformationBeepRequests() const;
  [[nodiscard]] std::vector<std::string> LogLines() const;
  // The pane's text, lines separated by "\r\n".
  [[nodiscard]] std::string LogText() const;
  [[nodiscard]] ProgressState Progress() const;
  // 0 when nothing was set for that control.
  [[nodiscard]] int Picture(int control_id) const;
  // True until the link finds no programmer on the bus.
  [[nodiscard]] bool ProgrammerPresent() const;
  [[nodiscard]] CommandState& Commands() { return commands_; }
  [[nodiscard]] const CommandState& Commands() const { return commands_; }

  // Called on the thread that made the change, after the state was updated.
  void AddListener(Listener listener);

 protected:
  // The warning sound itself; the model has already counted the request.
  virtual void Beep() {}
  // The information sound itself; counted already as well.
  virtual void InformationSound() {}
  // A line entered the log pane (`replaced`: it refreshed the last line).
  virtual void LogLineAdded(const std::string& /*line*/, bool /*replaced*/) {}
  // The progress bar changed.
  virtual void ProgressChanged(const ProgressState& /*progress*/) {}

 private:
  void Notify(Change change);
  // Shared by ShowStatus and AppendLogLine, so a status is one call, not two.
  void AddLogLine(std::string_view text);

  mutable std::mutex mutex_;
  MainState* state_;
  StatusLine status_;
  int beeps_ = 0;
  int information_beeps_ = 0;
  LogPane log_;
  ProgressState progress_;
  std::map<int, int> pictures_;
  bool programmer_present_ = true;
  CommandState commands_;
  std::vector<Listener> listeners_;
};

}  // namespace tarvix
