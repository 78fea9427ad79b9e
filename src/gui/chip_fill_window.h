// SPDX-License-Identifier: GPL-3.0-or-later
// "Fill chip data": one fill value into an address range of the chip. A view of the
// program's ChipFillDialog model: the fields are checked as they are typed, OK (or
// Enter) hands worker command 19 over, and the worker writes the state line and
// disables Cancel through the model while it rewrites blocks; the dialog does not
// close meanwhile.
#pragma once

#include "gui/dialog_frame.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class QtHost;

class ChipFillWindow : public DialogFrame {
  Q_OBJECT

 public:
  ChipFillWindow(QWidget* parent, Program& program, QtHost& host);

  [[nodiscard]] QLineEdit* AddressBox() const { return address_; }
  [[nodiscard]] QLineEdit* LengthBox() const { return length_; }
  // The byte field, or the word field for chips counted in 16-bit words.
  [[nodiscard]] QLineEdit* DataBox() const { return data_; }
  [[nodiscard]] QLabel* StateLine() const { return state_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }
  [[nodiscard]] QPushButton* CancelButton() const { return cancel_; }

  // Cancel, the close box and Escape: refused while the fill writes blocks.
  void reject() override;
  // Shows the state line and the Cancel button as the model has them.
  void Sync();

 private:
  void Ok();

  Program& program_;
  QtHost& host_;
  QLineEdit* address_ = nullptr;
  QLineEdit* length_ = nullptr;
  QLineEdit* data_ = nullptr;
  QLabel* state_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace tarvix::gui
