// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/simulator_menu.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <set>

#include "sim/sim_setup.h"

namespace tarvix::gui {

SimulatorMenu::SimulatorMenu(sim::SimBus& bus, const ChipCatalogue& catalogue, QWidget* parent)
    : QMenu("Simulator", parent), bus_(bus), catalogue_(catalogue) {
  setObjectName("menu_Simulator");
  chooser_ = [this](const QStringList& models, const QString& current) {
    bool ok = false;
    const int at = std::max(0, static_cast<int>(models.indexOf(current)));
    const QString chosen = QInputDialog::getItem(
        parentWidget(), "Simulator", "chip model for the socket:", models, at, false, &ok);
    return ok ? chosen : QString();
  };
  last_model_ = ChipModel();
  insert_ = addAction("&Insert chip...", this, [this] {
    const QString model = Choose();
    if (!model.isEmpty()) InsertChip(model);
  });
  remove_ = addAction("&Remove chip", this, [this] { RemoveChip(); });
  swap_ = addAction("S&wap chip...", this, [this] { SwapChip(); });
  addSeparator();
  unplug_ = addAction("&Unplug programmer", this, [this] { Unplug(); });
  replug_ = addAction("Re&plug programmer", this, [this] { Replug(); });
  connect(this, &QMenu::aboutToShow, this, &SimulatorMenu::UpdateStates);
  UpdateStates();
}

QString SimulatorMenu::Choose() {
  QStringList models;
  std::set<std::string> seen;
  for (std::uint32_t i = 0; i < catalogue_.Count(); ++i) {
    const std::string& model = catalogue_.Record(i).model;
    if (seen.insert(model).second) models << QString::fromStdString(model);
  }
  return chooser_ ? chooser_(models, last_model_) : QString();
}

bool SimulatorMenu::InsertChip(const QString& model) {
  std::string error;
  auto chip = sim::MakeSimulatedChip(catalogue_, model.toStdString(), &error);
  if (!chip) {
    QMessageBox::warning(parentWidget(), "Simulator", QString::fromStdString(error));
    return false;
  }
  bus_.Programmer().SwapChip(std::move(chip));
  last_model_ = model;
  UpdateStates();
  return true;
}

void SimulatorMenu::RemoveChip() {
  (void)bus_.Programmer().RemoveChip();
  UpdateStates();
}

bool SimulatorMenu::SwapChip() {
  const QString model = Choose();
  if (model.isEmpty()) return false;
  std::string error;
  if (!sim::MakeSimulatedChip(catalogue_, model.toStdString(), &error)) {
    QMessageBox::warning(parentWidget(), "Simulator", QString::fromStdString(error));
    return false;
  }
  RemoveChip();
  QTimer::singleShot(kSwapGapMs, this, [this, model] { (void)InsertChip(model); });
  return true;
}

void SimulatorMenu::Unplug() {
  bus_.Unplug();
  UpdateStates();
}

void SimulatorMenu::Replug() {
  bus_.Replug();
  UpdateStates();
}

bool SimulatorMenu::SocketEmpty() {
  return bus_.Programmer().chip() == nullptr;
}

QString SimulatorMenu::ChipModel() {
  sim::VirtualChip* chip = bus_.Programmer().chip();
  return chip == nullptr ? QString() : QString::fromStdString(chip->description().model);
}

void SimulatorMenu::UpdateStates() {
  const bool present = bus_.IsPresent();
  const bool empty = SocketEmpty();
  insert_->setEnabled(empty);
  remove_->setEnabled(!empty);
  swap_->setEnabled(!empty);
  unplug_->setEnabled(present);
  replug_->setEnabled(!present);
}

}  // namespace tarvix::gui
