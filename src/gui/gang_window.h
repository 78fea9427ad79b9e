// SPDX-License-Identifier: GPL-3.0-or-later
// The Gang view: one row per connected programmer (serial number, chip, state,
// progress bar, passed and failed counts, its own Stop) and the run of the loaded
// image on all of them at once, each at its own pace. While the view is open every
// programmer belongs to the gang: the main window's operations are grayed and its
// device-change notices go to the gang, so no programmer is driven by two workers.
// GangDialogs shows the Gang menu item only while more than one programmer is on
// the buses.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "app/gang.h"
#include "gui/dialog_frame.h"

class QSpinBox;
class QTableWidget;
class QTimer;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class MainWindow;
class QtHost;

inline constexpr char kGangTitle[] = "gang";

// The columns of the view's table.
enum GangColumn {
  kGangSerial,
  kGangChip,
  kGangState,
  kGangProgress,
  kGangPassed,
  kGangFailed,
  kGangStop,
  kGangColumns
};

class GangWindow : public DialogFrame {
  Q_OBJECT
 public:
  GangWindow(MainWindow& window, Program& program, QtHost& host);
  // Stops every run and waits for it (the bound of a stop plus one transfer).
  ~GangWindow() override;

  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QSpinBox* Count() const { return count_; }
  [[nodiscard]] QPushButton* StartButton() const { return start_; }
  [[nodiscard]] QPushButton* StopAllButton() const { return stop_all_; }
  [[nodiscard]] Gang& TheGang() { return *gang_; }
  // Starts the loaded image on every programmer; false (said in the status) when not.
  bool Start();
  // Shows the gang's rows as they stand (the timer calls it).
  void Refresh();

 private:
  void SetMainOperations(bool enabled);

  MainWindow& window_;
  Program& program_;
  QtHost& host_;
  std::unique_ptr<Gang> gang_;
  QTableWidget* table_;
  QSpinBox* count_;
  QLabel* status_;
  QPushButton* start_;
  QPushButton* stop_all_;
  QTimer* timer_;
};

class GangDialogs : public QObject {
  Q_OBJECT
 public:
  GangDialogs(MainWindow& window, Program& program, QtHost& host);
  [[nodiscard]] GangWindow* View() const { return view_; }
  // Shows or hides the menu item by the programmers on the buses now.
  void SyncMenuItem();

 private:
  MainWindow& window_;
  Program& program_;
  QtHost& host_;
  QPointer<GangWindow> view_;
};

}  // namespace tarvix::gui
