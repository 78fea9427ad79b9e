// File actions: open, drop.
#include "gui/main_window.h"

#include <QFileDialog>

#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

}  // namespace

void MainWindow::Open() {
  const QString path = QFileDialog::getOpenFileName(
      this, "Open", QString(), "*.bin;*.rom(*.bin *.rom);;*.cap(*.cap);;(*.*)(*)");
  if (path.isEmpty()) return;
  (void)program_.Files().Load(path.toStdString(), true);
}

void MainWindow::DropFiles(const QStringList& paths) {
  std::vector<std::filesystem::path> files;
  for (const QString& p : paths) files.emplace_back(p.toStdString());
  (void)program_.Files().Drop(files, program_.ReportingHost().Commands().IsEnabled(c::kBrowse));
}

}  // namespace tarvix::gui
