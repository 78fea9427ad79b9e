// SPDX-License-Identifier: GPL-3.0-or-later
// The window's production dialogs: the checksums of the image and of the chip data,
// the difference list of the last failed verify (a row moves the grid to its
// address), the production log with its filter by lot and day, its CSV export and the
// operator's lot, and the serial-number stamping of bulk runs. ProductionDialogs
// plugs them into the window's command table under the Production menu's ids.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "gui/dialog_frame.h"
#include "gui/file_choosers.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace tarvix {
class Program;
}

namespace tarvix::gui {

class MainWindow;
class QtHost;

inline constexpr char kChecksumsTitle[] = "checksums";
inline constexpr char kDifferenceListTitle[] = "difference list";
inline constexpr char kProductionLogTitle[] = "production log";
inline constexpr char kSerialNumbersTitle[] = "serial numbers";

// Rows the difference list shows at most; the rest are counted below it.
inline constexpr int kDiffRowsShown = 10000;

// The sums of the loaded image and of the last chip data, as the sum codes' tooltips
// and the Checksums dialog show them.
[[nodiscard]] QString ImageSumsText(Program& program);
[[nodiscard]] QString ChipSumsText(Program& program);

class DifferenceListWindow : public DialogFrame {
  Q_OBJECT
 public:
  DifferenceListWindow(QWidget* parent, Program& program, QtHost& host);
  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QLabel* Summary() const { return summary_; }

 private:
  void Fill();
  void Jump(int row);

  Program& program_;
  QtHost& host_;
  QTableWidget* table_;
  QLabel* summary_;
};

class ProductionLogWindow : public DialogFrame {
  Q_OBJECT
 public:
  ProductionLogWindow(QWidget* parent, Program& program, QtHost& host, FileChoosers& choosers);
  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QComboBox* LotFilter() const { return lot_filter_; }
  [[nodiscard]] QLineEdit* DayFilter() const { return day_filter_; }
  [[nodiscard]] QLineEdit* Lot() const { return lot_; }
  [[nodiscard]] QPushButton* ExportButton() const { return export_; }
  [[nodiscard]] QPushButton* SetLotButton() const { return set_lot_; }
  // Reads the log again with the filter as it stands.
  void Refresh();

 private:
  void Export();
  void SetLot();

  Program& program_;
  QtHost& host_;
  FileChoosers& choosers_;
  QLineEdit* lot_;
  QPushButton* set_lot_;
  QComboBox* lot_filter_;
  QLineEdit* day_filter_;
  QTableWidget* table_;
  QLabel* count_;
  QPushButton* export_;
};

class SerialNumbersWindow : public DialogFrame {
  Q_OBJECT
 public:
  SerialNumbersWindow(QWidget* parent, Program& program, QtHost& host);
  [[nodiscard]] QCheckBox* Stamping() const { return stamping_; }
  [[nodiscard]] QLineEdit* Address() const { return address_; }
  [[nodiscard]] QComboBox* Format() const { return format_; }
  [[nodiscard]] QLineEdit* Width() const { return width_; }
  [[nodiscard]] QLineEdit* Step() const { return step_; }
  [[nodiscard]] QComboBox* ByteOrder() const { return order_; }
  [[nodiscard]] QLineEdit* Start() const { return start_; }
  [[nodiscard]] QPushButton* OkButton() const { return ok_; }

 private:
  void Accept();
  void SyncEnabled();

  Program& program_;
  QtHost& host_;
  QCheckBox* stamping_;
  QLineEdit* address_;
  QComboBox* format_;
  QLineEdit* width_;
  QLineEdit* step_;
  QComboBox* order_;
  QLineEdit* start_;
  QPushButton* ok_;
};

class ProductionDialogs : public QObject {
  Q_OBJECT
 public:
  ProductionDialogs(MainWindow& window, Program& program, QtHost& host);

  [[nodiscard]] DifferenceListWindow* DifferenceList() const { return diff_; }
  [[nodiscard]] ProductionLogWindow* Log() const { return log_; }
  [[nodiscard]] SerialNumbersWindow* SerialNumbers() const { return serial_; }

 private:
  void ShowChecksums();
  void SyncSums();

  MainWindow& window_;
  Program& program_;
  QtHost& host_;
  QPointer<DifferenceListWindow> diff_;
  QPointer<ProductionLogWindow> log_;
  QPointer<SerialNumbersWindow> serial_;
};

}  // namespace tarvix::gui
