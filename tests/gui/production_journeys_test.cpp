// SPDX-License-Identifier: GPL-3.0-or-later
// Production journeys through the real window: load files in the formats toolchains
// write, checked with srec_cat and sha256sum as independent judges.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cstdio>
#include <cstdlib>

#include "app/bulk_mode.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/production_windows.h"
#include "gui/window_fixture.h"
#include "sim/sim_setup.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

bool StartsWith(const std::string& text, const std::string& head) {
  return text.rfind(head, 0) == 0;
}

class ProductionJourney : public WindowFixture {
 protected:
  // Runs `command` in the scratch folder; its standard output.
  std::string Sh(const std::string& command) {
    const std::string line = "cd '" + dir_.path().string() + "' && " + command;
    std::string out;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
      char chunk[4096];
      for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
      EXPECT_EQ(::pclose(pipe), 0) << line;
    }
    return out;
  }
  [[nodiscard]] std::string ImageBytes() const {
    std::string bytes(program_->Image().Size(), '\0');
    const std::int64_t got = program_->Image().ReadWorking(
        0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_EQ(got, static_cast<std::int64_t>(bytes.size()));
    return bytes;
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen((dir_.path() / name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // sha256sum's digest of `bytes`.
  std::string Sha256Sum(const std::string& bytes) {
    Put("sum.tmp", bytes);
    return Sh("sha256sum sum.tmp").substr(0, 64);
  }
  [[nodiscard]] std::string Tooltip(int id) const {
    return window_->Control(id)->toolTip().toStdString();
  }
  // The production log as the window's view shows it, one row of cells each.
  std::vector<std::vector<std::string>> LogRows() {
    Menu(menu_id::kProductionLog);
    ProductionLogWindow* view = window_->Production().Log();
    EXPECT_NE(view, nullptr);
    std::vector<std::vector<std::string>> rows;
    if (view == nullptr) return rows;
    view->Refresh();
    QTableWidget* t = view->Table();
    for (int r = 0; r < t->rowCount(); ++r) {
      rows.emplace_back();
      for (int c = 0; c < t->columnCount(); ++c)
        rows.back().push_back(t->item(r, c) ? t->item(r, c)->text().toStdString() : "");
    }
    return rows;
  }
  [[nodiscard]] const ShownBox* LastBox() const {
    return boxes_.empty() ? nullptr : &boxes_.back();
  }
};

TEST_F(ProductionJourney, RecordFilesOpenAndSaveInTheirFormats) {
  Open();
  MakeImage("part.bin", 3000);
  // An S-record file with a gap: the gap and the range before the records read 0xFF.
  Sh("srec_cat part.bin -binary -offset 0x100 part.bin -binary -offset 0x2000 -o fw.s19 "
     "-motorola");
  OpenFile(dir_.path() / "fw.s19");
  EXPECT_EQ(Status(), "open succeed");
  EXPECT_TRUE(file_dialogs_.back().contains("*.srec")) << file_dialogs_.back().toStdString();
  EXPECT_TRUE(file_dialogs_.back().contains("*.hex"));
  Sh("srec_cat fw.s19 -motorola -fill 0xFF 0 0x2BB8 -o expected.bin -binary");
  const std::string image = ImageBytes();
  ASSERT_EQ(image.size(), 0x2BB8u);
  EXPECT_TRUE(image == ReadFile(dir_.path() / "expected.bin"));

  // An edit saved goes back into the file as records, in its own format.
  TypeIntoCell(1, 2, "5a");
  Choose("&Save");
  EXPECT_EQ(Status(), "file saved");
  EXPECT_EQ(ReadFile(dir_.path() / "fw.s19").substr(0, 2), "S0");
  Sh("srec_cat fw.s19 -motorola -fill 0xFF 0 0x2BB8 -o saved.bin -binary");
  std::string edited = image;
  edited[1] = '\x5A';
  EXPECT_TRUE(ReadFile(dir_.path() / "saved.bin") == edited);

  // Save As in the format the name's extension says: srec_cat reads it back.
  WillChoose(dir_.path() / "copy.hex");
  Choose("Save &As");
  EXPECT_EQ(Status(), "file saved");
  Sh("srec_cat copy.hex -intel -fill 0xFF 0 0x2BB8 -o back.bin -binary");
  EXPECT_TRUE(ReadFile(dir_.path() / "back.bin") == edited);
  EXPECT_EQ(ReadFile(dir_.path() / "copy.hex").substr(0, 1), ":");

  // A content-recognised record file under a name no extension claims.
  std::filesystem::copy_file(dir_.path() / "copy.hex", dir_.path() / "copy.fw");
  OpenFile(dir_.path() / "copy.fw");
  EXPECT_EQ(Status(), "open succeed");
  EXPECT_TRUE(ImageBytes() == edited);
  // .bin is raw, whatever it starts with.
  std::filesystem::copy_file(dir_.path() / "copy.hex", dir_.path() / "raw.bin");
  OpenFile(dir_.path() / "raw.bin");
  EXPECT_TRUE(ImageBytes() == ReadFile(dir_.path() / "copy.hex"));
}

TEST_F(ProductionJourney, ABadRecordFileIsRefusedWithItsLineAndNothingLoads) {
  Open();
  OpenFile(MakeImage("kept.bin", 512));
  // Line 2's checksum is wrong.
  std::string hex = Sh("srec_cat kept.bin -binary -o - -intel");
  const std::size_t second = hex.find('\n') + 1;
  const std::size_t end = hex.find('\n', second);
  char& last = hex[end - 1 - (hex[end - 1] == '\r' ? 1 : 0)];
  last = last == '0' ? '1' : '0';
  Put("bad.hex", hex);
  const std::size_t boxes_before = boxes_.size();
  OpenFile(dir_.path() / "bad.hex");
  ASSERT_EQ(boxes_.size(), boxes_before + 1);
  EXPECT_NE(LastBox()->text.find("bad.hex"), std::string::npos) << LastBox()->text;
  EXPECT_NE(LastBox()->text.find("line 2"), std::string::npos) << LastBox()->text;
  EXPECT_NE(Title().find("kept.bin"), std::string::npos);
  EXPECT_TRUE(ImageBytes() == ReadFile(dir_.path() / "kept.bin"));

  // Records past the chip in the socket (4 MiB) are refused the same way.
  Sh("srec_cat kept.bin -binary -offset 0x400000 -o far.srec -motorola");
  OpenFile(dir_.path() / "far.srec");
  ASSERT_EQ(boxes_.size(), boxes_before + 2);
  EXPECT_NE(LastBox()->text.find("far.srec: its records run from 0x400000"), std::string::npos)
      << LastBox()->text;
  EXPECT_NE(Title().find("kept.bin"), std::string::npos);
}

// Columns of the production log view.
enum Column {
  kTime,
  kProgrammer,
  kChip,
  kId,
  kImage,
  kCrc,
  kOperation,
  kResult,
  kText,
  kMs,
  kLot,
  kSerial
};

TEST_F(ProductionJourney, AutoIsRecordedAndItsChecksumsAreSha256sums) {
  Open();
  // The operator's lot, set in the production log view, stays for the next start.
  Menu(menu_id::kProductionLog);
  ProductionLogWindow* view = window_->Production().Log();
  ASSERT_NE(view, nullptr);
  view->Lot()->setText("L-42");
  QTest::mouseClick(view->SetLotButton(), Qt::LeftButton);
  view->close();
  Settle();
  Reopen();

  MakeImage("part.bin", 5000);
  Sh("srec_cat part.bin -binary -offset 0x300 -o fw.srec -motorola");
  OpenFile(dir_.path() / "fw.srec");
  Sh("srec_cat fw.srec -motorola -fill 0xFF 0 0x1688 -o flat.bin -binary");
  const std::string image = ReadFile(dir_.path() / "flat.bin");
  ASSERT_TRUE(WaitFor([&] { return Tooltip(1033).find("SHA-256") != std::string::npos; }));
  EXPECT_NE(Tooltip(1033).find("SHA-256: " + Sha256Sum(image)), std::string::npos) << Tooltip(1033);
  Press(Qt::Key_F9);
  ASSERT_TRUE(WaitIdle());
  const std::string auto_status = Status();
  EXPECT_EQ(ChipBytes(image.size()), image);
  // Auto's verify summed the chip as it compared it, the whole chip.
  const std::string chip_sum = Sha256Sum(ChipBytes(4 << 20));
  EXPECT_NE(Tooltip(1082).find("last verify (4194304 bytes)"), std::string::npos) << Tooltip(1082);
  EXPECT_NE(Tooltip(1082).find("SHA-256: " + chip_sum), std::string::npos) << Tooltip(1082);

  // A read sums the whole chip as it arrives; its data are then the image, summed too.
  Press(Qt::Key_F7);
  ASSERT_TRUE(WaitIdle());
  EXPECT_NE(Tooltip(1082).find("last read (4194304 bytes)"), std::string::npos) << Tooltip(1082);
  EXPECT_NE(Tooltip(1082).find("SHA-256: " + chip_sum), std::string::npos) << Tooltip(1082);
  ASSERT_TRUE(WaitFor([&] { return Tooltip(1033).find(chip_sum) != std::string::npos; }));

  // The log: one entry, the auto, with the lot and the image's sums.
  const auto rows = LogRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][kOperation], "auto");
  EXPECT_EQ(rows[0][kResult], "passed");
  EXPECT_EQ(rows[0][kText], auto_status);
  EXPECT_EQ(rows[0][kLot], "L-42");
  EXPECT_EQ(rows[0][kImage], "fw.srec");
  EXPECT_EQ(rows[0][kChip], "EN25F32");
  EXPECT_EQ(rows[0][kSerial], "");

  // Filtered by a lot that has no chips, the view is empty; by the day, the chip is there.
  view = window_->Production().Log();
  view->LotFilter()->setCurrentText("other");
  view->Refresh();
  EXPECT_EQ(view->Table()->rowCount(), 0);
  view->LotFilter()->setCurrentText("L-42");
  view->DayFilter()->setText(QString::fromStdString(rows[0][kTime].substr(0, 10)));
  view->Refresh();
  EXPECT_EQ(view->Table()->rowCount(), 1);
  view->DayFilter()->setText("2001-01-01");
  view->Refresh();
  EXPECT_EQ(view->Table()->rowCount(), 0);

  // Exported as CSV, the same filter applies.
  view->DayFilter()->clear();
  WillChoose(dir_.path() / "lot.csv");
  QTest::mouseClick(view->ExportButton(), Qt::LeftButton);
  const std::string csv = ReadFile(dir_.path() / "lot.csv");
  EXPECT_EQ(csv.rfind(std::string(kLogCsvHeader) + "\n", 0), 0u) << csv;
  EXPECT_NE(csv.find(",fw.srec,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",L-42,"), std::string::npos) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
  // The log lives beside the window's other files.
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / kProductionLogName));
}

TEST_F(ProductionJourney, AFailedVerifyListsEveryDifferenceAndARowMovesTheGrid) {
  Open();
  OpenFile(MakeImage("image.bin", 0x3000));
  EXPECT_TRUE(Grayed(menu_id::kDifferenceList));
  std::string chip = ReadFile(dir_.path() / "image.bin");
  for (std::size_t at : {0x10, 0x11, 0x12, 0x800, 0x2FF0}) chip[at] = static_cast<char>(~chip[at]);
  SocketChip()->Load(0, reinterpret_cast<const std::uint8_t*>(chip.data()), chip.size());
  answers_.assign(1, BoxAnswer::kNo);  // go on past the first mismatch
  Press(Qt::Key_F8);
  ASSERT_TRUE(WaitIdle());
  ASSERT_TRUE(WaitFor([&] { return !Grayed(menu_id::kDifferenceList); }));
  Menu(menu_id::kDifferenceList);
  DifferenceListWindow* list = window_->Production().DifferenceList();
  ASSERT_NE(list, nullptr);
  QTableWidget* t = list->Table();
  ASSERT_EQ(t->rowCount(), 3);
  const auto cell = [&](int r, int c) { return t->item(r, c)->text().toStdString(); };
  EXPECT_EQ(cell(0, 0), "00000010");
  EXPECT_EQ(cell(0, 1), "3");
  const std::string file = ReadFile(dir_.path() / "image.bin");
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", file[0x10] & 0xFF, file[0x11] & 0xFF,
                file[0x12] & 0xFF);
  EXPECT_EQ(cell(0, 2), bytes);
  std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", chip[0x10] & 0xFF, chip[0x11] & 0xFF,
                chip[0x12] & 0xFF);
  EXPECT_EQ(cell(0, 3), bytes);
  EXPECT_EQ(cell(1, 0), "00000800");
  EXPECT_EQ(cell(2, 0), "00002FF0");
  EXPECT_EQ(list->Summary()->text().toStdString(), "3 ranges differ (5 bytes)");

  // A row chosen: the grid shows that address with its cell focused.
  const auto focused = [&] {
    const GridCell cell = program_->Hex().FocusCell();
    return (program_->Image().TopRow() + cell.row - 1) * 16 + cell.column - 1;
  };
  t->setCurrentCell(2, 0);
  EXPECT_EQ(focused(), 0x2FF0u);
  t->setCurrentCell(1, 0);
  EXPECT_EQ(focused(), 0x800u);

  // Programmed again by Auto: its verify finds nothing, the list has nothing to show.
  list->close();
  Press(Qt::Key_F9);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(WaitFor([&] { return Grayed(menu_id::kDifferenceList); }));
}

// Bulk mode with serial numbers on four chips, the third of which cannot take the
// image (bits the write cannot set, with erase off): every chip holds the image with
// its own number, the failed chip's number is spoiled and never given again, and the
// log has a row per chip.
TEST_F(ProductionJourney, BulkStampingOnFourChipsWithOneFailure) {
  Put("kest2.dll", std::string("\x01\x01\x00\x01\x01", 5));  // bulk " Erase " off
  Open(sim::Timing::kInstant, true, "W25Q10EW");
  const auto image_path = MakeImage("image.bin", 1024);
  const std::string image = ReadFile(image_path);
  OpenFile(image_path);

  Menu(menu_id::kSerialNumbers);
  SerialNumbersWindow* serial = window_->Production().SerialNumbers();
  ASSERT_NE(serial, nullptr);
  serial->Stamping()->setChecked(true);
  serial->Address()->setText("1000");
  serial->Format()->setCurrentIndex(2);  // ASCII decimal
  serial->Width()->setText("6");
  serial->Step()->setText("7");
  serial->Start()->setText("99990");
  QTest::mouseClick(serial->OkButton(), Qt::LeftButton);
  Settle();
  ASSERT_EQ(window_->Production().SerialNumbers(), nullptr) << "the dialog stayed open";

  std::vector<std::unique_ptr<sim::VirtualChip>> done;
  const auto next_chip = [&](bool spoilt) {
    done.push_back(sim_->bus->Programmer().RemoveChip());
    QTest::qWait(300);
    std::string error;
    auto chip = sim::MakeSimulatedChip(catalogue_, "W25Q10EW", &error);
    ASSERT_TRUE(chip) << error;
    if (spoilt) {
      const std::uint8_t zeros[8] = {};
      chip->Load(0x100, zeros, sizeof zeros);
    }
    sim_->bus->Programmer().SwapChip(std::move(chip));
  };
  const auto waiting = [&] { return WaitFor([&] { return Status() == kBulkWaitingForChip; }); };
  Press(Qt::Key_F2);
  ASSERT_TRUE(waiting());
  next_chip(false);
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kBulkMode)->text() == "Stop bulk 2 (F2)"; }));
  ASSERT_TRUE(waiting());
  next_chip(true);
  ASSERT_TRUE(WaitFor([&] { return SocketChip()->ReadByte(0) == PatternByte(0); }));
  ASSERT_TRUE(waiting());
  next_chip(false);
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kBulkMode)->text() == "Stop bulk 3 (F2)"; }));
  ASSERT_TRUE(waiting());
  Press(Qt::Key_F2);
  ASSERT_TRUE(WaitIdle());
  done.push_back(sim_->bus->Programmer().RemoveChip());

  ASSERT_EQ(done.size(), 4u);
  for (std::size_t n = 0; n < done.size(); ++n) {
    const std::string value = std::to_string(99990 + 7 * n);
    std::string expected = image + std::string(0x1000 - image.size(), '\xFF') +
                           std::string(6 - value.size(), '0') + value;
    if (n == 2) expected.replace(0x100, 8, std::string(8, '\0'));
    std::string chip(expected.size() + 16, '\0');
    for (std::size_t i = 0; i < chip.size(); ++i)
      chip[i] = static_cast<char>(done[n]->ReadByte(static_cast<std::uint32_t>(i)));
    EXPECT_TRUE(chip.substr(0, expected.size()) == expected) << "chip " << n + 1;
    EXPECT_EQ(chip.substr(expected.size()), std::string(16, '\xFF')) << "chip " << n + 1;
  }
  // Never into the loaded image or the file.
  EXPECT_TRUE(ImageBytes() == image);
  EXPECT_TRUE(ReadFile(image_path) == image);

  const auto rows = LogRows();
  ASSERT_EQ(rows.size(), 4u);
  for (std::size_t n = 0; n < rows.size(); ++n) {
    EXPECT_EQ(rows[n][kSerial], std::to_string(99990 + 7 * n)) << n;
    EXPECT_EQ(rows[n][kResult], n == 2 ? "failed" : "passed") << n;
    EXPECT_EQ(rows[n][kOperation], "auto");
    EXPECT_EQ(rows[n][kChip], "W25Q10EW");
  }
  EXPECT_NE(rows[2][kText].find("error"), std::string::npos) << rows[2][kText];

  // A production log nobody can write (a folder in its place) stops the next bulk run
  // before any chip is programmed.
  Reopen();
  std::filesystem::rename(dir_.path() / kProductionLogName, dir_.path() / "kept.db");
  std::filesystem::create_directory(dir_.path() / kProductionLogName);
  OpenFile(image_path);
  Press(Qt::Key_F2);
  ASSERT_TRUE(WaitFor([&] { return program_->State().bulk_mode.load() == 0; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(StartsWith(Status(), "not programmed: the production log cannot be written"))
      << Status();
  EXPECT_TRUE(host_->Status().red);
  EXPECT_EQ(SocketChip()->FirstNonBlank(128 * 1024), std::nullopt);
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kBulkMode)->text() == "Bulk Mode(F2)"; }));
}

}  // namespace
}  // namespace tarvix::gui::testing
