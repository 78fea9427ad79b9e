// SPDX-License-Identifier: GPL-3.0-or-later
// "VRNT_Tarvix Firmware Upgrade": picks a ".tvx" file and hands worker command 21
// over. A view of the program's FirmwareUpgradeDialog model: the worker moves the bar
// and writes its text through the model, and the dialog refuses to close while an
// upgrade runs.
#pragma once

#include "gui/dialog_frame.h"
#include "gui/file_choosers.h"

class QLineEdit;
class QPushButton;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class CaptionProgressBar;

class FirmwareUpgradeWindow : public DialogFrame {
  Q_OBJECT

 public:
  FirmwareUpgradeWindow(QWidget* parent, Program& program, const FileChoosers& choosers);

  [[nodiscard]] QLineEdit* PathBox() const { return path_; }
  [[nodiscard]] QPushButton* BrowseButton() const { return browse_; }
  [[nodiscard]] QPushButton* UpgradeButton() const { return upgrade_; }
  [[nodiscard]] CaptionProgressBar* Bar() const { return bar_; }

  // The close box and Escape: ignored while an upgrade runs.
  void reject() override;
  // Shows the bar as the model has it.
  void SyncBar();

 private:
  void Browse();
  void Upgrade();
  void SyncFile();

  Program& program_;
  const FileChoosers& choosers_;
  QLineEdit* path_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* upgrade_ = nullptr;
  CaptionProgressBar* bar_ = nullptr;
};

}  // namespace tarvix::gui
