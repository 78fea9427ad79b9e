// SPDX-License-Identifier: GPL-3.0-or-later
// "File Division": cuts a file into pieces at the offsets listed in the nodes box and
// writes them beside it. A view of the core's DivideFile; it stays open after OK.
#pragma once

#include "gui/dialog_frame.h"
#include "gui/file_choosers.h"

class QLineEdit;
class QPushButton;

namespace tarvix::gui {

class QtHost;

class FileDivisionWindow : public DialogFrame {
  Q_OBJECT

 public:
  FileDivisionWindow(QWidget* parent, QtHost& host, const FileChoosers& choosers);

  [[nodiscard]] QLineEdit* FileBox() const { return file_; }
  [[nodiscard]] QLineEdit* NodesBox() const { return nodes_; }
  [[nodiscard]] QPushButton* BrowseButton() const { return browse_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }

 private:
  void Browse();
  void Ok();

  QtHost& host_;
  const FileChoosers& choosers_;
  QLineEdit* file_ = nullptr;
  QLineEdit* nodes_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace tarvix::gui
