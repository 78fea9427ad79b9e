// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/feedback_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui/qt_host.h"

namespace tarvix::gui {

FeedbackWindow::FeedbackWindow(QWidget* parent, QtHost& host, FeedbackConfig config)
    : DialogFrame(parent, kFeedbackDialogTitle, 250, 190), host_(host) {
  AddLabel(kThemeLabel, 10, 10, 40);
  theme_ = AddBox(52, 8, 188, 0);
  AddLabel(kProblemLabel, 10, 26, 40);
  problem_ = Place(new QPlainTextEdit(this), 52, 26, 188, 80);
  problem_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  problem_->setTabChangesFocus(true);
  AddLabel(kContactLabel, 10, 114, 40);
  contact_ = AddBox(52, 112, 188, 0);
  QString note = QString::fromStdString(FeedbackNote(config));
  note.remove('\r');
  auto* note_label = AddLabel(note, 10, 130, 230, 20);
  note_label->setWordWrap(true);
  step_ = AddLabel("", 10, 154, 230, 10);
  send_ = AddButton(kSendCaption, 130, 168, 50, 14);
  auto* cancel = AddButton(kCancelCaption, 190, 168, 50, 14);
  send_->setDefault(true);
  connect(send_, &QPushButton::clicked, this, &FeedbackWindow::Send);
  connect(cancel, &QPushButton::clicked, this, &FeedbackWindow::reject);

  job_ = std::make_unique<FeedbackSend>(std::move(config));
  const QPointer<QObject> alive(this);
  job_->SetNotify([this, alive] { OnWindowThread(&host_, alive, [this] { Refresh(); }); });
}

FeedbackWindow::~FeedbackWindow() {
  if (job_) job_->SetNotify({});
  job_.reset();
}

bool FeedbackWindow::Sending() const {
  return job_ && job_->Running();
}

void FeedbackWindow::reject() {
  // Cancel and the close box leave at once; a mail on its way is stopped.
  if (job_) job_->Cancel();
  DialogFrame::reject();
}

void FeedbackWindow::Send() {
  if (Sending()) return;
  FeedbackForm form{theme_->text().toStdString(), problem_->toPlainText().toStdString(),
                    contact_->text().toStdString()};
  answered_ = false;
  if (!job_->Start(std::move(form))) return;
  Refresh();
}

void FeedbackWindow::Refresh() {
  if (!job_) return;
  if (job_->Running()) {
    send_->setEnabled(false);
    const NetProgress progress = job_->Progress();
    step_->setText(progress.step.empty() ? QString("sending...")
                                         : QString::fromStdString(progress.step) + "...");
    return;
  }
  send_->setEnabled(true);
  step_->clear();
  if (answered_) return;
  std::optional<FeedbackResult> result = job_->Result();
  if (!result) return;
  answered_ = true;
  if (result->cancelled) return;
  (void)host_.MessageBox(result->box.text, result->box.title, result->box.icon, BoxButtons::kOk);
}

}  // namespace tarvix::gui
