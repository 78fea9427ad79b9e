// SPDX-License-Identifier: GPL-3.0-or-later
// The mirrors of the core models: status line, log pane, progress, command states and
// captions, image texts, settings marks, the bulk timer.
#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

#include "app/settings.h"
#include "gui/artwork.h"
#include "gui/caption_progress_bar.h"
#include "gui/image_button.h"
#include "gui/qt_host.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

}  // namespace

void MainWindow::ConnectModels() {
  connect(&host_, &QtHost::statusChanged, this, &MainWindow::SyncStatus);
  connect(&host_, &QtHost::logLineAdded, this, &MainWindow::AppendLogLine);
  connect(&host_, &QtHost::logCleared, log_, &QPlainTextEdit::clear);
  connect(&host_, &QtHost::progressChanged, this, &MainWindow::ShowProgressState);
  connect(&host_, &QtHost::picturesChanged, this, &MainWindow::SyncPictures);
  connect(&host_, &QtHost::beepRequested, this, [] { QApplication::beep(); });
  connect(&host_, &QtHost::commandChanged, this, [this](int kind, int id) {
    if (kind == static_cast<int>(CommandState::ChangeKind::kCaption)) {
      SyncCaption(id);
      // A stop caption comes and goes with an operation: the grid's edit lock with it.
      program_.Hex().EditLockChanged();
    } else {
      SyncCommand(id);
    }
  });

  program_.Selection().AddListener([this](ChipSelection::Change change) {
    OnWindowThread([this, change] {
      switch (change) {
        case ChipSelection::Change::kTypeList:
        case ChipSelection::Change::kManufacturerList:
        case ChipSelection::Change::kModelList:
          SyncLists();
          break;
        case ChipSelection::Change::kCurrentChip:
          SyncLists();
          SyncCurrentChip();
          break;
        case ChipSelection::Change::kPicture:
          SyncPictures();
          break;
      }
    });
  });
  program_.Image().AddListener(
      [this](ImageBuffer::Change) { OnWindowThread([this] { SyncImage(); }); });
  program_.Hex().AddListener(
      [this](HexPage::Change change) { OnWindowThread([this, change] { SyncHexPage(change); }); });
  program_.SettingsMenu().AddListener(
      [this](SettingItem) { OnWindowThread([this] { SyncSettings(); }); });
  program_.Bulk().SetTimerListener([this](bool running) {
    OnWindowThread([this, running] {
      if (running) {
        bulk_timer_->start();
      } else {
        bulk_timer_->stop();
        if (ImageButton* b = Button(c::kBulkMode)) b->SetImage(artwork::ButtonIcon(c::kBulkMode));
      }
    });
  });
  SyncStatus();
  SyncLists();
  SyncCurrentChip();
  SyncImage();
  SyncScrollBar();
  SyncSettings();
  for (const MenuEntry& e : MainMenu())
    if (e.id != 0) SyncCommand(e.id);
  for (auto& [id, button] : buttons_) SyncCommand(id);
}

void MainWindow::SyncCommand(int id) {
  const CommandState& commands = program_.ReportingHost().Commands();
  if (QWidget* w = Control(id)) w->setEnabled(commands.IsEnabled(id));
  if (QAction* a = MenuAction(id)) a->setEnabled(!commands.IsMenuGrayed(id));
}

void MainWindow::SyncCaption(int id) {
  const CommandState& commands = program_.ReportingHost().Commands();
  ImageButton* button = Button(id);
  if (button == nullptr) return;
  button->setText(Text(commands.Caption(id)));
  button->setToolTip(Text(commands.Tooltip(id)));
  if (id != c::kBulkMode)
    button->SetImage(commands.IsBusy(id) ? artwork::BusyIcon() : artwork::ButtonIcon(id));
}

void MainWindow::SyncStatus() {
  const tarvix::StatusLine status = program_.ReportingHost().Status();
  // The line is short: a longer text ends in an ellipsis, never mid-letter, and shows
  // whole on hover and in the log pane.
  const QString text = Text(status.text);
  const int room = status_->contentsRect().width() - status_->indent() - 2;
  status_->setText(status_->fontMetrics().elidedText(text, Qt::ElideRight, room));
  status_->setToolTip(text);
  QPalette palette = status_->palette();
  if (status.red) {
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
  } else {
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Light));
    palette.setColor(QPalette::WindowText, Qt::black);
  }
  status_->setPalette(palette);
}

void MainWindow::AppendLogLine(const QString& line, bool replaced) {
  if (replaced && log_->document()->blockCount() > 0 && !log_->document()->isEmpty()) {
    QTextCursor cursor(log_->document()->lastBlock());
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
  } else {
    log_->appendPlainText(line);
  }
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::ShowProgressState(bool visible, int position, const QString& caption, int align) {
  progress_->SetPosition(position);
  progress_->SetCaption(caption, static_cast<CaptionAlign>(align));
  if (visible != progress_->isVisible()) {
    progress_->setVisible(visible);
    if (visible) progress_->raise();
  }
}
void MainWindow::SyncImage() {
  const ImageBuffer& image = program_.Image();
  setWindowTitle(Text(image.WindowTitle()));
  path_box_->setText(Text(image.PathBoxText()));
  file_sum_->setText(Text(image.FileSumText()));
  chip_sum_->setText(Text(image.ChipSumText()));
}
void MainWindow::SyncSettings() {
  for (int i = 0; i < static_cast<int>(kSettingCount); ++i) {
    const auto item = static_cast<SettingItem>(i);
    if (QAction* a = MenuAction(SettingCommandId(item)))
      a->setChecked(program_.SettingsMenu().IsOn(item));
  }
}

void MainWindow::BulkTick() {
  program_.Bulk().TimerTick(kBulkTimerId);
  if (ImageButton* b = Button(c::kBulkMode)) {
    if (program_.Bulk().TimerRunning())
      b->SetImage(artwork::BulkFrame(program_.Bulk().AnimationFrame()));
  }
}

}  // namespace tarvix::gui
