// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/file_division_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "buffer/file_division.h"
#include "gui/qt_host.h"

namespace tarvix::gui {
FileDivisionWindow::FileDivisionWindow(QWidget* parent, QtHost& host, const FileChoosers& choosers)
    : DialogFrame(parent, Text(kDivisionTitle), 270, 96), host_(host), choosers_(choosers) {
  AddLabel("file:", 8, 10, 20);
  file_ = AddBox(50, 8, 188, 0, 1098);
  SetBoxReadOnly(file_, true);
  browse_ = AddButton("...", 242, 8, 20, 13, 1108);
  AddLabel(Text(kDivisionNodesLabel), 8, 28, 40);
  nodes_ = AddBox(50, 26, 212, 0, 1109);
  QString help = Text(kDivisionHelpText);
  help.replace("\r\n", "\n");
  QLabel* help_text = AddLabel(help, 8, 44, 254, 28);
  help_text->setWordWrap(true);
  help_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ok_ = AddButton("OK", 158, 76);
  auto* cancel = AddButton("Cancel", 212, 76);
  connect(browse_, &QPushButton::clicked, this, &FileDivisionWindow::Browse);
  connect(ok_, &QPushButton::clicked, this, &FileDivisionWindow::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FileDivisionWindow::Browse() {
  const QString path = choosers_.open_file(this, ImageFileFilter());
  if (!path.isEmpty()) file_->setText(path);
}

void FileDivisionWindow::Ok() {
  // The box shows the nodes as they will be read (full-width commas made ASCII)
  // before the division runs, so its boxes speak of what the box holds.
  if (!file_->text().isEmpty()) {
    const QString nodes =
        QString::fromStdString(NormaliseDivisionNodes(nodes_->text().toStdString()));
    if (nodes != nodes_->text()) nodes_->setText(nodes);
  }
  (void)DivideFile(file_->text().toStdString(), nodes_->text().toStdString(), host_);
}

}  // namespace tarvix::gui
