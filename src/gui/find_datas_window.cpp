// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/find_datas_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/program.h"
#include "buffer/find_datas.h"
#include "gui/qt_host.h"

namespace tarvix::gui {

FindDatasWindow::FindDatasWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, Text(kFindTitle), 200, 44),
      model_(std::make_unique<FindDatasDialog>(program.State(), program.Find(), host,
                                               [&program] { program.TheWorker().Resume(); })) {
  AddLabel("aim:", 8, 10, 20);
  aim_ = AddBox(30, 8, 104, 0, 1076);
  hex_ = Place(new QRadioButton("hex", this), 30, 27, 36, 10, 1074);
  char_ = Place(new QRadioButton("char", this), 70, 27, 36, 10, 1075);
  hex_->setChecked(true);
  ok_ = AddButton("OK", 142, 7, 50, 14, 1);
  auto* cancel = AddButton("Cancel", 142, 24);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &FindDatasWindow::Ok);
  connect(cancel, &QPushButton::clicked, this, &FindDatasWindow::reject);

  restart_ = new QTimer(this);
  restart_->setInterval(FindDatasDialog::kRestartPollMs);
  connect(restart_, &QTimer::timeout, this, [this] {
    if (model_->PollRestart()) restart_->stop();
  });
}

FindDatasWindow::~FindDatasWindow() = default;

bool FindDatasWindow::RestartPending() const {
  return model_->RestartPending();
}

void FindDatasWindow::Ok() {
  const FindPress press = model_->PressOk(aim_->text().toStdString(), hex_->isChecked());
  ok_->setText(QString::fromUtf8(model_->OkCaption().data(),
                                 static_cast<qsizetype>(model_->OkCaption().size())));
  if (press == FindPress::kRestarting && model_->RestartPending()) restart_->start();
}

void FindDatasWindow::reject() {
  restart_->stop();
  model_->Close();
  DialogFrame::reject();
}

}  // namespace tarvix::gui
