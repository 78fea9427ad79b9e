// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/chip_fill_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "gui/qt_host.h"
#include "operations/chip_fill.h"

namespace tarvix::gui {

ChipFillWindow::ChipFillWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, kFillDialogTitle, 210, 100), program_(program), host_(host) {
  ChipFillDialog& model = program_.ChipFill();
  model.Open(program_.Packet());
  const bool word = model.ShowsWordField();
  const FillField data_field = word ? FillField::kDataWord : FillField::kDataByte;

  AddLabel("Addr(hex):", 8, 10, 42);
  address_ = AddBox(52, 8, 70, static_cast<int>(FillFieldLimit(FillField::kAddress)));
  AddLabel("Leng(dec):", 8, 28, 42);
  length_ = AddBox(52, 26, 70, static_cast<int>(FillFieldLimit(FillField::kLength)));
  AddLabel("Data(hex):", 8, 46, 42);
  data_ = AddBox(52, 44, 36, static_cast<int>(FillFieldLimit(data_field)));
  AddLabel("State:", 8, 64, 26);
  state_ = AddLabel("", 36, 64, 166);
  QString note = QString::fromUtf8(kFillNote);
  note.replace("\r\n", "\n");
  AddLabel(note, 8, 76, 194, 18);
  ok_ = AddButton("OK", 152, 7);
  cancel_ = AddButton("Cancel", 152, 24);
  // Enter acts as OK.
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &ChipFillWindow::Ok);
  connect(cancel_, &QPushButton::clicked, this, &ChipFillWindow::reject);

  const FillFields fields = model.Fields();
  address_->setText(QString::fromStdString(fields.address));
  length_->setText(QString::fromStdString(fields.length));
  data_->setText(QString::fromStdString(word ? fields.data_word : fields.data_byte));
  const auto check = [&model](FillField field) {
    return [&model, field](const std::string& text, std::size_t caret, Host& boxes) {
      const FillFieldEdit e = model.Edit(field, text, caret, boxes);
      return BoxEdit{e.text, e.caret};
    };
  };
  CheckEachKeystroke(address_, host, check(FillField::kAddress));
  CheckEachKeystroke(length_, host, check(FillField::kLength));
  CheckEachKeystroke(data_, host, check(data_field));

  Sync();
}

void ChipFillWindow::Ok() {
  ChipFillDialog& model = program_.ChipFill();
  // The boxes as they stand, whichever way their texts got there.
  FillFields fields = model.Fields();
  fields.address = address_->text().toStdString();
  fields.length = length_->text().toStdString();
  (model.ShowsWordField() ? fields.data_word : fields.data_byte) = data_->text().toStdString();
  model.SetFields(fields);
  if (!model.Accept(host_)) return;
  (void)program_.GiveWhenIdle(worker_command::kChipFill);
}

void ChipFillWindow::reject() {
  if (!program_.ChipFill().CancelEnabled()) return;
  DialogFrame::reject();
}

void ChipFillWindow::Sync() {
  const ChipFillDialog& model = program_.ChipFill();
  state_->setText(QString::fromStdString(model.StateLine()));
  cancel_->setEnabled(model.CancelEnabled());
}

}  // namespace tarvix::gui
