// SPDX-License-Identifier: GPL-3.0-or-later
// The chip lists, the chip details box and the two pictures.
#include "gui/main_window.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "gui/artwork.h"
#include "gui/qt_host.h"
#include "state/captions.h"

namespace tarvix::gui {
void MainWindow::ShowChipDetails() {
  host_.MessageBox(program_.Selection().DetailsText(), kDetailsCaption, BoxIcon::kInformation,
                   BoxButtons::kOk);
}

void MainWindow::ChooseFromList(int list_id, int entry) {
  // The worker reads the current chip while it runs (and recognition changes it), so
  // the lists change hands only while it is idle.
  if (!program_.TheWorker().Idle() || entry < 0) {
    SyncLists();
    return;
  }
  ChipSelection& selection = program_.Selection();
  const auto index = static_cast<std::size_t>(entry);
  if (list_id == kTypeList) selection.ChooseType(index);
  if (list_id == kFirmList) selection.ChooseManufacturer(index);
  if (list_id == kChipList) selection.ChooseModel(index);
}
void MainWindow::SyncLists() {
  const ChipSelection& s = program_.Selection();
  mirroring_ = true;
  const auto fill = [](QComboBox* box, const std::vector<std::string>& entries, int selected) {
    bool same = box->count() == static_cast<int>(entries.size());
    for (int i = 0; same && i < box->count(); ++i)
      same = box->itemText(i) == Text(entries[static_cast<std::size_t>(i)]);
    if (!same) {
      const QSignalBlocker block(box);
      box->clear();
      for (const std::string& e : entries) box->addItem(Text(e));
    }
    const QSignalBlocker block(box);
    box->setCurrentIndex(selected);
  };
  fill(type_list_, s.Types(), s.TypeIndex());
  fill(firm_list_, s.Manufacturers(), s.ManufacturerIndex());
  fill(chip_list_, s.Models(), s.ModelIndex());
  mirroring_ = false;
}

void MainWindow::SyncCurrentChip() {
  capacity_->setText(Text(program_.Selection().CapacityLabel()));
  SyncPictures();
  SyncImage();
}

void MainWindow::SyncPictures() {
  // The two picture buttons are disabled; their pictures still show in full colour.
  const auto picture = [](const QPixmap& pixmap) {
    QIcon icon(pixmap);
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
  };
  chip_picture_->setIcon(picture(
      artwork::ChipPicture(program_.Selection().Picture(), chip_picture_->size() - QSize(4, 4))));
  second_picture_->setIcon(picture(artwork::ProgrammerPicture(
      program_.ReportingHost().Picture(kSecondPictureControl),
      second_picture_->size() - QSize(4, 4), program_.ReportingHost().ProgrammerPresent())));
}

}  // namespace tarvix::gui
