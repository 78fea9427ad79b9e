// SPDX-License-Identifier: GPL-3.0-or-later
// The window itself: construction, the device-change route, close and the lookups.
#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenuBar>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "gui/artwork.h"
#include "gui/dialogs.h"
#include "gui/gang_window.h"
#include "gui/production_windows.h"
#include "gui/qt_host.h"
#include "state/captions.h"

namespace tarvix::gui {

MainWindow::MainWindow(Program& program, QtHost& host, QWidget* parent)
    : QMainWindow(parent), program_(program), host_(host) {
  setWindowTitle(kWindowTitle);
  setWindowIcon(artwork::WindowIcon());
  host_.SetBoxParent(this);
  BuildControls();
  BuildMenus();
  InstallHandlers();
  dialogs_ = new Dialogs(*this, program_, host_);
  production_ = new ProductionDialogs(*this, program_, host_);
  gang_ = new GangDialogs(*this, program_, host_);
  program_.Files().SetSavePathChooser([this] { return ChooseSavePath(); });
  ConnectModels();
  // The window is a fixed dialog.
  setFixedSize(sizeHint());
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  program_.Files().SetSavePathChooser({});
  // Focus moves while the children go (a dialog left open, the cell box); by then
  // this is no longer a MainWindow to tell.
  disconnect(qApp, nullptr, this, nullptr);
  // The Gang view waits for its runs and hands the programmers back while the window
  // it tells is still whole.
  delete gang_->View();
}

void MainWindow::AddMenu(QMenu* menu) {
  menuBar()->addMenu(menu);
  menus_[menu->title()] = menu;
}
void MainWindow::RouteDeviceChanges(UsbBackend& backend) {
  QPointer<MainWindow> self(this);
  backend.SetDeviceChangeHandler([self] {
    QMetaObject::invokeMethod(
        qApp,
        [self] {
          if (!self || self->closing_) return;
          if (self->detour_)
            self->detour_();
          else
            self->program_.DeviceChangeNotice();
        },
        Qt::QueuedConnection);
  });
}
// ---- close ----------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  // Edits not yet saved are asked about first; Cancel (or a save that did not happen)
  // keeps the window open.
  if (closing_ || !program_.Files().SettleUnsavedChanges() || !program_.BeginClose()) {
    event->ignore();
    return;
  }
  closing_ = true;
  // Every gang run ends at its next block while the worker winds down.
  if (GangWindow* gang = gang_->View()) gang->TheGang().StopAll();
  // A question the worker asks from now on is refused at once; nothing here waits
  // for the worker while the worker could be waiting for this thread.
  host_.SetClosing(true);
  page_->setEnabled(false);
  menuBar()->setEnabled(false);
  QElapsedTimer waited;
  waited.start();
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (program_.WorkerEnded() || waited.elapsed() >= kCloseWaitMs) loop.quit();
  });
  poll.start(5);
  if (!program_.WorkerEnded()) loop.exec();
  if (!program_.WorkerEnded()) {
    // A transfer that never returns: end the process rather than close the link
    // under it. The chip's image and the user's files are on disk already.
    std::fprintf(stderr, "tarvix: the worker did not stop within %d ms; ending now\n",
                 kCloseWaitMs);
    std::fflush(nullptr);
    std::_Exit(0);
  }
  program_.FinishClose();
  closed_ = true;
  event->accept();
}

// ---- mirrors ----------------------------------------------------------------------

void MainWindow::OnWindowThread(std::function<void()> fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

// ---- lookups ------------------------------------------------------------------------

QMenu* MainWindow::Menu(const QString& title) const {
  const auto it = menus_.find(title);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* MainWindow::MenuAction(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QWidget* MainWindow::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

ImageButton* MainWindow::Button(int id) const {
  const auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

}  // namespace tarvix::gui
