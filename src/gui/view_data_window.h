// SPDX-License-Identifier: GPL-3.0-or-later
// "View Data": the byte at one address in the image and on the chip. A view of the
// program's ViewDataDialog model: OK (or Enter) goes to Program::ViewDataOk, and the
// texts follow the model, whose chip side the worker fills in.
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

class ViewDataWindow : public DialogFrame {
  Q_OBJECT

 public:
  ViewDataWindow(QWidget* parent, Program& program, QtHost& host);

  [[nodiscard]] QLineEdit* AddressBox() const { return address_; }
  [[nodiscard]] QLabel* FileData() const { return file_data_; }
  [[nodiscard]] QLabel* ChipData() const { return chip_data_; }
  [[nodiscard]] QLabel* StateText() const { return state_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }
  // Shows the model's texts (after each change the model reports).
  void Sync();

 private:
  Program& program_;
  QLineEdit* address_ = nullptr;
  QLabel* file_data_ = nullptr;
  QLabel* chip_data_ = nullptr;
  QLabel* state_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tarvix::gui
