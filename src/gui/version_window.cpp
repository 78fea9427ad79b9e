// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/version_window.h"

#include <QLabel>
#include <QPushButton>

#include "app/program.h"
#include "gui/qt_host.h"

namespace tarvix::gui {

VersionWindow::VersionWindow(QWidget* parent, Program& program, QtHost& host,
                             UpdateCheckConfig config)
    : DialogFrame(parent, kVersionDialogTitle, 240, 106), host_(host) {
  for (int i = 0; i < 5; ++i) lines_[i] = AddLabel("", 10, 8 + 12 * i, 222, 10);
  AddLabel(kUpgradeLinkLabel, 10, 70, 66, 10);
  const QString url = QString::fromStdString(config.link_url);
  link_ = AddLabel(QString("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), url.toHtmlEscaped()),
                   76, 70, 156, 10);
  link_->setTextFormat(Qt::RichText);
  link_->setOpenExternalLinks(true);
  link_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  ok_ = AddButton("OK", 95, 86, 50, 14);
  ok_->setDefault(true);
  // OK, Escape and the close box all end the dialog; a check still running is cancelled.
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  check_ = std::make_unique<UpdateCheck>(std::move(config), [&program](ExchangeControl& control) {
    return program.FirmwareByteForUpdateCheck(control);
  });
  const QPointer<QObject> alive(this);
  check_->SetNotify([this, alive] { OnWindowThread(&host_, alive, [this] { Refresh(); }); });
  lines_[0]->setText("checking for a new version...");
  (void)check_->Start();
}

VersionWindow::~VersionWindow() {
  // The check's thread may still post; it is told to stop and waited for here.
  if (check_) check_->SetNotify({});
  check_.reset();
}

bool VersionWindow::Checking() const {
  return check_ && check_->Running();
}

void VersionWindow::Refresh() {
  if (shown_ || !check_) return;
  if (check_->Running()) {
    const NetProgress progress = check_->Progress();
    if (!progress.step.empty()) lines_[0]->setText(QString::fromStdString(progress.step) + "...");
    return;
  }
  if (std::optional<UpdateCheckResult> result = check_->Result()) ShowResult(*result);
}

void VersionWindow::ShowResult(const UpdateCheckResult& result) {
  shown_ = true;
  if (result.cancelled) return;
  if (!result.ok) {
    // The failure's boxes stand for the dialog: it leaves first, then they come up.
    hide();
    ShowUpdateCheckBoxes(result, host_);
    close();
    return;
  }
  const std::vector<std::string> lines = result.lines.InOrder();
  for (std::size_t i = 0; i < lines.size() && i < 5; ++i)
    lines_[i]->setText(QString::fromStdString(WithoutLineEnd(lines[i])));
}

}  // namespace tarvix::gui
