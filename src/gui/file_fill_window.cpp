// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/file_fill_window.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <algorithm>

#include "app/program.h"
#include "buffer/buffer_tools.h"
#include "gui/qt_host.h"

namespace tarvix::gui {
namespace {

// The scan-mode box is titled with the executable's base name.
constexpr int kProgressSteps = 1000;

std::string ApplicationName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

}  // namespace

FileFillWindow::FileFillWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, Text(kFillTitle), 212, 92),
      model_(std::make_unique<FileFill>(program.Image(), program.Hex(), host, ApplicationName())) {
  AddLabel("Addr(hex):", 8, 10, 42);
  address_ = AddBox(52, 8, 60, static_cast<int>(kAddressDigits), 1036);
  from_end_ = Place(new QCheckBox("Fill from the end", this), 122, 9, 84, 10, 1063);
  AddLabel("Leng(dec):", 8, 28, 42);
  length_ = AddBox(52, 26, 60, static_cast<int>(kLengthDigits), 1037);
  AddLabel("Data(hex):", 8, 46, 42);
  data_ = AddBox(52, 44, 24, static_cast<int>(kDataDigits), 1038);
  AddLabel("state:", 8, 62, 24);
  state_ = AddLabel("", 34, 62, 120, 8, 1040);
  ok_ = AddButton("OK", 100, 72, 50, 14, 1039);
  auto* cancel = AddButton("Cancel", 154, 72);
  // Enter presses OK.
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &FileFillWindow::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  const auto check = [](BoxCheck kind) {
    return [kind](const std::string& text, std::size_t caret, Host& boxes) {
      const KeystrokeResult r = CheckKeystroke(text, caret, kind, boxes);
      return BoxEdit{r.text, r.caret};
    };
  };
  CheckEachKeystroke(address_, host, check(BoxCheck::kHex));
  CheckEachKeystroke(length_, host, check(BoxCheck::kDecimal));
  CheckEachKeystroke(data_, host, check(BoxCheck::kHex));
  connect(from_end_, &QCheckBox::toggled, this, [this](bool checked) {
    TakeOver();
    model_->SetFromEnd(checked);
    Sync();
  });
  Sync();
}

FileFillWindow::~FileFillWindow() = default;

void FileFillWindow::TakeOver() {
  model_->SetAddressText(address_->text().toStdString());
  model_->SetLengthText(length_->text().toStdString());
  model_->SetDataText(data_->text().toStdString());
}

void FileFillWindow::Ok() {
  TakeOver();
  // A long fill shows how far it got and can be stopped; the window stays painted.
  std::unique_ptr<QProgressDialog> bar;
  const auto progress = [this, &bar](std::uint64_t done, std::uint64_t total) {
    if (!bar) {
      Sync();
      bar =
          std::make_unique<QProgressDialog>(Text(kFillFilling), "Cancel", 0, kProgressSteps, this);
      bar->setWindowTitle(Text(kFillTitle));
      bar->setWindowModality(Qt::ApplicationModal);
      bar->setAutoReset(false);
      bar->setAutoClose(false);
      bar->setMinimumDuration(0);
      bar->show();
    }
    bar->setValue(static_cast<int>(done * kProgressSteps / std::max<std::uint64_t>(total, 1)));
    QCoreApplication::processEvents();
    return !bar->wasCanceled();
  };
  (void)model_->Ok(progress);
  bar.reset();
  Sync();
}

void FileFillWindow::Sync() {
  const auto show = [](QLineEdit* box, const std::string& text) {
    const QString q = QString::fromStdString(text);
    if (box->text() != q) box->setText(q);
  };
  show(address_, model_->AddressText());
  show(length_, model_->LengthText());
  show(data_, model_->DataText());
  SetBoxReadOnly(address_, model_->AddressReadOnly());
  state_->setText(QString::fromStdString(model_->StateText()));
}

}  // namespace tarvix::gui
