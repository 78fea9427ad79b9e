// SPDX-License-Identifier: GPL-3.0-or-later
// Journeys: one task each, done the way a user does it in the real window (keys,
// clicks on buttons, menu items and grid cells; file dialogs and boxes answered
// through the window's own seam), on the simulated programmer. Each ends by looking
// at what the user has: the files on disk, the chip, and the window.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>

#include "app/bulk_mode.h"
#include "buffer/find_datas.h"
#include "buffer/load_save.h"
#include "buffer/path_box.h"
#include "firmware/tvx_image.h"
#include "gui/caption_progress_bar.h"
#include "gui/chip_fill_window.h"
#include "gui/file_division_window.h"
#include "gui/files_combine_window.h"
#include "gui/find_datas_window.h"
#include "gui/firmware_upgrade_window.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/window_fixture.h"
#include "gui/write_from_address_window.h"
#include "operations/auto_sequence.h"
#include "operations/erase.h"
#include "operations/read.h"
#include "operations/verify.h"
#include "operations/write.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

using Journey = WindowFixture;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(PatternByte(i));
  return bytes;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.rfind(head, 0) == 0;
}

TEST_F(Journey, BackUpAChip) {
  Open();
  const std::string chip = Pattern(4 << 20);
  SocketChip()->Load(0, reinterpret_cast<const std::uint8_t*>(chip.data()), chip.size());
  Press(Qt::Key_F7);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(StartsWith(Status(), "Read succeed.")) << Status();
  EXPECT_EQ(PathBox(), "unsaved chip datas!");

  const auto backup = dir_.path() / "backup.bin";
  WillChoose(backup);
  Choose("Save &As");
  EXPECT_TRUE(ReadFile(backup) == chip);
  EXPECT_EQ(ChangeLogRecords(), 1u);
  EXPECT_NE(ChangeLogText().find("        [EN25F32 chip data] saved as [backup.bin]\r\n"),
            std::string::npos);
  EXPECT_EQ(Status(), "file saved");
  EXPECT_EQ(PathBox(), ShortenPathForBox(backup.string()));
  EXPECT_NE(Title().find("backup.bin"), std::string::npos);
  EXPECT_TRUE(Grayed(c::kSave));
  // The save dialog offered the image types.
  EXPECT_TRUE(file_dialogs_.back().contains("*.bin"));
}

TEST_F(Journey, OpenEditSaveAndReopen) {
  Open();
  const auto image = MakeImage("image.bin", 4096);
  OpenFile(image);
  EXPECT_EQ(Status(), "open succeed");
  TypeIntoCell(1, 2, "5a");
  EXPECT_EQ(program_->Hex().CellState(1, 2), kCellChanged);
  Choose("&Save");
  EXPECT_EQ(Status(), "file saved");
  EXPECT_TRUE(Grayed(c::kSave));
  std::string expected = Pattern(4096);
  expected[1] = '\x5A';
  EXPECT_EQ(ReadFile(image), expected);
  EXPECT_NE(ChangeLogText().find("        [00000001]: 0A --> 5A\r\n"), std::string::npos);

  // Saved: closing asks nothing, and the file opens again with the byte.
  const std::size_t boxes_before = boxes_.size();
  Reopen();
  EXPECT_EQ(boxes_.size(), boxes_before);
  OpenFile(image);
  EXPECT_EQ(program_->Hex().CellText(1, 2), "5A");
  EXPECT_EQ(program_->Hex().CellState(1, 2), kCellSame);
}

TEST_F(Journey, UnsavedEditsAreAskedAboutBeforeTheyGo) {
  Open();
  const auto first = MakeImage("first.bin", 256), second = MakeImage("second.bin", 256);
  OpenFile(first);
  TypeIntoCell(1, 1, "00");

  // Close, Cancel: the window and the edit stay.
  answers_.push_back(BoxAnswer::kCancel);
  window_->close();
  EXPECT_TRUE(BoxShown(kUnsavedChangesQuestion));
  EXPECT_FALSE(window_->Closed());
  EXPECT_EQ(program_->Hex().CellText(1, 1), "00");

  // Another file, Discard: it opens and the first file stays as it was.
  answers_.push_back(BoxAnswer::kNo);
  OpenFile(second);
  EXPECT_NE(Title().find("second.bin"), std::string::npos);
  EXPECT_EQ(ReadFile(first), Pattern(256));

  // A read over an edit, Save: the file gets the edit, then the chip's data come.
  TypeIntoCell(1, 1, "11");
  answers_.push_back(BoxAnswer::kYes);
  Press(Qt::Key_F7);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(ReadFile(second)[0], '\x11');
  EXPECT_EQ(PathBox(), "unsaved chip datas!");

  // Nothing unsaved: nothing is asked.
  const std::size_t boxes_before = boxes_.size();
  window_->close();
  EXPECT_TRUE(window_->Closed());
  EXPECT_EQ(boxes_.size(), boxes_before);
}

TEST_F(Journey, AutoProgramsTheImage) {
  Open();
  const auto image = MakeImage("image.bin", 64 * 1024);
  OpenFile(image);
  Press(Qt::Key_F9);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(StartsWith(Status(), "Auto Erase Write Verify finished,")) << Status();
  EXPECT_FALSE(host_->Status().red);
  EXPECT_TRUE(BoxShown(kEraseConfirmText));
  EXPECT_EQ(ChipBytes(64 * 1024), ReadFile(image));
  EXPECT_EQ(SocketChip()->ReadByte(64 * 1024), 0xFF);
}

// Every chip operation looks at the socket first (the chip test of its pre-check).
TEST_F(Journey, EveryChipOperationChecksTheSocketFirst) {
  Open();
  OpenFile(MakeImage("image.bin", 4096));
  Choose("&Remove chip");
  for (Qt::Key key : {Qt::Key_F9, Qt::Key_F4, Qt::Key_F6, Qt::Key_F8, Qt::Key_F7, Qt::Key_F3}) {
    boxes_.clear();
    Press(key);
    ASSERT_TRUE(WaitIdle());
    bool told = false;
    for (const ShownBox& box : boxes_)
      told |= StartsWith(box.text, "device connected,not find chip!");
    EXPECT_TRUE(told) << QTest::toString(QKeySequence(key));
    EXPECT_TRUE(host_->Status().red);
  }
  EXPECT_NE(Title().find("image.bin"), std::string::npos);
}

TEST_F(Journey, AWriteStoppedHalfWay) {
  Open(sim::Timing::kRealistic);
  const auto image = MakeImage("image.bin", 2 << 20);
  OpenFile(image);
  // The write asks first; Cancel leaves the chip alone.
  answers_.push_back(BoxAnswer::kCancel);
  Press(Qt::Key_F6);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(BoxShown(kWriteConfirmText));
  EXPECT_EQ(SocketChip()->FirstNonBlank(4 << 20), std::nullopt);

  Press(Qt::Key_F6);
  ASSERT_TRUE(WaitFor([&] { return window_->ProgressBar()->Position() >= 30; }));
  Press(Qt::Key_F6);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(host_->Status().red);
  ASSERT_TRUE(StartsWith(Status(), "write is broken!")) << Status();
  const std::size_t written = std::stoul(Status().substr(std::string("write is broken!").size()));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, std::size_t{2} << 20);
  EXPECT_EQ(ChipBytes(written), ReadFile(image).substr(0, written));
  EXPECT_EQ(SocketChip()->ReadByte((2 << 20) - 1), 0xFF);
  EXPECT_EQ(window_->Button(c::kWrite)->text().toStdString(), "Write(F6)");
  EXPECT_FALSE(window_->ProgressBar()->isVisible());
}

// Bulk mode on a W25Q10EW run: three chips swapped in from the Simulator menu, the
// second of them another model, which is refused and left as it was.
TEST_F(Journey, BulkModeWithThreeChipSwaps) {
  Open(sim::Timing::kInstant, true, "W25Q10EW");
  const auto image = MakeImage("image.bin", 1024);
  OpenFile(image);
  QString model;
  sim_menu_->SetModelChooser([&](const QStringList&, const QString&) { return model; });
  const auto waiting = [&] { return WaitFor([&] { return Status() == kBulkWaitingForChip; }); };
  Press(Qt::Key_F2);
  ASSERT_TRUE(waiting());
  EXPECT_EQ(program_->State().bulk_success_count.load(), 1);
  EXPECT_FALSE(BoxShown(kEraseConfirmText));  // bulk mode asks nothing
  // A chip left in the socket is not programmed again.
  QTest::qWait(200);
  EXPECT_EQ(program_->State().bulk_success_count.load(), 1);

  model = "W25Q10EW";
  Choose("S&wap chip...");
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kBulkMode)->text() == "Stop bulk 2 (F2)"; }));
  ASSERT_TRUE(waiting());
  EXPECT_EQ(ChipBytes(1024), ReadFile(image));

  model = "W25Q20EW";
  Choose("S&wap chip...");
  ASSERT_TRUE(WaitFor([&] { return StartsWith(Status(), "not programmed:"); }));
  EXPECT_EQ(Status(), ForeignChipText("EF6012", "W25Q10EW"));
  EXPECT_TRUE(host_->Status().red);
  QTest::qWait(200);
  EXPECT_EQ(SocketChip()->FirstNonBlank(256 * 1024), std::nullopt);
  EXPECT_EQ(program_->State().bulk_success_count.load(), 2);

  model = "W25Q10EW";
  Choose("S&wap chip...");
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kBulkMode)->text() == "Stop bulk 3 (F2)"; }));
  ASSERT_TRUE(waiting());
  EXPECT_EQ(ChipBytes(1024), ReadFile(image));

  Press(Qt::Key_F2);
  EXPECT_EQ(window_->Button(c::kBulkMode)->text().toStdString(), "Bulk Mode(F2)");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Status(), BulkStoppedText(3));
}

TEST_F(Journey, VerifyWithAMismatchAndEachAnswerOfItsBox) {
  Open();
  const auto image = MakeImage("image.bin", 4096);
  OpenFile(image);
  std::string chip = ReadFile(image);
  for (std::size_t at : {0x10, 0x20, 0x30}) chip[at] = static_cast<char>(~chip[at]);
  SocketChip()->Load(0, reinterpret_cast<const std::uint8_t*>(chip.data()), chip.size());
  struct Case {
    BoxAnswer answer;
    std::size_t boxes;
    const char* status;
  };
  for (const Case& answer_case : {Case{BoxAnswer::kYes, 3, "verify finished.3 error(s)! 0:0"},
                                  Case{BoxAnswer::kNo, 1, "verify finished.3 error(s)! 0:0"},
                                  Case{BoxAnswer::kCancel, 1, "verify finished.1 error(s)! 0:0"}}) {
    boxes_.clear();
    answers_.assign(3, answer_case.answer);
    Press(Qt::Key_F8);
    ASSERT_TRUE(WaitIdle());
    std::size_t mismatches = 0;
    for (const ShownBox& box : boxes_) mismatches += box.title == kVerifyMismatchTitle;
    EXPECT_EQ(mismatches, answer_case.boxes);
    EXPECT_EQ(Status(), answer_case.status);
    EXPECT_TRUE(host_->Status().red);
    answers_.clear();
  }
  EXPECT_TRUE(StartsWith(boxes_.front().text, "10H error! "));
}

TEST_F(Journey, CombineThenDivide) {
  Open();
  const auto a = MakeImage("a.bin", 3000), b = MakeImage("b.bin", 1000);
  const auto out = dir_.path() / "out";
  std::filesystem::create_directories(out);
  Choose("Files Combine");
  FilesCombineWindow* combine = D().FilesCombine();
  ASSERT_NE(combine, nullptr);
  WillChoose(out);
  QTest::mouseClick(combine->SavePathButton(), Qt::LeftButton);
  for (const auto& part : {a, b}) {
    WillChoose(part);
    QTest::mouseClick(combine->AddFilesButton(), Qt::LeftButton);
  }
  combine->FileNameBox()->selectAll();
  QTest::keyClicks(combine->FileNameBox(), "whole");
  QTest::mouseClick(combine->OkButton(), Qt::LeftButton);
  EXPECT_TRUE(BoxShown("files combine succeed  "));
  EXPECT_EQ(ReadFile(out / "whole.bin"), ReadFile(a) + ReadFile(b));
  combine->close();

  Choose("File Division");
  FileDivisionWindow* division = D().FileDivision();
  ASSERT_NE(division, nullptr);
  WillChoose(out / "whole.bin");
  QTest::mouseClick(division->BrowseButton(), Qt::LeftButton);
  QTest::keyClicks(division->NodesBox(), "3000");
  QTest::mouseClick(division->OkButton(), Qt::LeftButton);
  EXPECT_TRUE(BoxShown("file divide succeed!  "));
  EXPECT_EQ(ReadFile(out / "whole_0-2999.bin"), ReadFile(a));
  EXPECT_EQ(ReadFile(out / "whole_3000-3999.bin"), ReadFile(b));
}

TEST_F(Journey, TheGridIsReadOnlyWhileAnOperationRuns) {
  Open(sim::Timing::kRealistic);
  const auto image = MakeImage("image.bin", 4096);
  OpenFile(image);
  TypeIntoCell(1, 1, "");
  ASSERT_TRUE(window_->CellEditBox()->isVisible());
  Press(Qt::Key_F4);
  // The button as the window shows it: the lock comes with its caption.
  ASSERT_TRUE(WaitFor([&] { return window_->Button(c::kErase)->text() == "Stop erase(F4)"; }));
  EXPECT_FALSE(window_->CellEditBox()->isVisible());
  TypeIntoCell(1, 3, "12");
  EXPECT_FALSE(window_->CellEditBox()->isVisible());
  EXPECT_EQ(program_->Hex().CellText(1, 3), "11");
  // It looks so: its cells are grey, not white.
  HexGrid* grid = window_->Grid();
  const QImage locked = grid->grab().toImage();
  EXPECT_NE(locked.pixelColor(grid->CellRect(5, 5).topLeft() + QPoint(2, 2)), QColor(Qt::white));

  Press(Qt::Key_F4);
  ASSERT_TRUE(WaitIdle());
  TypeIntoCell(1, 3, "12");
  EXPECT_EQ(program_->Hex().CellText(1, 3), "12");
  const QImage open = grid->grab().toImage();
  EXPECT_EQ(open.pixelColor(grid->CellRect(5, 5).topLeft() + QPoint(2, 2)), QColor(Qt::white));
}

// F7 again part-way: the read ends red and says how much came; what came is the chip's
// start, shown as partial chip data, and Save As keeps exactly that.
TEST_F(Journey, AReadStoppedPartWay) {
  Open(sim::Timing::kRealistic);
  constexpr std::size_t kChip = 4 << 20;
  const std::string chip = Pattern(kChip);
  SocketChip()->Load(0, reinterpret_cast<const std::uint8_t*>(chip.data()), chip.size());
  Press(Qt::Key_F7);
  ASSERT_TRUE(WaitFor([&] { return window_->ProgressBar()->Position() >= 38; }));
  EXPECT_EQ(window_->Button(c::kRead)->text().toStdString(), "Stop read(F7)");
  Press(Qt::Key_F7);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(host_->Status().red);
  ASSERT_TRUE(StartsWith(Status(), "Read stopped,")) << Status();
  const std::size_t got = std::stoul(Status().substr(std::string("Read stopped,").size()));
  EXPECT_TRUE(
      StartsWith(Status(), "Read stopped," + std::to_string(got) + " of 4194304 bytes read,"))
      << Status();
  EXPECT_GE(got, kChip * 38 / 100);
  EXPECT_LT(got, kChip);
  EXPECT_EQ(PathBox(), PartialChipDataText(got, kChip));
  EXPECT_FALSE(window_->LogPane()->toPlainText().toLower().contains("read succeed"));

  const auto backup = dir_.path() / "part.bin";
  WillChoose(backup);
  Choose("Save &As");
  EXPECT_EQ(ReadFile(backup), chip.substr(0, got));
}

// A stop in any step of Auto ends the whole run with one red line: no write after a
// stopped erase, no verify after a stopped write.
TEST_F(Journey, AStopDuringAutoEndsTheWholeRun) {
  Open(sim::Timing::kRealistic);
  const auto image = MakeImage("image.bin", 2 << 20);
  OpenFile(image);
  const auto log_since = [&](qsizetype from) {
    return window_->LogPane()->toPlainText().mid(from).toStdString();
  };
  struct Stop {
    Qt::Key key;
    int button;
    const char* step;
  };
  // The write first: a chip told to stop its erase stays busy a while.
  for (const Stop& stop :
       {Stop{Qt::Key_F6, c::kWrite, "write"}, Stop{Qt::Key_F4, c::kErase, "erase"}}) {
    const qsizetype log_from = window_->LogPane()->toPlainText().size();
    boxes_.clear();
    Press(Qt::Key_F9);
    ASSERT_TRUE(WaitFor([&] {
      return StartsWith(window_->Button(stop.button)->text().toStdString(), "Stop") &&
             (stop.button == c::kErase || window_->ProgressBar()->Position() >= 20);
    })) << stop.step;
    Press(stop.key);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(host_->Status().red);
    EXPECT_TRUE(StartsWith(Status(), std::string(kAutoStoppedIn) + stop.step + " step,"))
        << Status();
    const std::string log = log_since(log_from);
    EXPECT_EQ(log.find("Auto stopped"), log.rfind("Auto stopped")) << log;
    EXPECT_EQ(log.find("verif"), std::string::npos) << log;
    for (const ShownBox& box : boxes_) EXPECT_NE(box.title, kVerifyMismatchTitle);
    if (stop.button == c::kErase) {
      EXPECT_EQ(log.find(kWriteStart), std::string::npos) << log;
    } else {
      // The stopped write left the chip's end as it was.
      EXPECT_EQ(SocketChip()->ReadByte((2 << 20) - 1), 0xFF);
    }
    EXPECT_EQ(window_->Button(c::kAuto)->text().toStdString(), "Auto(F9)");
  }
}

// The image of a ".bin" from an address, and of a ".cap" past its header, written to
// the chip: the chip holds the file's tail.
TEST_F(Journey, WriteFromAFileAddressAndACapFile) {
  Open();
  const auto bin = MakeImage("data.bin", 8192);
  Choose("Write from specify file addr...");
  WriteFromAddressWindow* dialog = D().WriteFromAddress();
  ASSERT_NE(dialog, nullptr);
  dialog->AddressBox()->selectAll();
  QTest::keyClicks(dialog->AddressBox(), "4096");
  WillChoose(bin);
  QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
  QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  Settle();
  Press(Qt::Key_F6);
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(host_->Status().red) << Status();
  EXPECT_EQ(ChipBytes(4096), ReadFile(bin).substr(4096));
  EXPECT_EQ(SocketChip()->ReadByte(4096), 0xFF);

  // Ctrl+O on a ".cap" brings the dialog with its header's length locked in; OK.
  const auto cap = MakeImage("bios.cap", 2048 + 1000);
  bool answered = false;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    WriteFromAddressWindow* cap_dialog = D().WriteFromAddress();
    if (cap_dialog == nullptr || answered) return;
    answered = true;
    EXPECT_EQ(cap_dialog->AddressBox()->text().toStdString(), "2048");
    QTest::mouseClick(cap_dialog->OkButton(), Qt::LeftButton);
  });
  answer.start();
  OpenFile(cap);
  answer.stop();
  ASSERT_TRUE(answered);
  Settle();
  Press(Qt::Key_F4);
  ASSERT_TRUE(WaitIdle());
  Press(Qt::Key_F6);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(ChipBytes(1000), ReadFile(cap).substr(2048));
  EXPECT_EQ(SocketChip()->ReadByte(1000), 0xFF);
}

// Picking the type (or maker) already shown leaves the maker and chip the user chose.
TEST_F(Journey, PickingTheShownTypeAgainKeepsTheChip) {
  Open();
  auto* type = qobject_cast<QComboBox*>(window_->Control(1014));
  auto* firm = qobject_cast<QComboBox*>(window_->Control(1015));
  auto* chip = qobject_cast<QComboBox*>(window_->Control(1016));
  // Picks the entry `index` of a list from its popup, as a click would.
  const auto pick = [](QComboBox* list, int index) {
    list->showPopup();
    QAbstractItemView* view = list->view();
    view->setCurrentIndex(view->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    Settle();
  };
  pick(chip, chip->currentIndex() == 0 ? 1 : 0);
  const std::string model = chip->currentText().toStdString();
  const std::string maker = firm->currentText().toStdString();
  ASSERT_NE(model, "EN25F32");
  EXPECT_EQ(program_->Selection().CurrentModel(), model);
  pick(type, type->currentIndex());
  pick(firm, firm->currentIndex());
  EXPECT_EQ(firm->currentText().toStdString(), maker);
  EXPECT_EQ(chip->currentText().toStdString(), model);
  EXPECT_EQ(program_->Selection().CurrentModel(), model);
  // Another type does refill them.
  pick(type, type->currentIndex() == 0 ? 1 : 0);
  EXPECT_NE(program_->Selection().CurrentModel(), model);
}

// Closing while bulk mode waits, a chip fill writes, an upgrade runs or a search waits
// at a match: the window closes within its bound and leaves nothing open.
TEST_F(Journey, CloseDuringTheOtherOperations) {
  struct Case {
    const char* what;
    std::function<void()> start;
  };
  const auto tvx = dir_.path() / "firmware.tvx";
  {
    const auto image = MakeTvx(std::vector<std::uint8_t>(60000, 0x5A));
    ASSERT_TRUE(image.has_value());
    std::ofstream(tvx, std::ios::binary)
        .write(reinterpret_cast<const char*>(image->data()),
               static_cast<std::streamsize>(image->size()));
  }
  const std::vector<Case> cases = {
      {"bulk mode waiting",
       [&] {
         OpenFile(MakeImage("image.bin", 1024));
         Press(Qt::Key_F2);
         ASSERT_TRUE(WaitFor([&] { return Status() == kBulkWaitingForChip; }));
       }},
      {"a chip fill",
       [&] {
         Choose("&Chip Fill");
         ChipFillWindow* fill = D().ChipFill();
         fill->LengthBox()->selectAll();
         QTest::keyClicks(fill->LengthBox(), "400000");
         QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
         ASSERT_TRUE(WaitFor([&] { return !fill->CancelButton()->isEnabled(); }));
       }},
      {"a firmware upgrade",
       [&] {
         Choose("Firmware &Upgrade");
         FirmwareUpgradeWindow* upgrade = D().Upgrade();
         WillChoose(tvx);
         QTest::mouseClick(upgrade->BrowseButton(), Qt::LeftButton);
         QTest::mouseClick(upgrade->UpgradeButton(), Qt::LeftButton);
         ASSERT_TRUE(WaitFor([&] { return upgrade->Bar()->Position() > 0; }));
       }},
      {"a search",
       [&] {
         OpenFile(MakeImage("image.bin", 1024));
         Choose("Find &Datas");
         D().FindDatas()->AimBox()->setText("0A11");
         QTest::mouseClick(D().FindDatas()->OkButton(), Qt::LeftButton);
         ASSERT_TRUE(
             WaitFor([&] { return program_->State().command_code.load() == kFindWaiting; }));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(sim::Timing::kRealistic);
    c.start();
    if (::testing::Test::HasFatalFailure()) return;
    QElapsedTimer took;
    took.start();
    window_->close();
    EXPECT_LT(took.elapsed(), kVerifyReadTimeoutMs + 1000);
    ASSERT_TRUE(window_->Closed());
    EXPECT_TRUE(program_->WorkerEnded());
    EXPECT_FALSE(program_->Link().IsOpen());
    Destroy();
  }
}

}  // namespace
}  // namespace tarvix::gui::testing
