// SPDX-License-Identifier: GPL-3.0-or-later
// "Version": the update check's five lines and the link to the maker's web site. The
// check runs off the window thread; until its result is in, the first line tells what
// it is doing. A failed fetch closes the dialog and shows the check's boxes instead.
#pragma once

#include <QString>
#include <memory>

#include "gui/dialog_frame.h"
#include "net/service_config.h"
#include "net/update_check.h"

class QLabel;
class QPushButton;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class QtHost;

class VersionWindow : public DialogFrame {
  Q_OBJECT

 public:
  VersionWindow(QWidget* parent, Program& program, QtHost& host, UpdateCheckConfig config);
  ~VersionWindow() override;

  // Shows `result` as the finished check would (also used by the screenshot tour).
  void ShowResult(const UpdateCheckResult& result);

  [[nodiscard]] QLabel* Line(int index) const { return lines_[index]; }
  [[nodiscard]] QLabel* Link() const { return link_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }
  [[nodiscard]] bool Checking() const;

 private:
  void Refresh();

  QtHost& host_;
  QLabel* lines_[5] = {};
  QLabel* link_ = nullptr;
  QPushButton* ok_ = nullptr;
  std::unique_ptr<UpdateCheck> check_;
  bool shown_ = false;
};

}  // namespace tarvix::gui
