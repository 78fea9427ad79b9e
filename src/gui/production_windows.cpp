// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/production_windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <charconv>

#include "app/program.h"
#include "buffer/buffer_tools.h"
#include "gui/main_window.h"
#include "gui/qt_host.h"
#include "production/production_log.h"
#include "state/control_ids.h"

namespace tarvix::gui {
namespace {

// The sum codes of the window's layout, whose tooltips give the checksums.
constexpr int kFileSumCode = 1033;
constexpr int kChipSumCode = 1082;

QString Hex(std::uint64_t value, int width = 8) {
  return QString::number(value, 16).toUpper().rightJustified(width, '0');
}

QString Bytes(const std::array<std::uint8_t, kDiffBytesKept>& bytes, std::size_t kept,
              std::uint64_t length) {
  QStringList parts;
  for (std::size_t i = 0; i < kept; ++i) parts << Hex(bytes[i], 2);
  if (length > kept) parts << "...";
  return parts.join(' ');
}

QString SumsLines(const Checksums& sums) {
  return "CRC-32: " + Text(sums.Crc32Text()) + "\nSHA-256: " + Text(sums.Sha256Text());
}

QTableWidget* NewTable(QWidget* parent, const QStringList& headers) {
  auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setWordWrap(false);
  return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
  for (int c = 0; c < cells.size(); ++c) table->setItem(row, c, new QTableWidgetItem(cells[c]));
}

std::optional<std::uint64_t> Number(const QString& text, int base) {
  const std::string s = text.trimmed().toStdString();
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace

QString ImageSumsText(Program& program) {
  const ImageChecksums::Snapshot image = program.ImageSums().Current();
  switch (image.state) {
    case ImageChecksums::State::kNone:
      return "image: none loaded";
    case ImageChecksums::State::kStale:
      return "image: changed, summing again...";
    case ImageChecksums::State::kCurrent:
      break;
  }
  return "image (" + QString::number(image.sums->bytes) + " bytes)\n" + SumsLines(*image.sums);
}

QString ChipSumsText(Program& program) {
  const auto chip = program.ChipProduction().LastChipSums();
  if (!chip) return "chip data: no read or verify yet";
  return "chip data of the last " + Text(chip->operation) + " (" +
         QString::number(chip->sums.bytes) + " bytes)\n" + SumsLines(chip->sums);
}

// ---- the difference list ----------------------------------------------------------

DifferenceListWindow::DifferenceListWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, kDifferenceListTitle, 470, 200), program_(program), host_(host) {
  summary_ = AddLabel("", 6, 5, 458, 10);
  table_ =
      Place(NewTable(this, {"address", "length", "file bytes", "chip bytes"}), 6, 18, 458, 158);
  auto* close = AddButton("Close", 414, 181, 50, 14);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  // Choosing a row (click, or the arrow keys) moves the grid to its address.
  connect(table_, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { Jump(row); });
  Fill();
}

void DifferenceListWindow::Fill() {
  const auto diff = program_.ChipProduction().LastDifferences();
  table_->setRowCount(0);
  if (!diff || !diff->ranges) {
    summary_->setText("the last verify found no differences");
    return;
  }
  const std::uint64_t kept = diff->ranges->Count();
  const int shown = static_cast<int>(std::min<std::uint64_t>(kept, kDiffRowsShown));
  table_->setRowCount(shown);
  for (int row = 0; row < shown; ++row) {
    const std::optional<DiffRange> r = diff->ranges->At(static_cast<std::uint64_t>(row));
    if (!r) {
      table_->setRowCount(row);
      break;
    }
    SetRow(table_, row,
           {Hex(r->address), QString::number(r->length), Bytes(r->file, r->Kept(), r->length),
            Bytes(r->chip, r->Kept(), r->length)});
    table_->item(row, 0)->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(r->address));
  }
  // The two sides of a range share what the address and the length leave.
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->resizeColumnToContents(0);
  table_->resizeColumnToContents(1);
  const int side = (table_->width() - table_->columnWidth(0) - table_->columnWidth(1) -
                    table_->verticalScrollBar()->sizeHint().width() - 4) /
                   2;
  table_->setColumnWidth(2, side);
  table_->setColumnWidth(3, side);
  QString text = QString::number(diff->range_count) + " ranges differ (" +
                 QString::number(diff->differing_bytes) + " bytes)";
  const std::uint64_t rest = diff->range_count - static_cast<std::uint64_t>(table_->rowCount());
  if (rest > 0) text += ", " + QString::number(rest) + " more not listed";
  summary_->setText(text);
}

void DifferenceListWindow::Jump(int row) {
  QTableWidgetItem* item = row < 0 ? nullptr : table_->item(row, 0);
  if (item == nullptr) return;
  (void)GoToAddress(program_.Image(), program_.Hex(), host_,
                    item->data(Qt::UserRole).toULongLong());
}

// ---- the production log -----------------------------------------------------------

ProductionLogWindow::ProductionLogWindow(QWidget* parent, Program& program, QtHost& host,
                                         FileChoosers& choosers)
    : DialogFrame(parent, kProductionLogTitle, 420, 230),
      program_(program),
      host_(host),
      choosers_(choosers) {
  AddLabel("lot of the next chips:", 6, 8, 74);
  lot_ = AddBox(82, 6, 120, 64);
  lot_->setText(Text(program_.Production().Settings().lot));
  set_lot_ = AddButton("Set lot", 206, 5, 40, 14);
  AddLabel("show lot:", 6, 26, 34);
  lot_filter_ = Place(new QComboBox(this), 42, 24, 110, 13);
  lot_filter_->setEditable(true);
  AddLabel("day (YYYY-MM-DD):", 158, 26, 66);
  day_filter_ = AddBox(226, 24, 60, 10);
  auto* show = AddButton("Show", 290, 23, 40, 14);
  table_ = Place(NewTable(this, {"time", "programmer", "chip", "ID", "image", "CRC-32", "operation",
                                 "result", "text", "ms", "lot", "serial"}),
                 6, 42, 408, 162);
  count_ = AddLabel("", 6, 212, 200, 10);
  export_ = AddButton("Export CSV...", 300, 209, 60, 14);
  auto* close = AddButton("Close", 364, 209, 50, 14);
  connect(set_lot_, &QPushButton::clicked, this, [this] { SetLot(); });
  connect(show, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(day_filter_, &QLineEdit::returnPressed, this, [this] { Refresh(); });
  connect(lot_filter_, &QComboBox::activated, this, [this] { Refresh(); });
  connect(export_, &QPushButton::clicked, this, [this] { Export(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

void ProductionLogWindow::SetLot() {
  ProductionSettings settings = program_.Production().Settings();
  settings.lot = lot_->text().toStdString();
  std::string error;
  if (!program_.Production().Set(settings, &error))
    host_.MessageBox(error, "error", BoxIcon::kError, BoxButtons::kOk);
}

void ProductionLogWindow::Refresh() {
  table_->setRowCount(0);
  std::string error;
  const std::filesystem::path path = program_.Production().LogPath();
  auto db =
      path.empty() || !std::filesystem::exists(path) ? nullptr : LogDatabase::Open(path, &error);
  if (!db) {
    count_->setText(error.empty() ? "no chip recorded yet" : Text(error));
    return;
  }
  const ProductionLog log(*db);
  const QString typed = lot_filter_->currentText();
  lot_filter_->clear();
  lot_filter_->addItem(QString());
  if (const auto lots = log.Lots(&error))
    for (const std::string& lot : *lots) lot_filter_->addItem(Text(lot));
  lot_filter_->setCurrentText(typed);
  const LogFilter filter{typed.toStdString(), day_filter_->text().trimmed().toStdString()};
  int row = 0;
  const bool ok = log.Query(
      filter,
      [&](const ChipLogEntry& e) {
        table_->insertRow(row);
        SetRow(table_, row,
               {Text(e.time), Text(e.programmer), Text(e.chip_model), Text(e.chip_id),
                Text(e.image), Text(e.image_crc32), Text(e.operation),
                e.passed ? "passed" : "failed", Text(e.result_text), QString::number(e.duration_ms),
                Text(e.lot), e.serial ? QString::number(*e.serial) : QString()});
        ++row;
        return true;
      },
      &error);
  table_->resizeColumnsToContents();
  count_->setText(ok ? QString::number(row) + (row == 1 ? " chip" : " chips") : Text(error));
}

void ProductionLogWindow::Export() {
  QString path = choosers_.save_file(this, "CSV(*.csv)");
  if (path.isEmpty()) return;
  std::string error;
  auto db = LogDatabase::Open(program_.Production().LogPath(), &error);
  const LogFilter filter{lot_filter_->currentText().toStdString(),
                         day_filter_->text().trimmed().toStdString()};
  if (!db || !ProductionLog(*db).ExportCsv(filter, path.toStdString(), &error)) {
    host_.MessageBox(error, "error", BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  host_.ShowStatus("production log exported to " + path.toStdString(), false, false);
}

// ---- serial numbers -----------------------------------------------------------------

SerialNumbersWindow::SerialNumbersWindow(QWidget* parent, Program& program, QtHost& host)
    : DialogFrame(parent, kSerialNumbersTitle, 200, 148), program_(program), host_(host) {
  stamping_ = Place(new QCheckBox("stamp a serial number into each chip of a bulk run", this), 6, 5,
                    190, 10);
  AddLabel("address (hex):", 6, 22, 60);
  address_ = AddBox(70, 20, 60, 16);
  AddLabel("format:", 6, 38, 60);
  format_ = Place(new QComboBox(this), 70, 36, 80, 13);
  format_->addItems({"binary", "BCD", "ASCII decimal", "ASCII hex"});
  AddLabel("width (bytes):", 6, 54, 60);
  width_ = AddBox(70, 52, 30, 2);
  AddLabel("step:", 6, 70, 60);
  step_ = AddBox(70, 68, 60, 19);
  AddLabel("byte order:", 6, 86, 60);
  order_ = Place(new QComboBox(this), 70, 84, 110, 13);
  order_->addItems({"most significant first", "least significant first"});
  AddLabel("start value:", 6, 102, 60);
  start_ = AddBox(70, 100, 80, 19);
  ok_ = AddButton("OK", 90, 128, 50, 14);
  auto* cancel = AddButton("Cancel", 144, 128, 50, 14);

  const ProductionSettings settings = program_.Production().Settings();
  const SerialSettings serial = settings.serial.value_or(SerialSettings{});
  stamping_->setChecked(settings.serial.has_value());
  address_->setText(Hex(serial.address, 1));
  format_->setCurrentIndex(static_cast<int>(serial.encoding));
  width_->setText(QString::number(serial.width));
  step_->setText(QString::number(serial.step));
  order_->setCurrentIndex(serial.little_endian ? 1 : 0);
  start_->setText(QString::number(serial.start));
  connect(stamping_, &QCheckBox::toggled, this, [this] { SyncEnabled(); });
  connect(ok_, &QPushButton::clicked, this, [this] { Accept(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  SyncEnabled();
}

void SerialNumbersWindow::SyncEnabled() {
  for (QWidget* w :
       std::initializer_list<QWidget*>{address_, format_, width_, step_, order_, start_})
    w->setEnabled(stamping_->isChecked());
}

void SerialNumbersWindow::Accept() {
  ProductionSettings settings = program_.Production().Settings();
  settings.serial.reset();
  if (stamping_->isChecked()) {
    const auto address = Number(address_->text(), 16);
    const auto width = Number(width_->text(), 10);
    const auto step = Number(step_->text(), 10);
    const auto start = Number(start_->text(), 10);
    std::string problem;
    if (!address || !width || !step || !start || *width > 64) {
      problem = "address is a hexadecimal number; width, step and start are decimal numbers";
    } else {
      SerialSettings serial;
      serial.address = *address;
      serial.encoding = static_cast<SerialEncoding>(format_->currentIndex());
      serial.width = static_cast<int>(*width);
      serial.step = *step;
      serial.little_endian = order_->currentIndex() == 1;
      serial.start = *start;
      // Checked against the chip in hand; a bulk run checks again against its own.
      const std::uint64_t capacity = program_.State().chip_capacity.load();
      problem = SerialSettingsProblem(serial, capacity > 0 ? capacity : ~std::uint64_t{0});
      settings.serial = serial;
    }
    if (!problem.empty()) {
      host_.MessageBox(problem, "warning", BoxIcon::kWarning, BoxButtons::kOk);
      return;
    }
  }
  std::string error;
  if (!program_.Production().Set(settings, &error)) {
    host_.MessageBox(error, "error", BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  accept();
}

// ---- the menu ------------------------------------------------------------------------

ProductionDialogs::ProductionDialogs(MainWindow& window, Program& program, QtHost& host)
    : QObject(&window), window_(window), program_(program), host_(host) {
  window_.SetCommandHandler(menu_id::kChecksums, [this] { ShowChecksums(); });
  window_.SetCommandHandler(menu_id::kDifferenceList, [this] {
    if (host_.Commands().IsMenuGrayed(menu_id::kDifferenceList)) return;
    if (diff_) diff_->close();
    diff_ = new DifferenceListWindow(&window_, program_, host_);
    diff_->setAttribute(Qt::WA_DeleteOnClose);
    ShowDialog(diff_, false);
  });
  window_.SetCommandHandler(menu_id::kProductionLog, [this] {
    if (!log_) {
      log_ = new ProductionLogWindow(&window_, program_, host_, window_.Choosers());
      log_->setAttribute(Qt::WA_DeleteOnClose);
    }
    ShowDialog(log_, false);
    log_->raise();
  });
  window_.SetCommandHandler(menu_id::kSerialNumbers, [this] {
    if (!serial_) {
      serial_ = new SerialNumbersWindow(&window_, program_, host_);
      serial_->setAttribute(Qt::WA_DeleteOnClose);
    }
    ShowDialog(serial_, true);
  });
  // The sums change on the worker's thread and the image checksums' own; the window
  // shows them on its thread.
  const QPointer<QObject> alive(this);
  const auto sync = [this, alive] { OnWindowThread(&host_, alive, [this] { SyncSums(); }); };
  program_.ImageSums().SetListener(sync);
  program_.ChipProduction().AddListener([this, alive](ProgramProduction::Change change) {
    OnWindowThread(&host_, alive, [this, change] {
      SyncSums();
      if (change == ProgramProduction::Change::kRecorded && log_) log_->Refresh();
    });
  });
  SyncSums();
}

void ProductionDialogs::SyncSums() {
  if (QWidget* file_sum = window_.Control(kFileSumCode))
    file_sum->setToolTip(ImageSumsText(program_));
  if (QWidget* chip_sum = window_.Control(kChipSumCode))
    chip_sum->setToolTip(ChipSumsText(program_));
}

void ProductionDialogs::ShowChecksums() {
  host_.MessageBox((ImageSumsText(program_) + "\n\n" + ChipSumsText(program_)).toStdString(),
                   kChecksumsTitle, BoxIcon::kInformation, BoxButtons::kOk);
}

}  // namespace tarvix::gui
