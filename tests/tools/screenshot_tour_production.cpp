// SPDX-License-Identifier: GPL-3.0-or-later
// The tour's production steps: the gang view and the production dialogs.
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

namespace c = control_id;

bool WorkerIdle(MainWindow& w) {
  return w.TheProgram().TheWorker().Idle();
}

}  // namespace

void ScreenshotTour::AddGangSteps() {
  Program& program = window_.TheProgram();
  Add(
      "start-up recognition",
      [this, &program] {
        return WorkerIdle(window_) && program.ReportingHost().Status().text != "state";
      },
      [this, &program] {
        QFile file(image_);
        if (file.open(QIODevice::WriteOnly)) {
          QByteArray data(1024 * 1024, '\0');
          for (int i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7) & 0xFF);
          file.write(data);
        }
        file.close();
        (void)program.Files().Load(image_.toStdString(), true);
      });
  Add(
      "open the gang view",
      [this] { return WorkerIdle(window_) && window_.MenuAction(menu_id::kGang)->isVisible(); },
      [this] {
        window_.DispatchCommand(menu_id::kGang);
        if (GangWindow* gang = window_.Gang().View()) gang->StartButton()->click();
      });
  Add(
      "every programmer writing",
      [this] {
        GangWindow* gang = window_.Gang().View();
        if (gang == nullptr) return false;
        for (const GangRow& row : gang->TheGang().Rows())
          if (row.state != GangState::kProgramming || row.progress < 30) return false;
        return true;
      },
      [this] {
        QTimer::singleShot(300, this, [this] {
          Shoot("30-gang", true);
          // Closing the view stops every run at its next block and waits for them.
          if (GangWindow* gang = window_.Gang().View()) gang->close();
        });
      });
  Add(
      "done", [this] { return window_.Gang().View() == nullptr; },
      [this] {
        QFile::remove(image_);
        window_.close();
      });
}

void ScreenshotTour::AddProductionSteps() {
  Program& program = window_.TheProgram();
  ProductionDialogs& production = window_.Production();
  const auto no_modal = [] { return QApplication::activeModalWidget() == nullptr; };
  // The box waits in its own loop: its picture and its answer are set up first.
  Add("checksums", no_modal, [this] {
    QTimer::singleShot(400, this, [this] {
      Shoot("40-checksums", true);
      AnswerBox(true);
    });
    window_.DispatchCommand(menu_id::kChecksums);
  });
  // Three bytes of the image changed: the chip no longer matches it, and the verify,
  // told to go on past the first mismatch, lists each range.
  Add(
      "verify with differences", [this, no_modal] { return no_modal() && WorkerIdle(window_); },
      [this, &program] {
        for (const std::uint64_t at : {0x40, 0x41, 0x1234}) {
          std::uint8_t byte = 0;
          (void)program.Image().ReadWorking(at, std::span(&byte, 1));
          saved_bytes_.emplace_back(at, byte);
          (void)program.Image().WriteByte(at, static_cast<std::uint8_t>(~byte));
        }
        window_.DispatchCommand(c::kVerify);
      });
  Add(
      "mismatch box",
      [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
      [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (QAbstractButton* no = box->button(QMessageBox::No)) no->click();
      });
  Add(
      "differences listed",
      [this, no_modal, &program] {
        return no_modal() && WorkerIdle(window_) &&
               !program.ReportingHost().Commands().IsMenuGrayed(menu_id::kDifferenceList);
      },
      [this, &production] {
        window_.DispatchCommand(menu_id::kDifferenceList);
        if (production.DifferenceList() != nullptr)
          production.DifferenceList()->Table()->setCurrentCell(1, 0);
      });
  Add(
      "difference list shown", [&production] { return production.DifferenceList() != nullptr; },
      [this, &production, &program] {
        Shoot("41-difference-list", true);
        production.DifferenceList()->close();
        for (const auto& [at, byte] : saved_bytes_) (void)program.Image().WriteByte(at, byte);
        (void)program.Files().Save();
      });
  Add("serial numbers", no_modal, [this, &production] {
    window_.DispatchCommand(menu_id::kSerialNumbers);
    if (SerialNumbersWindow* w = production.SerialNumbers()) {
      w->Stamping()->setChecked(true);
      w->Address()->setText("7FF0");
      w->Format()->setCurrentIndex(2);
      w->Width()->setText("8");
      w->Start()->setText("24000001");
    }
  });
  Add(
      "serial numbers shown", [&production] { return production.SerialNumbers() != nullptr; },
      [this, &production] {
        Shoot("42-serial-numbers", true);
        production.SerialNumbers()->reject();
      });
  Add("production log", no_modal, [this, &production] {
    window_.DispatchCommand(menu_id::kProductionLog);
    if (ProductionLogWindow* w = production.Log()) {
      w->Lot()->setText("LOT-2412-A");
      w->SetLotButton()->click();
    }
  });
  Add(
      "production log shown", [&production] { return production.Log() != nullptr; },
      [this, &production] {
        Shoot("43-production-log", true);
        production.Log()->close();
      });
}

}  // namespace tarvix::gui
