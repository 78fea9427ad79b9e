// SPDX-License-Identifier: GPL-3.0-or-later
// The "Simulator" menu, present only when the window runs on the simulated
// programmer: insert, remove or swap the chip in the socket (choosing the model from
// the catalogue) and unplug or replug the programmer, so bulk mode and device changes
// can be tried by hand.
#pragma once

#include <QMenu>
#include <QStringList>
#include <functional>

#include "catalogue/chip_catalogue.h"
#include "sim/sim_bus.h"

namespace tarvix::gui {

class SimulatorMenu : public QMenu {
  Q_OBJECT

 public:
  // Asks which model to put in; empty for Cancel. Tests replace it.
  using ModelChooser = std::function<QString(const QStringList& models, const QString& current)>;

  SimulatorMenu(sim::SimBus& bus, const ChipCatalogue& catalogue, QWidget* parent = nullptr);

  void SetModelChooser(ModelChooser chooser) { chooser_ = std::move(chooser); }

  // The menu's commands (also for tests).
  bool InsertChip(const QString& model);  // into an empty socket, or in place of the chip
  void RemoveChip();
  // Asks for a model, takes the chip out and puts a fresh one of that model in
  // kSwapGapMs later: a hand's swap leaves the socket empty for a moment, which is
  // how bulk mode tells that the next chip has come.
  bool SwapChip();
  static constexpr int kSwapGapMs = 400;
  void Unplug();
  // Programmers on the simulated bus (--sim-programmers).
  [[nodiscard]] std::size_t Programmers() const { return bus_.ProgrammerCount(); }
  void Replug();
  [[nodiscard]] bool SocketEmpty();
  [[nodiscard]] QString ChipModel();

 private:
  void UpdateStates();
  [[nodiscard]] QString Choose();

  sim::SimBus& bus_;
  const ChipCatalogue& catalogue_;
  ModelChooser chooser_;
  QString last_model_;
  QAction* insert_ = nullptr;
  QAction* remove_ = nullptr;
  QAction* swap_ = nullptr;
  QAction* unplug_ = nullptr;
  QAction* replug_ = nullptr;
};

}  // namespace tarvix::gui
