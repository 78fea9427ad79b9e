// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/view_data_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "buffer/buffer_tools.h"
#include "gui/qt_host.h"

namespace tarvix::gui {

ViewDataWindow::ViewDataWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, Text(kViewDataTitle), 200, 84), program_(program) {
  AddLabel("Addr(hex):", 8, 10, 42);
  address_ = AddBox(52, 8, 70, static_cast<int>(kAddressDigits), 1041);
  AddLabel("file data:", 8, 30, 42);
  file_data_ = AddLabel("", 52, 30, 80, 8, 1042);
  AddLabel("chip data:", 8, 44, 42);
  chip_data_ = AddLabel("", 52, 44, 80, 8, 1043);
  AddLabel("state:", 8, 64, 24);
  state_ = AddLabel("", 34, 64, 160, 8, 1044);
  ok_ = AddButton("OK", 142, 7, 50, 14, 1045);
  auto* cancel = AddButton("Cancel", 142, 24);
  // Enter presses OK.
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] {
    program_.ViewData().SetAddressText(address_->text().toStdString());
    program_.ViewDataOk();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  ViewDataDialog& model = program_.ViewData();
  model.Open();
  CheckEachKeystroke(address_, host,
                     [&model](const std::string& text, std::size_t caret, Host& boxes) {
                       const KeystrokeResult r = model.EditAddress(text, caret, boxes);
                       return BoxEdit{r.text, r.caret};
                     });
  Sync();
}

void ViewDataWindow::Sync() {
  const ViewDataTexts texts = program_.ViewData().Texts();
  file_data_->setText(QString::fromStdString(texts.file_data));
  chip_data_->setText(QString::fromStdString(texts.chip_data));
  state_->setText(QString::fromStdString(texts.state));
  const QString address = QString::fromStdString(program_.ViewData().AddressText());
  if (address_->text() != address) address_->setText(address);
}

}  // namespace tarvix::gui
