// SPDX-License-Identifier: GPL-3.0-or-later
// "Fill file data": a run of one byte value written into the image, optionally
// appended at its end. A view of the core's FileFill; the dialog stays open after OK.
#pragma once

#include <memory>

#include "gui/dialog_frame.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvix {
class FileFill;
class Program;
}  // namespace tarvix

namespace tarvix::gui {

class QtHost;

class FileFillWindow : public DialogFrame {
  Q_OBJECT

 public:
  FileFillWindow(QWidget* parent, Program& program, QtHost& host);
  ~FileFillWindow() override;

  [[nodiscard]] QLineEdit* AddressBox() const { return address_; }
  [[nodiscard]] QLineEdit* LengthBox() const { return length_; }
  [[nodiscard]] QLineEdit* DataBox() const { return data_; }
  [[nodiscard]] QLabel* StateText() const { return state_; }
  [[nodiscard]] QCheckBox* FromEndBox() const { return from_end_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }

 private:
  void TakeOver();  // the boxes' texts into the model
  void Ok();
  void Sync();

  std::unique_ptr<FileFill> model_;
  QLineEdit* address_ = nullptr;
  QLineEdit* length_ = nullptr;
  QLineEdit* data_ = nullptr;
  QLabel* state_ = nullptr;
  QCheckBox* from_end_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tarvix::gui
