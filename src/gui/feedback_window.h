// SPDX-License-Identifier: GPL-3.0-or-later
// "Feedback": theme, problem and contact mailed to the maker's support address. The
// send runs off the window thread; while it works, Send is grayed and the line above
// the buttons tells the step. The dialog keeps its fields and stays open after a send.
#pragma once

#include <memory>

#include "gui/dialog_frame.h"
#include "net/feedback.h"
#include "net/service_config.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tarvix::gui {

class QtHost;

class FeedbackWindow : public DialogFrame {
  Q_OBJECT

 public:
  FeedbackWindow(QWidget* parent, QtHost& host, FeedbackConfig config);
  ~FeedbackWindow() override;

  [[nodiscard]] QLineEdit* ThemeBox() const { return theme_; }
  [[nodiscard]] QPlainTextEdit* ProblemBox() const { return problem_; }
  [[nodiscard]] QLineEdit* ContactBox() const { return contact_; }
  [[nodiscard]] QPushButton* SendButton() const { return send_; }
  [[nodiscard]] QLabel* StepLine() const { return step_; }
  [[nodiscard]] bool Sending() const;

 public slots:
  // Cancel and the close box leave at once; a mail on its way is stopped.
  void reject() override;

 private:
  void Send();
  void Refresh();

  QtHost& host_;
  QLineEdit* theme_ = nullptr;
  QPlainTextEdit* problem_ = nullptr;
  QLineEdit* contact_ = nullptr;
  QLabel* step_ = nullptr;
  QPushButton* send_ = nullptr;
  std::unique_ptr<FeedbackSend> job_;
  bool answered_ = true;  // the last result has had its box
};

}  // namespace tarvix::gui
