// SPDX-License-Identifier: GPL-3.0-or-later
// "Move to specify addr": moves the hex view to an address and focuses its byte. It
// is modeless and stays open after OK; its OK is usable only while the menu item is.
#pragma once

#include "gui/dialog_frame.h"

class QLineEdit;
class QPushButton;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class QtHost;

class MoveToWindow : public DialogFrame {
  Q_OBJECT

 public:
  MoveToWindow(QWidget* parent, Program& program, QtHost& host);

  [[nodiscard]] QLineEdit* AddressBox() const { return address_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }

 private:
  void SyncOk();

  Program& program_;
  QtHost& host_;
  QLineEdit* address_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tarvix::gui
