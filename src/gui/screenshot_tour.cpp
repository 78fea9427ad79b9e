#include "gui/screenshot_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <cstdio>

#include "gui/caption_progress_bar.h"
#include "gui/main_window.h"
#include "gui/simulator_menu.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

constexpr qint64 kStepTimeoutMs = 120000;
namespace c = control_id;

bool WorkerIdle(MainWindow& w) {
  return w.TheProgram().TheWorker().Idle();
}

}  // namespace

ScreenshotTour::ScreenshotTour(MainWindow& window, SimulatorMenu* simulator, QString folder)
    : window_(window), simulator_(simulator), folder_(std::move(folder)) {
  QDir().mkpath(folder_);
  image_ = QDir(folder_).filePath("demo-image.bin");
  connect(&timer_, &QTimer::timeout, this, &ScreenshotTour::Tick);

  Program& program = window_.TheProgram();
  const auto status = [&program] {
    return QString::fromStdString(program.ReportingHost().Status().text);
  };

  Add(
      "start-up recognition", [this, status] { return WorkerIdle(window_) && status() != "state"; },
      [this] { Shoot("01-startup-recognised"); });

  Add(
      "load and edit an image", [] { return true; },
      [this, &program] {
        // A 4 MiB image with a recognisable pattern, so the write lasts a few seconds.
        QFile file(image_);
        if (file.open(QIODevice::WriteOnly)) {
          QByteArray data(4 * 1024 * 1024, '\0');
          for (int i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i < 64 ? "VRNT_Tarvix demo image: serial memory programmer "
                                                 "0123456789ABCD"[i]
                                               : (i * 7) & 0xFF);
          file.write(data);
        }
        file.close();
        (void)program.Files().Load(image_.toStdString(), true);
        window_.Control(c::kEditModeBox)->setFocus();
        qobject_cast<QAbstractButton*>(window_.Control(c::kEditModeBox))->click();
        program.Hex().SetFocusCell({2, 5});
        program.Hex().Click({2, 5}, false);
        for (const char* key : {"A", "5"}) {
          QKeyEvent press(QEvent::KeyPress, key[0], Qt::NoModifier, key);
          QApplication::sendEvent(window_.CellEditBox(), &press);
        }
      });
  Add(
      "edited", [] { return true; }, [this] { Shoot("02-image-edited"); });

  Add(
      "start a write", [this] { return WorkerIdle(window_); },
      [this] {
        AnswerBox(true);
        window_.DispatchCommand(c::kWrite);
      });
  Add(
      "write in progress",
      [this] {
        return window_.ProgressBar()->isVisible() && window_.ProgressBar()->Position() >= 35;
      },
      [this] { Shoot("03-writing"); });
  Add(
      "write finished",
      [this] { return !window_.ProgressBar()->isVisible() && WorkerIdle(window_); },
      [this] {
        // Pull the programmer's cable, then ask for a read: its check finds no device.
        if (simulator_ != nullptr) simulator_->Unplug();
      });
  Add(
      "unplug noticed",
      [this, &program] { return WorkerIdle(window_) && program.ReportingHost().Status().red; },
      [this] {
        AnswerBox(true);
        window_.DispatchCommand(c::kRead);
      });
  Add(
      "failed operation",
      [this, &program] {
        return QApplication::activeModalWidget() == nullptr && WorkerIdle(window_) &&
               program.ReportingHost().Status().red;
      },
      [this, status] {
        Shoot("04-failed-operation");
        failed_status_ = status();
        if (simulator_ != nullptr) simulator_->Replug();
      });
  Add(
      "back after replug",
      [this, status] { return WorkerIdle(window_) && status() != failed_status_; },
      [this] {
        QMenu* settings = window_.Menu("Settings");
        window_.menuBar()->setActiveAction(settings->menuAction());
      });
  Add(
      "settings menu open", [this] { return window_.Menu("Settings")->isVisible(); },
      [this] {
        QTimer::singleShot(300, this, [this] {
          Shoot("05-settings-menu", true);
          window_.Menu("Settings")->close();
          window_.menuBar()->setActiveAction(nullptr);
        });
      });
  Add(
      "details box", [this] { return !window_.Menu("Settings")->isVisible(); },
      [this] {
        QTimer::singleShot(400, this, [this] {
          Shoot("06-chip-details", true);
          AnswerBox(true);
        });
        window_.ShowChipDetails();
      });
  Add(
      "done", [] { return QApplication::activeModalWidget() == nullptr; },
      [this] {
        QFile::remove(image_);
        window_.close();
      });
}

void ScreenshotTour::Add(QString what, std::function<bool()> ready, std::function<void()> action) {
  steps_.push_back({std::move(what), std::move(ready), std::move(action)});
}

void ScreenshotTour::Start() {
  step_started_ = QDateTime::currentMSecsSinceEpoch();
  timer_.start(50);
}

void ScreenshotTour::Tick() {
  if (next_ >= steps_.size()) {
    timer_.stop();
    return;
  }
  Step& step = steps_[next_];
  if (!step.ready()) {
    if (QDateTime::currentMSecsSinceEpoch() - step_started_ > kStepTimeoutMs)
      Fail("timed out waiting for: " + step.what);
    return;
  }
  ++next_;
  step_started_ = QDateTime::currentMSecsSinceEpoch();
  // Let the window paint what the last step changed before the next one acts.
  timer_.stop();
  step.action();
  QTimer::singleShot(150, this, [this] {
    if (next_ < steps_.size()) timer_.start(50);
  });
}

void ScreenshotTour::Shoot(const QString& name, bool with_popups) {
  QApplication::processEvents();
  const QString path = QDir(folder_).filePath(name + ".png");
  QRect area = window_.frameGeometry();
  if (with_popups) {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top != &window_) area = area.united(top->frameGeometry());
  }
  QScreen* screen = window_.screen();
  QPixmap shot;
  if (screen != nullptr && QGuiApplication::platformName() == "xcb")
    shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  if (shot.isNull()) shot = window_.grab();
  if (!shot.save(path)) {
    Fail("cannot write " + path);
    return;
  }
  std::printf("%s\n", qPrintable(path));
  std::fflush(stdout);
}

void ScreenshotTour::AnswerBox(bool ok) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) {
    // The question comes when the worker gets to it; look again shortly.
    QTimer::singleShot(100, this, [this, ok] { AnswerBox(ok); });
    return;
  }
  QAbstractButton* button = box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel);
  if (button == nullptr) button = box->button(ok ? QMessageBox::Yes : QMessageBox::No);
  if (button != nullptr) button->click();
}

void ScreenshotTour::Fail(const QString& why) {
  std::fprintf(stderr, "screenshots: %s\n", qPrintable(why));
  result_ = 1;
  timer_.stop();
  if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  window_.close();
}

}  // namespace tarvix::gui
