// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/screenshot_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "buffer/find_datas.h"
#include "firmware/tvx_image.h"
#include "gui/caption_progress_bar.h"
#include "gui/chip_fill_window.h"
#include "gui/dialogs.h"
#include "gui/feedback_window.h"
#include "gui/file_division_window.h"
#include "gui/file_fill_window.h"
#include "gui/files_combine_window.h"
#include "gui/find_datas_window.h"
#include "gui/firmware_upgrade_window.h"
#include "gui/gang_window.h"
#include "gui/main_window.h"
#include "gui/move_to_window.h"
#include "gui/production_windows.h"
#include "gui/simulator_menu.h"
#include "gui/text_viewer_window.h"
#include "gui/version_window.h"
#include "gui/view_data_window.h"
#include "gui/write_from_address_window.h"
#include "net/version_document.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

constexpr qint64 kStepTimeoutMs = 120000;
namespace c = control_id;

bool WorkerIdle(MainWindow& w) {
  return w.TheProgram().TheWorker().Idle();
}

bool WorkerIdleOf(Program& program) {
  return program.TheWorker().Idle();
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

  // With several programmers on the bus (--sim-programmers) the tour is the Gang view's.
  if (simulator_ != nullptr && simulator_->Programmers() > 1) {
    AddGangSteps();
    return;
  }

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
  AddProductionSteps();

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
      [this, &program] {
        // The edit is on the chip now; the demo file keeps it too, so the read below
        // has no unsaved edit to ask about.
        (void)program.Files().Save();
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
  // Menus whose items carry images.
  for (const char* menu : {"Addr Operate", "Help"}) {
    const QString title = menu;
    Add(
        "open " + title, [this] { return QApplication::activePopupWidget() == nullptr; },
        [this, title] { window_.menuBar()->setActiveAction(window_.Menu(title)->menuAction()); });
    Add(
        title + " open", [this, title] { return window_.Menu(title)->isVisible(); },
        [this, title] {
          QTimer::singleShot(300, this, [this, title] {
            Shoot("05" + QString(title == "Help" ? "c" : "b") + "-menu-" +
                      title.toLower().replace(' ', '-'),
                  true);
            window_.Menu(title)->close();
            window_.menuBar()->setActiveAction(nullptr);
          });
        });
  }
  Add(
      "details box", [] { return QApplication::activePopupWidget() == nullptr; },
      [this] {
        QTimer::singleShot(400, this, [this] {
          Shoot("06-chip-details", true);
          AnswerBox(true);
        });
        window_.ShowChipDetails();
      });
  AddDialogSteps();
  AddNetDialogSteps();
  // A chip whose ID several catalogue models share: the long red line ends in an
  // ellipsis.
  Add(
      "restart the programmer after its upgrade",
      [this] {
        return QApplication::activeModalWidget() == nullptr &&
               window_.TheDialogs().TextViewer() == nullptr && WorkerIdle(window_);
      },
      [this] {
        if (simulator_ == nullptr) return;
        simulator_->Unplug();
        simulator_->Replug();
      });
  Add(
      "several models share the ID",
      [this, status] { return WorkerIdle(window_) && status() == "find SPI FLASH"; },
      [this] {
        if (simulator_ != nullptr) simulator_->InsertChip("W25Q16JV");
        AnswerBox(true);
        window_.DispatchCommand(c::kTest);
      });
  Add(
      "long status shown",
      [this, &program] {
        return QApplication::activeModalWidget() == nullptr && WorkerIdle(window_) &&
               program.ReportingHost().Status().text.size() > 60;
      },
      [this] { Shoot("27-long-status"); });
  Add(
      "done",
      [this] {
        return QApplication::activeModalWidget() == nullptr &&
               window_.TheDialogs().TextViewer() == nullptr;
      },
      [this] {
        QFile::remove(image_);
        for (const QString& extra : extra_files_) QFile::remove(extra);
        // What the tour edited is its own: the close's question about it is Discard.
        DiscardOnClose();
        window_.close();
      });
}

void ScreenshotTour::AddDialogSteps() {
  Program& program = window_.TheProgram();
  Dialogs& dialogs = window_.TheDialogs();
  const auto no_modal = [] { return QApplication::activeModalWidget() == nullptr; };
  // Typed key by key, so every keystroke check sees what a user's typing gives it.
  const auto type_into = [](QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    for (const QChar ch : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
      QApplication::sendEvent(box, &press);
    }
  };

  Add("view data", no_modal, [this, &dialogs, type_into] {
    window_.DispatchCommand(control_id::kViewData);
    type_into(dialogs.ViewData()->AddressBox(), "10");
    dialogs.ViewData()->OkButton()->click();
  });
  Add(
      "view data answered",
      [&dialogs, &program] {
        return WorkerIdleOf(program) && dialogs.ViewData()->StateText()->text().endsWith("...");
      },
      [this, &dialogs] {
        Shoot("07-view-data", true);
        dialogs.ViewData()->close();
      });

  Add("file fill", no_modal, [this, &dialogs, &program, type_into] {
    if (!program.Hex().EditMode()) window_.DispatchCommand(control_id::kEditMode);
    window_.DispatchCommand(control_id::kFileFill);
    FileFillWindow* fill = dialogs.FileFill();
    type_into(fill->AddressBox(), "20");
    type_into(fill->LengthBox(), "16");
    type_into(fill->DataBox(), "55");
    fill->OkButton()->click();
  });
  Add(
      "file filled", [] { return true; },
      [this, &dialogs] {
        Shoot("08-fill-file-data", true);
        // A length typed with digits too many: the question first, then a fill long
        // enough to show its progress, stopped early with Cancel.
        FileFillWindow* fill = dialogs.FileFill();
        fill->LengthBox()->setText("2000000000");
        QTimer::singleShot(400, this, [this] {
          Shoot("08b-fill-past-the-chip", true);
          AnswerBox(true);
        });
        // The fill lets the event loop run between its slices: the bar is looked at then.
        auto* watch = new QTimer(this);
        auto seen = std::make_shared<int>(0);
        connect(watch, &QTimer::timeout, this, [this, watch, seen] {
          auto* bar = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
          if (bar == nullptr || bar->value() <= 0 || ++*seen < 3) return;
          Shoot("08c-fill-progress", true);
          bar->cancel();
          watch->deleteLater();
        });
        watch->start(20);
        fill->OkButton()->click();
      });
  Add(
      "long fill stopped",
      [&dialogs] {
        return dialogs.FileFill() != nullptr &&
               QApplication::activeModalWidget() == dialogs.FileFill();
      },
      [this, &dialogs] {
        Shoot("08d-fill-stopped", true);
        dialogs.FileFill()->close();
      });

  Add("move to", no_modal, [this, &dialogs, type_into] {
    window_.DispatchCommand(control_id::kMoveTo);
    MoveToWindow* move = dialogs.MoveTo();
    move->move(window_.frameGeometry().right() - move->width(), window_.y() + 40);
    type_into(move->AddressBox(), "1234");
    move->OkButton()->click();
  });
  Add(
      "moved", [] { return true; },
      [this, &dialogs] {
        Shoot("09-move-to", true);
        dialogs.MoveTo()->close();
      });

  Add("find", no_modal, [this, &dialogs, type_into] {
    window_.DispatchCommand(control_id::kFindData);
    FindDatasWindow* find = dialogs.FindDatas();
    find->CharButton()->click();
    type_into(find->AimBox(), "Tarvix");
    find->OkButton()->click();
  });
  Add(
      "find at its match",
      [&program] { return program.State().command_code.load() == kFindWaiting; },
      [this, &dialogs] {
        Shoot("10-find-datas", true);
        dialogs.FindDatas()->close();
      });

  Add(
      "chip fill", [&program] { return WorkerIdleOf(program); },
      [this, &dialogs, type_into] {
        window_.DispatchCommand(control_id::kChipFill);
        ChipFillWindow* fill = dialogs.ChipFill();
        if (fill == nullptr) return;
        type_into(fill->AddressBox(), "100");
        type_into(fill->LengthBox(), "65536");
        type_into(fill->DataBox(), "AA");
        fill->OkButton()->click();
      });
  Add(
      "chip filling",
      [&dialogs] {
        return dialogs.ChipFill() == nullptr || !dialogs.ChipFill()->StateLine()->text().isEmpty();
      },
      [this] { Shoot("11-fill-chip-data-running", true); });
  Add(
      "chip filled", [&program] { return WorkerIdleOf(program); },
      [this, &dialogs] {
        Shoot("12-fill-chip-data", true);
        if (dialogs.ChipFill() != nullptr) dialogs.ChipFill()->close();
      });

  Add("upgrade", no_modal, [this, &dialogs] {
    // A firmware file of 20 KiB, so the bar has a while to move.
    const QString firmware = QDir(folder_).filePath("demo-firmware.tvx");
    extra_files_.push_back(firmware);
    std::vector<std::uint8_t> payload(20 * 1024);
    for (std::size_t i = 0; i < payload.size(); ++i)
      payload[i] = static_cast<std::uint8_t>(i * 13 + 1);
    if (const auto image = MakeTvx(payload)) {
      QFile out(firmware);
      if (out.open(QIODevice::WriteOnly))
        out.write(reinterpret_cast<const char*>(image->data()), static_cast<qint64>(image->size()));
    }
    dialogs.Choosers().open_file = [firmware](QWidget*, const QString&) { return firmware; };
    window_.DispatchCommand(control_id::kFirmwareUpgrade);
  });
  Add(
      "upgrade opened", [] { return true; },
      [this, &dialogs] {
        Shoot("13-firmware-upgrade", true);
        dialogs.Upgrade()->BrowseButton()->click();
      });
  Add(
      "upgrade file chosen", [] { return true; },
      [this, &dialogs] {
        Shoot("14-firmware-upgrade-ready", true);
        dialogs.Upgrade()->UpgradeButton()->click();
      });
  Add(
      "upgrade running",
      [&dialogs] {
        return dialogs.Upgrade()->Bar()->Caption().startsWith("written") &&
               dialogs.Upgrade()->Bar()->Position() >= 30;
      },
      [this] { Shoot("15-firmware-upgrading", true); });
  Add(
      "upgrade finished",
      [&program, &dialogs] {
        return WorkerIdleOf(program) && !program.Upgrade().Running() &&
               QApplication::activeModalWidget() == dialogs.Upgrade();
      },
      [this, &dialogs] {
        Shoot("16-firmware-upgraded", true);
        dialogs.Upgrade()->close();
        dialogs.Choosers() = DesktopFileChoosers();
      });

  Add("write from file address", no_modal, [this, &dialogs, type_into] {
    window_.DispatchCommand(control_id::kWriteFromFileAddress);
    WriteFromAddressWindow* dialog = dialogs.WriteFromAddress();
    type_into(dialog->AddressBox(), "100");
    dialog->FileBox()->setText(image_);
  });
  Add(
      "write from file address shown", [] { return true; },
      [this, &dialogs] {
        Shoot("17-write-from-file-addr", true);
        // A ".cap" file chosen with "...": 2048 in a locked box.
        const QString cap = QDir(folder_).filePath("demo-bios.cap");
        extra_files_.push_back(cap);
        QFile out(cap);
        if (out.open(QIODevice::WriteOnly)) out.write(QByteArray(4096, '\x5A'));
        out.close();
        dialogs.Choosers().open_file = [cap](QWidget*, const QString&) { return cap; };
        dialogs.WriteFromAddress()->BrowseButton()->click();
      });
  Add(
      "cap file chosen", [] { return true; },
      [this, &dialogs] {
        Shoot("17b-write-from-cap-file", true);
        dialogs.WriteFromAddress()->close();
        dialogs.Choosers() = DesktopFileChoosers();
      });

  Add("files combine", no_modal, [this, &dialogs, type_into] {
    const QStringList inputs = {image_, QDir(folder_).filePath("demo-firmware.tvx")};
    dialogs.Choosers().open_files = [inputs](QWidget*, const QString&) { return inputs; };
    window_.DispatchCommand(menu_id::kFilesCombine);
    FilesCombineWindow* combine = dialogs.FilesCombine();
    combine->AddFilesButton()->click();
    type_into(combine->FileNameBox(), "joined.bin");
  });
  Add(
      "files combine shown", [] { return true; },
      [this, &dialogs] {
        Shoot("18-files-combine", true);
        // The folder browser, with its box to type a path in.
        QTimer::singleShot(600, this, [this] {
          Shoot("19-folder-browser", true);
          if (auto* browser = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            browser->reject();
        });
        dialogs.FilesCombine()->SavePathButton()->click();
      });
  Add(
      "files combine closed",
      [&dialogs] { return QApplication::activeModalWidget() == dialogs.FilesCombine(); },
      [&dialogs] {
        dialogs.FilesCombine()->close();
        dialogs.Choosers() = DesktopFileChoosers();
      });

  Add("file division", no_modal, [this, &dialogs] {
    const QString source = image_;
    dialogs.Choosers().open_file = [source](QWidget*, const QString&) { return source; };
    window_.DispatchCommand(menu_id::kFileDivision);
    FileDivisionWindow* division = dialogs.FileDivision();
    division->BrowseButton()->click();
    division->NodesBox()->setText(QString::fromUtf8("1024，2048"));
  });
  Add(
      "file division shown", [] { return true; },
      [this, &dialogs] {
        Shoot("20-file-division", true);
        const QString base = image_.left(image_.size() - 4);
        for (const char* piece : {"_0-1023.bin", "_1024-2047.bin", "_2048-4194303.bin"})
          extra_files_.push_back(base + piece);
        // The box shows the ASCII commas before the division's own box comes up.
        QTimer::singleShot(400, this, [this] {
          Shoot("20b-file-divided", true);
          AnswerBox(true);
        });
        dialogs.FileDivision()->OkButton()->click();
      });
  Add(
      "file division done",
      [&dialogs] {
        return dialogs.FileDivision() != nullptr &&
               QApplication::activeModalWidget() == dialogs.FileDivision();
      },
      [&dialogs] {
        dialogs.FileDivision()->close();
        dialogs.Choosers() = DesktopFileChoosers();
      });

  Add("a refused keystroke", no_modal, [this, &dialogs] {
    window_.DispatchCommand(control_id::kViewData);
    QTimer::singleShot(500, this, [this] {
      Shoot("21-hex-keystroke-refused", true);
      AnswerBox(true);
    });
    for (const char* key : {"1", "G"}) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
      QApplication::sendEvent(dialogs.ViewData()->AddressBox(), &press);
    }
  });
  // The warning answered, View Data itself is the modal window left.
  Add(
      "keystroke answered",
      [&dialogs] {
        return dialogs.ViewData() != nullptr &&
               QApplication::activeModalWidget() == dialogs.ViewData();
      },
      [&dialogs] { dialogs.ViewData()->close(); });
}

void ScreenshotTour::AddNetDialogSteps() {
  Dialogs& dialogs = window_.TheDialogs();
  const auto no_modal = [] { return QApplication::activeModalWidget() == nullptr; };
  // No maker's server here: the checks go to a local port where nobody listens.
  UpdateCheckConfig nowhere = UpdateCheckConfig::Default();
  nowhere.url = std::string("http://127.0.0.1:9") + kVersionDocumentPath;

  Add("check new", no_modal, [this, &dialogs, nowhere] {
    dialogs.SetUpdateCheckConfig(nowhere);
    window_.DispatchCommand(menu_id::kCheckNew);
    // What a server offering V4.1 and firmware V2.3 gives, with the simulated programmer.
    UpdateCheckResult shown;
    shown.ok = true;
    shown.lines = MakeVersionLines(ParseVersionDocument(std::string("\x41\x23", 2)), 0x12);
    shown.link_url = UpdateCheckConfig::Default().link_url;
    dialogs.Version()->ShowResult(shown);
  });
  Add(
      "version shown", [] { return true; },
      [this, &dialogs] {
        Shoot("22-version", true);
        dialogs.Version()->close();
      });
  Add("check new failing", no_modal,
      [this, &dialogs] { window_.DispatchCommand(menu_id::kCheckNew); });
  Add(
      "fetch failure box",
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [this] {
        Shoot("23-version-fetch-failed", true);
        AnswerBox(true);
      });
  Add(
      "version access failed box",
      [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        return box != nullptr && box->text().startsWith("version access failed");
      },
      [this, &dialogs] {
        Shoot("24-version-access-failed", true);
        AnswerBox(true);
        dialogs.SetUpdateCheckConfig(UpdateCheckConfig::Default());
      });
  Add("feedback", no_modal, [this, &dialogs] {
    window_.DispatchCommand(menu_id::kFeedback);
    FeedbackWindow* w = dialogs.Feedback();
    w->ThemeBox()->setText(QString::fromUtf8("读取 W25Q128 失败"));
    w->ProblemBox()->setPlainText(
        "Reading a W25Q128JV stops at 37% with \"read failed\".\nThe chip verifies fine in "
        "another socket.");
    w->ContactBox()->setText("technician@example.com");
  });
  Add(
      "feedback shown", [] { return true; },
      [this, &dialogs] {
        Shoot("25-feedback", true);
        dialogs.Feedback()->close();
      });
  // No desktop viewer here: the manual comes up in the program's own window.
  Add("help contents", no_modal, [this] { window_.DispatchCommand(menu_id::kContents); });
  Add(
      "manual shown", [&dialogs] { return dialogs.TextViewer() != nullptr; },
      [this, &dialogs] {
        QTimer::singleShot(400, this, [this, &dialogs] {
          Shoot("26-help-contents", true);
          if (dialogs.TextViewer() != nullptr) dialogs.TextViewer()->close();
        });
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
      Fail("timed out waiting for: " + step.what + " (status line: \"" +
           QString::fromStdString(window_.TheProgram().ReportingHost().Status().text) + "\")");
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

void ScreenshotTour::DiscardOnClose() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || box->button(QMessageBox::No) == nullptr) {
    if (!window_.Closed()) QTimer::singleShot(100, this, [this] { DiscardOnClose(); });
    return;
  }
  box->button(QMessageBox::No)->click();
}

void ScreenshotTour::Fail(const QString& why) {
  QString modal;
  if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
    modal = " (a box is open: \"" + box->text() + "\")";
  std::fprintf(stderr, "screenshots: %s%s\n", qPrintable(why), qPrintable(modal));
  // A box left open may hold the worker, and the window's close would wait it out and
  // end the process as a success: end now, failed.
  std::fflush(nullptr);
  std::_Exit(1);
}

}  // namespace tarvix::gui
