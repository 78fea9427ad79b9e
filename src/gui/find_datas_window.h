// SPDX-License-Identifier: GPL-3.0-or-later
// "Find datas": searches the image for bytes given as hexadecimal or as characters.
// A view of the core's FindDatasDialog: OK starts the search on the worker and becomes
// "next"; the search waits at each match until "next", a changed pattern, or Cancel,
// the close box or Escape. Nothing here waits for the worker: a restart after a
// changed pattern is polled by a timer, so the window thread keeps serving the
// search's own window calls meanwhile.
#pragma once

#include <memory>

#include "gui/dialog_frame.h"

class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tarvix {
class FindDatasDialog;
class Program;
}  // namespace tarvix

namespace tarvix::gui {

class QtHost;

class FindDatasWindow : public DialogFrame {
  Q_OBJECT

 public:
  FindDatasWindow(QWidget* parent, Program& program, QtHost& host);
  ~FindDatasWindow() override;

  [[nodiscard]] QLineEdit* AimBox() const { return aim_; }
  [[nodiscard]] QRadioButton* HexButton() const { return hex_; }
  [[nodiscard]] QRadioButton* CharButton() const { return char_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }
  [[nodiscard]] bool RestartPending() const;

  // Cancel, the close box and Escape: the waiting search stops.
  void reject() override;

 private:
  void Ok();

  std::unique_ptr<FindDatasDialog> model_;
  QLineEdit* aim_ = nullptr;
  QRadioButton* hex_ = nullptr;
  QRadioButton* char_ = nullptr;
  QPushButton* ok_ = nullptr;
  QTimer* restart_ = nullptr;
};

}  // namespace tarvix::gui
