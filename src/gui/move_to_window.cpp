// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/move_to_window.h"

#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "buffer/buffer_tools.h"
#include "gui/qt_host.h"
#include "state/control_ids.h"

namespace tarvix::gui {

MoveToWindow::MoveToWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, Text(kMoveToTitle), 200, 30), program_(program), host_(host) {
  AddLabel("Addr(hex):", 8, 10, 42);
  address_ = AddBox(52, 8, 60, static_cast<int>(kAddressDigits), 1065);
  ok_ = AddButton("OK", 118, 7, 36, 14, 1064);
  auto* cancel = AddButton("Cancel", 158, 7, 36, 14);
  // A typed address and Enter move the view, as OK does.
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] {
    (void)MoveToAddress(program_.Image(), program_.Hex(), host_, address_->text().toStdString());
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  CheckEachKeystroke(address_, host, [](const std::string& text, std::size_t caret, Host& boxes) {
    const KeystrokeResult r = CheckKeystroke(text, caret, BoxCheck::kMoveToHex, boxes);
    return BoxEdit{r.text, r.caret};
  });
  // While an operation holds the image (the menu item grayed), the view stays put.
  connect(&host_, &QtHost::commandChanged, this, [this](int, int id) {
    if (id == control_id::kMoveTo) SyncOk();
  });
  SyncOk();
}

void MoveToWindow::SyncOk() {
  ok_->setEnabled(!host_.Commands().IsMenuGrayed(control_id::kMoveTo));
}

}  // namespace tarvix::gui
