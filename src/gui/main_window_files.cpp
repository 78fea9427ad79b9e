// SPDX-License-Identifier: GPL-3.0-or-later
// File actions: open, drop, and the save dialog Save and Save As ask through.
#include "gui/main_window.h"

#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

}  // namespace

void MainWindow::Open() {
  if (!program_.Files().SettleUnsavedChanges()) return;
  const QString path = choosers_.open_file(this, ImageFileFilter());
  if (path.isEmpty()) return;
  (void)program_.Files().Load(path.toStdString(), true);
}

std::optional<std::filesystem::path> MainWindow::ChooseSavePath() {
  const QString path = choosers_.save_file(this, SaveFileFilter());
  if (path.isEmpty()) return std::nullopt;
  return std::filesystem::path(path.toStdString());
}

void MainWindow::DropFiles(const QStringList& paths) {
  std::vector<std::filesystem::path> files;
  for (const QString& p : paths) files.emplace_back(p.toStdString());
  const bool open_enabled = program_.ReportingHost().Commands().IsEnabled(c::kBrowse);
  // While an operation runs the drop only says "later"; the image stays as it is.
  if (open_enabled && !files.empty() && !program_.Files().SettleUnsavedChanges()) return;
  (void)program_.Files().Drop(files, open_enabled);
}

}  // namespace tarvix::gui
