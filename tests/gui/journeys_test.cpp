// Journeys: one task each, done the way a user does it in the real window (keys,
// clicks on buttons, menu items and grid cells; file dialogs and boxes answered
// through the window's own seam), on the simulated programmer. Each ends by looking
// at what the user has: the files on disk, the chip, and the window.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "app/bulk_mode.h"
#include "buffer/load_save.h"
#include "buffer/path_box.h"
#include "gui/caption_progress_bar.h"
#include "gui/file_division_window.h"
#include "gui/files_combine_window.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/window_fixture.h"
#include "operations/erase.h"
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
  ASSERT_TRUE(WaitFor([&] { return Caption(c::kErase) == "Stop erase(F4)"; }));
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

}  // namespace
}  // namespace tarvix::gui::testing
