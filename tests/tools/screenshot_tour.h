// SPDX-License-Identifier: GPL-3.0-or-later
// The screenshot tour: drives the real window on the simulated programmer through
// the states worth looking at and writes one PNG for each (start-up after
// recognition, an edited image, a write in progress, a failed operation, menus with
// their images, the chip details box, every dialog of the menus, a long fill, the
// manual, a long red status line). It only does what a user would: clicks, keys,
// menus and the Simulator menu.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

namespace tarvix::gui {

class MainWindow;
class SimulatorMenu;

class ScreenshotTour : public QObject {
  Q_OBJECT

 public:
  ScreenshotTour(MainWindow& window, SimulatorMenu* simulator, QString folder);
  void Start();
  // 0 when every picture was written.
  [[nodiscard]] int Result() const { return result_; }

 private:
  struct Step {
    QString what;
    std::function<bool()> ready;  // polled until true
    std::function<void()> action;
  };
  void Add(QString what, std::function<bool()> ready, std::function<void()> action);
  // Each dialog of the menus, filled in as a user would.
  void AddDialogSteps();
  void AddNetDialogSteps();
  // The tour with several programmers on the bus: the Gang view at work.
  void AddGangSteps();
  void AddProductionSteps();
  void Tick();
  void Shoot(const QString& name, bool with_popups = false);
  void AnswerBox(bool ok);
  // Answers the unsaved-edits question of the window's close with Discard.
  void DiscardOnClose();
  void Fail(const QString& why);

  MainWindow& window_;
  SimulatorMenu* simulator_;
  QString folder_;
  QString image_;
  QString failed_status_;
  QStringList extra_files_;  // made by the tour, removed at its end
  // Image bytes the difference list's step changed, to be put back.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> saved_bytes_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  QTimer timer_;
  qint64 step_started_ = 0;
  int result_ = 0;
};

}  // namespace tarvix::gui
