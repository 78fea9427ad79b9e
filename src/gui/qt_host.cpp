// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "gui/sound_player.h"

namespace tarvix::gui {

BoxAnswer RefusingAnswer(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::kOk:
      return BoxAnswer::kOk;
    case BoxButtons::kOkCancel:
    case BoxButtons::kYesNoCancel:
      return BoxAnswer::kCancel;
    case BoxButtons::kYesNo:
      return BoxAnswer::kNo;
  }
  return BoxAnswer::kCancel;
}

QtHost::QtHost(MainState* state, QObject* parent)
    : QObject(parent), HostModel(SystemLocalTime, state), player_(std::make_unique<SoundPlayer>()) {
  presenter_ = &QtHost::ShowStandardBox;
  AddListener([this](Change change) {
    if (change == Change::kStatus) emit statusChanged();
    if (change == Change::kPicture) emit picturesChanged();
  });
  Commands().AddListener([this](const CommandState::Change& change) {
    emit commandChanged(static_cast<int>(change.kind), change.id);
  });
}

QtHost::~QtHost() = default;

bool QtHost::OnWindowThread() const {
  return QThread::currentThread() == thread();
}

BoxAnswer QtHost::ShowStandardBox(QWidget* parent, const QString& text, const QString& title,
                                  BoxIcon icon, BoxButtons buttons) {
  QMessageBox box(parent);
  box.setWindowTitle(title);
  box.setText(text);
  switch (icon) {
    case BoxIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case BoxIcon::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case BoxIcon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case BoxIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case BoxIcon::kNone:
      break;
  }
  switch (buttons) {
    case BoxButtons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxButtons::kOkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case BoxButtons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      // A warning's question (a fill past the chip) is not answered yes by a reflex Enter.
      if (icon == BoxIcon::kWarning) box.setDefaultButton(QMessageBox::No);
      break;
    case BoxButtons::kYesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  box.exec();
  auto* clicked = box.clickedButton();
  switch (box.standardButton(clicked)) {
    case QMessageBox::Ok:
      return BoxAnswer::kOk;
    case QMessageBox::Yes:
      return BoxAnswer::kYes;
    case QMessageBox::No:
      return BoxAnswer::kNo;
    default:
      // The close box and Escape refuse.
      return RefusingAnswer(buttons);
  }
}

BoxAnswer QtHost::AskOnWindowThread(const QString& text, const QString& title, BoxIcon icon,
                                    BoxButtons buttons) {
  // A question queued before the window began to close is refused, not shown.
  if (closing_.load()) return RefusingAnswer(buttons);
  boxes_shown_.fetch_add(1);
  return presenter_(box_parent_.data(), text, title, icon, buttons);
}

BoxAnswer QtHost::MessageBox(std::string_view text, std::string_view title, BoxIcon icon,
                             BoxButtons buttons) {
  if (closing_.load()) return RefusingAnswer(buttons);
  const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QString qtitle = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
  if (OnWindowThread()) return AskOnWindowThread(qtext, qtitle, icon, buttons);
  BoxAnswer answer = RefusingAnswer(buttons);
  QMetaObject::invokeMethod(
      this, [&] { answer = AskOnWindowThread(qtext, qtitle, icon, buttons); },
      Qt::BlockingQueuedConnection);
  return answer;
}

void QtHost::WindowCall(const std::function<void()>& call) {
  if (OnWindowThread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(
      this, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void QtHost::PlaySound(const std::filesystem::path& wave) {
  if (OnWindowThread()) {
    PlayOnWindowThread(wave);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, wave] { PlayOnWindowThread(wave); }, Qt::QueuedConnection);
}

void QtHost::PlayOnWindowThread(const std::filesystem::path& wave) {
  if (sound_sink_) {
    sound_sink_(wave);
    return;
  }
  player_->Play(wave);
}

void QtHost::ClearLog() {
  HostModel::ClearLog();
  emit logCleared();
}

void QtHost::Beep() {
  emit beepRequested();
}

void QtHost::InformationSound() {
  emit beepRequested();
}

void QtHost::LogLineAdded(const std::string& line, bool replaced) {
  emit logLineAdded(QString::fromStdString(line), replaced);
}

void QtHost::ProgressChanged(const ProgressState& progress) {
  emit progressChanged(progress.visible, progress.position,
                       QString::fromStdString(progress.caption), static_cast<int>(progress.align));
}

}  // namespace tarvix::gui
