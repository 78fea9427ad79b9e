// SPDX-License-Identifier: GPL-3.0-or-later
// Commands: the menu bar, the key table, the buttons and the one dispatch they share.
#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "app/settings.h"
#include "gui/about_box.h"
#include "gui/artwork.h"
#include "gui/dialog_frame.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/qt_host.h"
#include "state/captions.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

// The web site the picture button opens.
constexpr char kWebSite[] = "https://www.vrnt-tarvix.example/";

const char* const kMenuOrder[] = {"File",       "Operate",      "Addr Operate", "Tools",
                                  "Production", "Firm Operate", "Settings",     "Help"};

bool IsSettingCommand(int id, SettingItem* item) {
  for (int i = 0; i < static_cast<int>(kSettingCount); ++i) {
    const auto candidate = static_cast<SettingItem>(i);
    if (SettingCommandId(candidate) == id) {
      *item = candidate;
      return true;
    }
  }
  return false;
}

Key KeyOf(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Escape:
      return Key::kEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return Key::kEnter;
    case Qt::Key_F2:
      return Key::kF2;
    case Qt::Key_F3:
      return Key::kF3;
    case Qt::Key_F4:
      return Key::kF4;
    case Qt::Key_F5:
      return Key::kF5;
    case Qt::Key_F6:
      return Key::kF6;
    case Qt::Key_F7:
      return Key::kF7;
    case Qt::Key_F8:
      return Key::kF8;
    case Qt::Key_F9:
      return Key::kF9;
    case Qt::Key_O:
      return Key::kO;
    default:
      return Key::kOther;
  }
}

}  // namespace

void MainWindow::BuildMenus() {
  for (const char* title : kMenuOrder) {
    QMenu* menu = menuBar()->addMenu(title);
    menu->setObjectName(QString("menu_%1").arg(title));
    menus_[title] = menu;
  }
  QMenu* bulk_process = nullptr;
  for (const MenuEntry& e : MainMenu()) {
    QMenu* menu = menus_[Text(e.menu)];
    if (!e.submenu.empty()) {
      if (bulk_process == nullptr) bulk_process = menu->addMenu(Text(e.submenu));
      menu = bulk_process;
    }
    if (e.state == MenuState::kSeparator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(artwork::MenuIcon(e.id), Text(e.text));
    const int id = e.id;
    action->setObjectName(QString("action_%1").arg(id));
    action->setCheckable(e.state == MenuState::kChecked || id == c::kEditMode);
    action->setChecked(e.state == MenuState::kChecked);
    action->setEnabled(e.state != MenuState::kGrayed);
    // The model decides the check mark; the action must not flip it on its own.
    connect(action, &QAction::triggered, this, [this, id] { DispatchCommand(id); });
    actions_[id] = action;
  }
}
// ---- command dispatch -----------------------------------------------------------

void MainWindow::SetCommandHandler(int id, std::function<void()> handler) {
  handlers_[id] = std::move(handler);
}

void MainWindow::DispatchCommand(int id) {
  if (closing_) return;
  if (program_.Buttons().Press(id)) return;
  SettingItem item;
  if (IsSettingCommand(id, &item)) {
    (void)program_.SettingsMenu().Toggle(item);
    SyncSettings();
    return;
  }
  const auto it = handlers_.find(id);
  if (it != handlers_.end() && it->second) it->second();
  // Commands of dialogs not built into this window have no handler yet.
  if (QAction* action = MenuAction(id); action != nullptr && action->isCheckable()) {
    if (id == c::kEditMode) action->setChecked(program_.Hex().EditMode());
  }
}

void MainWindow::InstallHandlers() {
  handlers_[c::kBrowse] = [this] { Open(); };
  handlers_[c::kSave] = [this] { (void)program_.Files().Save(); };
  handlers_[c::kSaveAs] = [this] { (void)program_.Files().SaveAs(); };
  handlers_[c::kEditMode] = [this] { program_.Hex().ToggleModeFromMenu(); };
  handlers_[c::kFirmwareVersion] = [this] {
    (void)program_.GiveWhenIdle(worker_command::kFirmwareVersion);
  };
  handlers_[menu_id::kExist] = [this] {
    program_.Exist();
    // The process ends as it is: no questions, no clean-up. A worker that is idle
    // can still be let go in order; one that runs is left to the process's end.
    if (!program_.TheWorker().Idle()) {
      std::fflush(nullptr);
      std::_Exit(0);
    }
    closed_ = true;
    host_.SetClosing(true);
    qApp->quit();
  };
  handlers_[menu_id::kAboutUs] = [this] { ShowDialog(new AboutBox(this), true); };
  handlers_[kWebLink] = [this] { (void)choosers_.open_url(QUrl(kWebSite)); };
  handlers_[kDetailsButton] = [this] { ShowChipDetails(); };
  handlers_[c::kEditModeBox] = [this] { program_.Hex().ToggleModeFromCheckBox(); };

  for (auto& [id, button] : buttons_) {
    const int command = id;
    connect(button, &QPushButton::clicked, this, [this, command] {
      ButtonSound();
      DispatchCommand(command);
    });
    if (command != c::kBrowse)
      connect(button, &ImageButton::pointerEntered, this, &MainWindow::ButtonSound);
  }
  connect(static_cast<QPushButton*>(controls_[kWebLink]), &QPushButton::clicked, this,
          [this] { DispatchCommand(kWebLink); });
  connect(details_, &QPushButton::clicked, this, [this] { DispatchCommand(kDetailsButton); });
  connect(edit_mode_, &QCheckBox::clicked, this, [this] {
    ButtonSound();
    DispatchCommand(c::kEditModeBox);
    // The mode decides the mark, whatever the click did to it.
    edit_mode_->setChecked(program_.Hex().EditMode());
  });
  connect(type_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kTypeList, entry); });
  connect(firm_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kFirmList, entry); });
  connect(chip_list_, qOverload<int>(&QComboBox::activated), this,
          [this](int entry) { ChooseFromList(kChipList, entry); });

  connect(grid_, &HexGrid::cellClicked, this, [this](GridCell cell, bool right_half) {
    program_.Hex().SetFocusCell(cell);
    program_.Hex().Click(cell, right_half);
    grid_->update();
  });
  connect(grid_, &HexGrid::focusCellMoved, this, [this](GridCell cell) {
    program_.Hex().SetFocusCell(cell);
    grid_->update();
  });
  connect(grid_, &HexGrid::wheelStep, this, [this](int delta) { program_.Hex().Wheel(delta); });
  connect(grid_, &HexGrid::filesDropped, this, &MainWindow::DropFiles);
  connect(cell_edit_, &QLineEdit::textEdited, this, &MainWindow::CellTextEdited);
  connect(scroll_, &QScrollBar::actionTriggered, this, &MainWindow::ScrollAction);
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { FocusChanged(now); });
}

void MainWindow::ButtonSound() {
  program_.SettingsMenu().PlaySound(host_, program_.PrivatePaths().button_sound);
}
// ---- keys ---------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
    return QMainWindow::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  // Only keys meant for this window: its boxes and dialogs have their own.
  if (widget == nullptr || widget->window() != this)
    return QMainWindow::eventFilter(watched, event);
  auto* key_event = static_cast<QKeyEvent*>(event);
  const Key key = KeyOf(key_event->key());
  const bool ctrl = key_event->modifiers().testFlag(Qt::ControlModifier);
  const KeyOutcome outcome =
      TranslateKey(key, ctrl, program_.ReportingHost().Commands(), QApplication::focusWidget());
  if (!outcome.swallowed) return QMainWindow::eventFilter(watched, event);
  if (event->type() == QEvent::ShortcutOverride) {
    // Claim the key so no shortcut takes it; the key press follows.
    event->accept();
    return true;
  }
  if (key_event->isAutoRepeat() && outcome.send != 0) return true;
  if (outcome.commit_cell) (void)program_.Hex().Commit();
  if (outcome.send != 0) {
    if (buttons_.count(outcome.send) != 0 && outcome.send != c::kBrowse) ButtonSound();
    DispatchCommand(outcome.send);
  }
  return true;
}

}  // namespace tarvix::gui
