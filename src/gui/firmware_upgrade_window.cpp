// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/firmware_upgrade_window.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "firmware/firmware_upgrade.h"
#include "gui/caption_progress_bar.h"
#include "gui/qt_host.h"

namespace tarvix::gui {

FirmwareUpgradeWindow::FirmwareUpgradeWindow(QWidget* parent, Program& program,
                                             const FileChoosers& choosers)
    : DialogFrame(parent, kUpgradeDialogTitle, 270, 84), program_(program), choosers_(choosers) {
  Place(new QGroupBox("Upgrade", this), 6, 4, 258, 74)->lower();
  AddLabel("Upgrade file:", 14, 18, 50);
  path_ = AddBox(64, 16, 170, 0);
  SetBoxReadOnly(path_, true);
  browse_ = AddButton("...", 238, 16, 20, 13);
  bar_ = Place(new CaptionProgressBar(this), 14, 36, 244, 14);
  upgrade_ = AddButton("upgrade", 208, 56);
  connect(browse_, &QPushButton::clicked, this, &FirmwareUpgradeWindow::Browse);
  connect(upgrade_, &QPushButton::clicked, this, &FirmwareUpgradeWindow::Upgrade);

  FirmwareUpgradeDialog& model = program_.Upgrade();
  // A dialog opened while a run goes on shows that run rather than a fresh start.
  if (!model.Running()) model.Open();
  SyncFile();
  SyncBar();
}

void FirmwareUpgradeWindow::Browse() {
  const QString path = choosers_.open_file(this, FirmwareFileFilter());
  if (path.isEmpty()) return;
  program_.Upgrade().ChooseFile(path.toStdString());
  SyncFile();
}

void FirmwareUpgradeWindow::Upgrade() {
  if (!program_.Upgrade().PressUpgrade()) return;
  (void)program_.GiveWhenIdle(worker_command::kFirmwareUpgrade);
}

void FirmwareUpgradeWindow::reject() {
  if (!program_.Upgrade().CanClose()) return;
  DialogFrame::reject();
}

void FirmwareUpgradeWindow::SyncBar() {
  const FirmwareUpgradeDialog::Bar bar = program_.Upgrade().CurrentBar();
  bar_->SetPosition(bar.position);
  bar_->SetCaption(QString::fromStdString(bar.text), CaptionAlign::kCentre);
}

void FirmwareUpgradeWindow::SyncFile() {
  const FirmwareUpgradeDialog& model = program_.Upgrade();
  path_->setText(QString::fromStdString(model.FilePath().string()));
  upgrade_->setEnabled(model.UpgradeEnabled());
}

}  // namespace tarvix::gui
