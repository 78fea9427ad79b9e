// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/write_from_address_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "buffer/write_from_address.h"
#include "gui/qt_host.h"

namespace tarvix::gui {
WriteFromAddressWindow::WriteFromAddressWindow(QWidget* parent, Program& program, QtHost& host,
                                               const FileChoosers& choosers,
                                               const std::filesystem::path& file,
                                               std::uint32_t offset)
    : DialogFrame(parent, Text(kWriteFromAddressTitle), 276, 86),
      choosers_(choosers),
      model_(std::make_unique<WriteFromAddress>(
          program.PrivatePaths().temp_folder, host,
          [&program](const std::filesystem::path& p) { return program.Files().Load(p, false); })) {
  AddLabel("specify addr:", 8, 10, 50);
  address_ = AddBox(58, 8, 60, 10, 1094);
  QString note = Text(kWriteFromAddressNote);
  note.replace("\r\n", "\n");
  AddLabel(note, 124, 5, 148, 18);
  AddLabel("file:", 8, 30, 20);
  file_ = AddBox(30, 28, 216, 0, 1095);
  browse_ = AddButton("...", 250, 28, 20, 13, 1096);
  state_ = AddLabel("", 8, 48, 160, 8, 1097);
  ok_ = AddButton("OK", 166, 64);
  auto* cancel = AddButton("Cancel", 220, 64);
  ok_->setDefault(true);
  connect(browse_, &QPushButton::clicked, this, &WriteFromAddressWindow::Browse);
  connect(ok_, &QPushButton::clicked, this, &WriteFromAddressWindow::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  model_->Open(file, offset);
  SyncBoxes();
}

WriteFromAddressWindow::~WriteFromAddressWindow() = default;

void WriteFromAddressWindow::Browse() {
  bool chosen = false;
  const bool typed_ok = model_->Browse(address_->text().toStdString(), [this, &chosen] {
    const QString path = choosers_.open_file(this, ImageFileFilter());
    chosen = !path.isEmpty();
    return chosen ? std::optional(std::filesystem::path(path.toStdString())) : std::nullopt;
  });
  // Cancelled, or the address box held no number: what the user typed stays.
  if (typed_ok && chosen) SyncBoxes();
}

void WriteFromAddressWindow::Ok() {
  const WriteFromAddressOutcome outcome =
      model_->Ok(address_->text().toStdString(), file_->text().toStdString());
  state_->setText(Text(model_->StateText()));
  if (outcome == WriteFromAddressOutcome::kLoaded ||
      outcome == WriteFromAddressOutcome::kLoadFailed) {
    loaded_ = outcome == WriteFromAddressOutcome::kLoaded;
    accept();
  }
}

void WriteFromAddressWindow::SyncBoxes() {
  address_->setText(Text(model_->AddressText()));
  file_->setText(QString::fromStdString(model_->File().string()));
  SetBoxReadOnly(address_, model_->AddressLocked());
  state_->setText(Text(model_->StateText()));
}

}  // namespace tarvix::gui
