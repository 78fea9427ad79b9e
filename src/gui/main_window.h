// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the controls of the layout table, the menu bar of the core's menu
// table, the keys, and the mirrors of the core models (status line, log pane,
// progress bar, command states and captions, chip lists, hex view). It decides
// nothing: every action goes to the Program, every change comes back from a model.
// Menu commands are dispatched through one table, so a dialog plugs in with
// SetCommandHandler without touching the window.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>

#include "app/program.h"
#include "gui/file_choosers.h"
#include "gui/qt_text.h"
#include "gui/window_layout.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QTimer;

namespace tarvix::gui {

class CaptionProgressBar;
class Dialogs;
class ProductionDialogs;
class GangDialogs;
class HexGrid;
class ImageButton;
class QtHost;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // How long close waits for the worker to wind down before the process ends anyway.
  static constexpr int kCloseWaitMs = 10000;

  MainWindow(Program& program, QtHost& host, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a menu or control command by id, as a click or a key does.
  void DispatchCommand(int id);
  // The handler of a command id (dialogs of other menus plug in here).
  void SetCommandHandler(int id, std::function<void()> handler);
  [[nodiscard]] bool HasCommandHandler(int id) const { return handlers_.count(id) != 0; }

  // A menu of the menu bar by its title ("File", "Settings", ...), and a menu item.
  [[nodiscard]] QMenu* Menu(const QString& title) const;
  [[nodiscard]] QAction* MenuAction(int id) const;
  // A control by its layout id.
  [[nodiscard]] QWidget* Control(int id) const;
  [[nodiscard]] ImageButton* Button(int id) const;
  [[nodiscard]] HexGrid* Grid() const { return grid_; }
  [[nodiscard]] QLineEdit* CellEditBox() const { return cell_edit_; }
  [[nodiscard]] CaptionProgressBar* ProgressBar() const { return progress_; }
  [[nodiscard]] QLabel* StatusLine() const { return status_; }
  [[nodiscard]] QPlainTextEdit* LogPane() const { return log_; }
  [[nodiscard]] Program& TheProgram() { return program_; }
  // The dialogs of the menus.
  [[nodiscard]] Dialogs& TheDialogs() { return *dialogs_; }
  [[nodiscard]] ProductionDialogs& Production() { return *production_; }
  [[nodiscard]] GangDialogs& Gang() { return *gang_; }
  // The file dialogs and the desktop's "open" that the window and its dialogs use: the
  // desktop's own unless a test has answered them. Boxes go through the QtHost's
  // presenter, the other half of the same seam.
  [[nodiscard]] FileChoosers& Choosers() { return choosers_; }
  // Adds a menu to the menu bar after "Help" (the simulator's).
  void AddMenu(QMenu* menu);
  // True once close has finished its clean-up (the window may then go).
  [[nodiscard]] bool Closed() const { return closed_; }

  // The backend's device-change notices reach the worker through the window thread.
  void RouteDeviceChanges(UsbBackend& backend);
  // While set, device-change notices go to `detour` instead of the program's worker
  // (the Gang view owns the programmers then).
  void SetDeviceChangeDetour(std::function<void()> detour) { detour_ = std::move(detour); }

  // Files dropped on the grid (the grid calls this; tests too).
  void DropFiles(const QStringList& paths);
  // Opens the chip details box (the hidden "查看" button).
  void ShowChipDetails();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Controls of the layout that the window reaches by id.
  static constexpr int kTypeList = 1014;
  static constexpr int kFirmList = 1015;
  static constexpr int kChipList = 1016;
  static constexpr int kCapacityLabel = 1017;
  static constexpr int kStatusLine = 1018;
  static constexpr int kProgressBarId = 1031;
  static constexpr int kFileSumLabel = 1033;
  static constexpr int kChipSumLabel = 1082;
  static constexpr int kGridId = 1057;
  static constexpr int kScrollBarId = 1002;
  static constexpr int kLogPaneId = 1101;
  static constexpr int kPathBox = 1003;
  static constexpr int kCellEdit = 1027;
  static constexpr int kDetailsButton = 1066;
  static constexpr int kWebLink = 1102;

  void BuildControls();
  void BuildMenus();
  void ConnectModels();
  void InstallHandlers();
  QWidget* MakeControl(const LayoutItem& item, QWidget* parent);

  // Mirrors.
  void SyncCommand(int id);
  void SyncCaption(int id);
  void SyncStatus();
  void SyncLists();
  void SyncCurrentChip();
  void SyncPictures();
  void SyncImage();
  void SyncHexPage(HexPage::Change change);
  void SyncEditBox();
  void SyncScrollBar();
  void SyncSettings();
  void AppendLogLine(const QString& line, bool replaced);
  void ShowProgressState(bool visible, int position, const QString& caption, int align);
  void BulkTick();

  // Actions.
  void Open();
  [[nodiscard]] std::optional<std::filesystem::path> ChooseSavePath();
  void ButtonSound();
  void ChooseFromList(int list_id, int entry);
  void CellTextEdited(const QString& text);
  void ScrollAction(int action);
  void FocusChanged(QWidget* now);
  // Runs `fn` on the window thread: at once when already there, else queued.
  void OnWindowThread(std::function<void()> fn);

  Program& program_;
  QtHost& host_;
  DialogUnits du_;
  std::map<int, QWidget*> controls_;
  std::map<int, ImageButton*> buttons_;
  std::map<int, QAction*> actions_;
  std::map<QString, QMenu*> menus_;
  std::map<int, std::function<void()>> handlers_;
  QWidget* page_ = nullptr;
  QComboBox* type_list_ = nullptr;
  QComboBox* firm_list_ = nullptr;
  QComboBox* chip_list_ = nullptr;
  QLabel* capacity_ = nullptr;
  QLabel* status_ = nullptr;
  CaptionProgressBar* progress_ = nullptr;
  QCheckBox* edit_mode_ = nullptr;
  QLabel* file_sum_ = nullptr;
  QLabel* chip_sum_ = nullptr;
  HexGrid* grid_ = nullptr;
  QScrollBar* scroll_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QLineEdit* path_box_ = nullptr;
  QLineEdit* cell_edit_ = nullptr;
  QPushButton* details_ = nullptr;
  QPushButton* chip_picture_ = nullptr;
  QPushButton* second_picture_ = nullptr;
  QTimer* bulk_timer_ = nullptr;
  FileChoosers choosers_ = DesktopFileChoosers();
  Dialogs* dialogs_ = nullptr;
  ProductionDialogs* production_ = nullptr;
  GangDialogs* gang_ = nullptr;
  std::function<void()> detour_;
  bool mirroring_ = false;  // a mirror is writing a control: its signals are ours
  bool closing_ = false;
  bool closed_ = false;
};

}  // namespace tarvix::gui
