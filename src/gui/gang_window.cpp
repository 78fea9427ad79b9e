// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/gang_window.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

#include "device/programmer_identity.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

namespace c = control_id;

// The main window's operations, grayed while the gang owns the programmers.
constexpr int kOperations[] = {c::kAuto,
                               c::kErase,
                               c::kWrite,
                               c::kRead,
                               c::kVerify,
                               c::kTest,
                               c::kBulkMode,
                               c::kBlank,
                               c::kChipFill,
                               c::kFirmwareVersion,
                               c::kFirmwareUpgrade,
                               c::kWriteFromFileAddress};
constexpr int kRefreshMs = 200;
// How long closing waits for the runs: the stop at the next block plus one transfer.
constexpr auto kStopBound = std::chrono::seconds(5 + 60);

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

}  // namespace

GangWindow::GangWindow(MainWindow& window, Program& program, QtHost& host)
    : DialogFrame(&window, kGangTitle, 360, 170),
      window_(window),
      program_(program),
      host_(host),
      table_(Place(new QTableWidget(0, kGangColumns, this), 7, 7, 346, 120)),
      count_(Place(new QSpinBox(this), 62, 133, 60, 13)),
      status_(AddLabel("", 7, 152, 346, 10)),
      start_(AddButton("Start", 248, 132, 50)),
      stop_all_(AddButton("Stop All", 303, 132, 50)),
      timer_(new QTimer(this)) {
  table_->setHorizontalHeaderLabels(
      {"serial", "chip", "state", "progress", "passed", "failed", ""});
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(kGangSerial, 60);
  table_->setColumnWidth(kGangChip, 80);
  table_->setColumnWidth(kGangState, 90);
  table_->setColumnWidth(kGangProgress, 140);
  table_->setColumnWidth(kGangPassed, 50);
  table_->setColumnWidth(kGangFailed, 50);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  AddLabel("chips each", 7, 135, 54);
  count_->setRange(0, 999999);
  count_->setSpecialValueText("until stopped");
  connect(start_, &QPushButton::clicked, this, [this] { (void)Start(); });
  connect(stop_all_, &QPushButton::clicked, this, [this] { gang_->StopAll(); });

  // The programmers are the gang's from now on: the main link lets go of its own.
  SetMainOperations(false);
  if (program_.Link().IsOpen()) (void)program_.Link().CloseDevice();
  gang_ = std::make_unique<Gang>(program_.Backend(), program_.TheClock(), program_.Catalogue(),
                                 program_.SettingsMenu(), program_.Image(), program_.Files());
  window_.SetDeviceChangeDetour([this] { gang_->DeviceChange(); });
  (void)gang_->Discover();
  connect(timer_, &QTimer::timeout, this, &GangWindow::Refresh);
  timer_->start(kRefreshMs);
  Refresh();
}

GangWindow::~GangWindow() {
  window_.SetDeviceChangeDetour(nullptr);
  gang_->StopAll();
  (void)gang_->WaitAll(kStopBound);
  gang_.reset();
  SetMainOperations(true);
  // The main window finds its programmer again.
  program_.DeviceChangeNotice();
}

void GangWindow::SetMainOperations(bool enabled) {
  for (const int id : kOperations) {
    if (enabled)
      host_.Commands().EnableCommand(id);
    else
      host_.Commands().DisableCommand(id);
  }
}

bool GangWindow::Start() {
  const auto refuse = [this](const QString& text) {
    status_->setText(text);
    return false;
  };
  const std::int32_t record = program_.State().selected_chip_index.load();
  if (!program_.Catalogue().IsValidIndex(record)) return refuse("choose the gang's chip first");
  if (program_.Image().Size() == 0) return refuse("open the image to program first");
  GangJob job;
  job.image = &program_.Image();
  job.chip_record = record;
  job.count = count_->value();
  // The window's production log and its lot and serial numbers, as a bulk run has them.
  const ProductionSettings settings = program_.Production().Settings();
  if (const std::filesystem::path log = program_.Production().LogPath(); !log.empty())
    job.log = log;
  job.production.lot = settings.lot;
  job.production.serial = settings.serial;
  job.production.image_name = program_.Image().CurrentPath().filename().string();
  if (const auto sums = program_.ImageSums().SumsFor(program_.Image()))
    job.production.image_sums = *sums;
  std::string error;
  if (!gang_->Start(job, {}, &error)) return refuse(QString::fromStdString(error));
  status_->setText("");
  Refresh();
  return true;
}

void GangWindow::Refresh() {
  (void)gang_->Discover();
  const std::vector<GangRow> rows = gang_->Rows();
  const bool running = gang_->Running();
  start_->setEnabled(!running);
  count_->setEnabled(!running);
  stop_all_->setEnabled(running);
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const GangRow& row = rows[static_cast<std::size_t>(r)];
    table_->setItem(r, kGangSerial, Cell(QString::fromStdString(row.name)));
    table_->setItem(r, kGangChip, Cell(QString::fromStdString(row.chip)));
    QTableWidgetItem* state = Cell(GangStateText(row.state));
    state->setToolTip(QString::fromStdString(row.status));
    if (row.red) state->setForeground(Qt::red);
    table_->setItem(r, kGangState, state);
    auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(r, kGangProgress));
    if (bar == nullptr) {
      bar = new QProgressBar;
      table_->setCellWidget(r, kGangProgress, bar);
    }
    bar->setValue(row.progress);
    bar->setFormat(row.progress_caption.empty() ? QString("%p%")
                                                : QString::fromStdString(row.progress_caption));
    table_->setItem(r, kGangPassed, Cell(QString::number(row.passed)));
    table_->setItem(r, kGangFailed, Cell(QString::number(row.failed)));
    auto* stop = qobject_cast<QPushButton*>(table_->cellWidget(r, kGangStop));
    if (stop == nullptr) {
      stop = new QPushButton("Stop");
      const std::uint32_t serial = row.serial;
      connect(stop, &QPushButton::clicked, this, [this, serial] { gang_->Stop(serial); });
      table_->setCellWidget(r, kGangStop, stop);
    }
    stop->setEnabled(row.state == GangState::kWaiting || row.state == GangState::kProgramming);
  }
}

GangDialogs::GangDialogs(MainWindow& window, Program& program, QtHost& host)
    : QObject(&window), window_(window), program_(program), host_(host) {
  window_.SetCommandHandler(menu_id::kGang, [this] {
    if (!view_) {
      // A programmer is never driven by two workers: not while the main one runs.
      if (!program_.TheWorker().Idle()) {
        host_.ShowStatus(kProgrammerBusy, true, true);
        return;
      }
      view_ = new GangWindow(window_, program_, host_);
      view_->setAttribute(Qt::WA_DeleteOnClose);
    }
    ShowDialog(view_, false);
    view_->raise();
  });
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &GangDialogs::SyncMenuItem);
  timer->start(1000);
  SyncMenuItem();
}

void GangDialogs::SyncMenuItem() {
  QAction* item = window_.MenuAction(menu_id::kGang);
  if (item == nullptr) return;
  // The list as the links' last look left it: counting never opens a programmer.
  int programmers = 0;
  for (const UsbDeviceInfo& info : program_.Backend().Devices())
    if (info.vendor_id == kProgrammerVendorId && info.product_id == kProgrammerProductId)
      ++programmers;
  item->setVisible(programmers > 1 || view_ != nullptr);
}

}  // namespace tarvix::gui
