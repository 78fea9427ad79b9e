// SPDX-License-Identifier: GPL-3.0-or-later
// Host: everything an operation may do to the outside world. Operations report and
// ask only through it; the window, the command-line tool and the tests each provide
// one. HostModel (host_model.h) keeps the state the window shows (status line, log
// pane, progress, command enablement and captions) so that state lives in the core.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tarvix {

enum class BoxIcon : std::uint8_t { kNone, kInformation, kWarning, kError, kQuestion };
enum class BoxButtons : std::uint8_t { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class BoxAnswer : std::uint8_t { kOk, kCancel, kYes, kNo };

// Alignment of the progress bar caption.
enum class CaptionAlign : std::uint8_t { kLeft = 0, kCentre = 1, kRight = 2 };

class Host {
 public:
  virtual ~Host() = default;

  // Status line text with the red error colour and an optional warning beep; the
  // same text goes to the log pane as a time-stamped line.
  virtual void ShowStatus(std::string_view text, bool red, bool beep) = 0;
  virtual void AppendLogLine(std::string_view text) = 0;
  virtual void ClearLog() = 0;

  virtual void SetProgress(int position, std::string_view caption, CaptionAlign align) = 0;
  virtual void ShowProgress(bool visible) = 0;

  // "Information" box with OK and Cancel; true on OK.
  [[nodiscard]] virtual bool Confirm(std::string_view question) = 0;
  virtual BoxAnswer MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                               BoxButtons buttons) = 0;

  // A control together with the menu item of the same id.
  virtual void DisableCommand(int id) = 0;
  virtual void EnableCommand(int id) = 0;
  // Menu items without a button ("Chip Fill", "View Data", ...).
  virtual void GrayMenuItem(int id) = 0;
  virtual void EnableMenuItem(int id) = 0;
  // An operation button's busy (stop) or idle caption, image and tooltip.
  virtual void SetBusyCaption(int id, bool busy) = 0;

  // The system's information sound (a finished firmware upgrade), as against the
  // warning beep a status line may ask for.
  virtual void InformationBeep() = 0;

  // Plays a wave file; callers have already checked the "Remind Sound" setting.
  virtual void PlaySound(const std::filesystem::path& wave) = 0;
  // The chip picture (control 1071) or the second picture (1073), by image number.
  virtual void SetPicture(int control_id, int picture) = 0;
  // Whether the programmer was on the bus when the link last looked; the window dims
  // the programmer picture's lights while it is not.
  virtual void SetProgrammerPresent(bool present) { (void)present; }

  // Runs `call` where the window's models live and returns when it has run. The few
  // steps of an operation that change what the window shows (the chip lists, the
  // loaded image) go through here; without a window thread it runs at once.
  virtual void WindowCall(const std::function<void()>& call) { call(); }
};

}  // namespace tarvix
