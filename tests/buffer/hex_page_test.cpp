// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/hex_page.h"

#include "buffer/buffer_fixture.h"
#include "buffer/buffer_tools.h"

namespace tarvix::testing_buffer {
namespace {

class HexPageTest : public BufferTest {
 protected:
  // Grid cell of a 1-based byte position on the current page.
  GridCell CellOf(std::uint64_t n) const {
    const std::uint64_t row = (n - 1) / 16 - buffer_->TopRow();
    return {static_cast<int>(row) + 1, static_cast<int>((n - 1) % 16) + 1};
  }
  std::uint16_t StateAt(std::uint64_t n) const {
    GridCell c = CellOf(n);
    return page_->CellState(c.row, c.column);
  }
  void EditMode() {
    page_->ToggleModeFromCheckBox();
    ASSERT_TRUE(page_->EditMode());
  }
  // Types one character over the selection, as the edit box would.
  void Type(char c) {
    auto box = page_->Box();
    std::string text = box.text;
    text.replace(static_cast<std::size_t>(box.selection_start),
                 static_cast<std::size_t>(box.selection_end - box.selection_start), 1, c);
    page_->TextChanged(text, box.selection_start + 1);
  }
  std::uint8_t WorkingByte(std::uint64_t offset) {
    std::uint8_t b = 0;
    EXPECT_EQ(buffer_->ReadWorking(offset, {&b, 1}), 1);
    return b;
  }
};

TEST_F(HexPageTest, NothingLoadedShowsGreyBlankBytes) {
  EXPECT_EQ(page_->CellText(0, 0), "  ADDR");
  EXPECT_EQ(page_->CellText(0, 1), "0");
  EXPECT_EQ(page_->CellText(0, 16), "F");
  EXPECT_EQ(page_->CellText(0, 17), "     ASCII");
  const auto& applied = page_->Refresh();
  EXPECT_EQ(applied.size(), 320u);  // every cell starts from "no state"
  for (int r = 1; r <= 20; ++r) {
    EXPECT_EQ(page_->CellText(r, 0), FormatSum((r - 1) * 16).substr(2));
    EXPECT_EQ(page_->CellText(r, 17), "................");
    for (int c = 1; c <= 16; ++c) {
      EXPECT_EQ(page_->CellText(r, c), "FF");
      EXPECT_EQ(page_->CellState(r, c), kCellOutside);
    }
  }
  EXPECT_TRUE(page_->Refresh().empty());  // nothing changed, nothing applied again
  EXPECT_FALSE(page_->ScrollBarState().Enabled());
  EXPECT_EQ(CellTextColour(kCellPastChip), (Rgb{100, 149, 237}));
  EXPECT_EQ(CellTextColour(kCellOutside), (Rgb{204, 204, 204}));
}

TEST_F(HexPageTest, HundredByteImageAndAnEditThatExtendsIt) {
  Open(MakeFile("a.bin", Counting(100, 0x30)));
  for (std::uint64_t n = 1; n <= 100; ++n) ASSERT_EQ(StateAt(n), kCellSame) << n;
  for (std::uint64_t n = 101; n <= 320; ++n) {
    ASSERT_EQ(StateAt(n), kCellOutside) << n;
    GridCell c = CellOf(n);
    ASSERT_EQ(page_->CellText(c.row, c.column), "FF");
  }
  EXPECT_EQ(page_->CellText(1, 17), "0123456789:;<=>?");
  EXPECT_TRUE(host_.Commands().IsMenuGrayed(kCommandSave));

  EditMode();
  page_->Click(CellOf(200), false);
  Type('A');
  EXPECT_EQ(buffer_->Size(), 200u);
  for (std::uint64_t off = 100; off <= 198; ++off) ASSERT_EQ(WorkingByte(off), 0xFF) << off;
  EXPECT_EQ(WorkingByte(199), 0xAF);
  EXPECT_EQ(buffer_->FileSum(), Sum(ReadFile(state_.paths.working_copy)));
  for (std::uint64_t n = 101; n <= 200; ++n) ASSERT_EQ(StateAt(n), kCellChanged) << n;
  for (std::uint64_t n = 201; n <= 320; ++n) ASSERT_EQ(StateAt(n), kCellOutside) << n;
  EXPECT_FALSE(host_.Commands().IsMenuGrayed(kCommandSave));
  EXPECT_EQ(buffer_->SizeLabel(), "0.20KB");
}

TEST_F(HexPageTest, BytesPastTheChipShowCornflowerBlue) {
  Open(MakeFile("a.bin", Counting(512)));
  for (std::uint64_t n = 1; n <= 256; ++n) ASSERT_EQ(StateAt(n), kCellSame) << n;
  for (std::uint64_t n = 257; n <= 320; ++n) ASSERT_EQ(StateAt(n), kCellPastChip) << n;
  buffer_->SetTopRow(12);
  page_->Refresh();
  for (std::uint64_t n = 193; n <= 256; ++n) ASSERT_EQ(StateAt(n), kCellSame) << n;
  for (std::uint64_t n = 257; n <= 512; ++n) ASSERT_EQ(StateAt(n), kCellPastChip) << n;
}

TEST_F(HexPageTest, StatesAreAppliedOnlyWhenTheyChange) {
  Open(MakeFile("a.bin", Counting(64)));
  EXPECT_TRUE(page_->Refresh().empty());
  ASSERT_EQ(buffer_->WriteByte(5, 0xEE), ImageBuffer::Status::kOk);
  auto applied = page_->Refresh();
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(applied[0].row, 1);
  EXPECT_EQ(applied[0].column, 6);
  EXPECT_EQ(applied[0].from, kCellSame);
  EXPECT_EQ(applied[0].to, kCellChanged);
  // A search match is state 3 until the next refresh takes the cell back.
  page_->MarkMatch({2, 3});
  EXPECT_EQ(page_->CellState(2, 3), kCellMatch);
  applied = page_->Refresh();
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(applied[0].from, kCellMatch);
  EXPECT_EQ(applied[0].to, kCellSame);
  // The source changing under the view shows as changed bytes.
  auto src = Counting(64);
  src[0] = 0x77;
  WriteFile(base_ / "a.bin", src);
  applied = page_->Refresh();
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(page_->CellState(1, 1), kCellChanged);
}

TEST_F(HexPageTest, AsciiColumnShowsOnlyPrintableNonBlankBytes) {
  Open(MakeFile("a.bin", {0x20, 0x21, 0x41, 0x7E, 0x7F, 0x80, 0xFF, 0x00, 0x7A}));
  EXPECT_EQ(page_->CellText(1, 17), ".!A~....z.......");
}

TEST_F(HexPageTest, TypingAThenFiveWritesAfThenA5AndMovesOn) {
  Open(MakeFile("a.bin", std::vector<std::uint8_t>(64, 0xFF)));
  EditMode();
  page_->Click({1, 3}, false);
  EXPECT_TRUE(page_->EditBoxOpen());
  EXPECT_EQ(page_->Box().text, "FF");
  EXPECT_EQ(page_->Box().selection_start, 0);
  EXPECT_EQ(page_->Box().selection_end, 1);
  EXPECT_EQ(host_.LastStatus().text, "input...");

  Type('A');
  EXPECT_EQ(WorkingByte(2), 0xAF);
  EXPECT_EQ(page_->Box().cell, (GridCell{1, 3}));
  EXPECT_EQ(page_->Box().text, "AF");
  EXPECT_EQ(page_->Box().selection_start, 1);

  Type('5');
  EXPECT_EQ(WorkingByte(2), 0xA5);
  EXPECT_EQ(page_->FocusCell(), (GridCell{1, 4}));
  EXPECT_EQ(page_->Box().cell, (GridCell{1, 4}));
  EXPECT_EQ(page_->Box().text, "FF");
  EXPECT_EQ(page_->Box().selection_start, 0);
  EXPECT_EQ(page_->Box().selection_end, 1);
  EXPECT_EQ(buffer_->FileSum(), 63u * 255 + 0xA5);
  auto statuses = host_.StatusTexts();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "data changed"), statuses.end());

  // A click on the right half selects the second digit; lower case is taken as upper.
  page_->Click({2, 1}, true);
  EXPECT_EQ(page_->Box().selection_start, 1);
  page_->TextChanged("fc", 2);
  EXPECT_EQ(WorkingByte(16), 0xFC);
}

TEST_F(HexPageTest, LastCellOfThePageScrollsDownOneRow) {
  Open(MakeFile("a.bin", std::vector<std::uint8_t>(640, 0x00)));
  EditMode();
  page_->Click({20, 15}, false);
  Type('1');
  Type('2');
  EXPECT_EQ(page_->Box().cell, (GridCell{20, 16}));
  Type('3');
  Type('4');
  EXPECT_EQ(WorkingByte(318), 0x12);
  EXPECT_EQ(WorkingByte(319), 0x34);
  EXPECT_EQ(buffer_->TopRow(), 1u);
  EXPECT_EQ(page_->FocusCell(), (GridCell{20, 1}));
  EXPECT_EQ(page_->Box().cell, (GridCell{20, 1}));
  EXPECT_EQ(page_->CellText(20, 0), "00000140");
  EXPECT_EQ(page_->CellText(19, 16), "34");
}

TEST_F(HexPageTest, InvalidAndEmptyTextAreRefusedAndRestored) {
  Open(MakeFile("a.bin", std::vector<std::uint8_t>(32, 0x3C)));
  EditMode();
  page_->Click({1, 1}, false);
  page_->TextChanged("GC", 1);
  auto boxes = host_.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "please input hexadecimal data!  ");
  EXPECT_EQ(boxes[0].title, "warning");
  EXPECT_EQ(page_->Box().text, "3C");
  EXPECT_EQ(page_->Box().selection_start, 0);
  EXPECT_EQ(page_->Box().selection_end, 1);
  EXPECT_EQ(WorkingByte(0), 0x3C);

  page_->TextChanged("", 0);
  EXPECT_EQ(host_.LastStatus().text, "input error");
  EXPECT_TRUE(host_.LastStatus().red);
  EXPECT_EQ(host_.BoxTexts().back(), "input is invalid! ");
  EXPECT_EQ(page_->Box().text, "3C");
  EXPECT_EQ(page_->Box().selection_end, 2);

  // Enter without a change writes nothing.
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(host_.LastStatus().text, "data not changed");
  EXPECT_FALSE(page_->EditBoxOpen());
  EXPECT_TRUE(buffer_->ChangedRanges().empty());
  // With the edit closed a later Enter has nothing to write, even on another cell.
  page_->SetFocusCell({1, 5});
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(4), 0x3C);
}

TEST_F(HexPageTest, PagingMovesOneRowAndStopsAtBothEnds) {
  Open(MakeFile("a.bin", Counting(16 * 25)));  // 25 rows, chip of 16 rows
  EXPECT_EQ(page_->ScrollBarState().maximum, 5);
  page_->Scroll(HexPage::ScrollCode::kPageDown);
  EXPECT_EQ(buffer_->TopRow(), 1u);
  EXPECT_EQ(page_->CellText(1, 0), "00000010");
  EXPECT_EQ(page_->ScrollBarState().position, 1);
  EXPECT_EQ(page_->KeyboardFocus(), HexPage::Focus::kScrollBar);
  page_->Scroll(HexPage::ScrollCode::kPageUp);
  page_->Scroll(HexPage::ScrollCode::kLineUp);
  EXPECT_EQ(buffer_->TopRow(), 0u);
  for (int i = 0; i < 10; ++i) page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_EQ(buffer_->TopRow(), 5u);
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 2);
  EXPECT_EQ(buffer_->TopRow(), 2u);
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 6);  // would pass the end
  EXPECT_EQ(buffer_->TopRow(), 2u);
  page_->Scroll(HexPage::ScrollCode::kEndScroll, 0);
  EXPECT_EQ(buffer_->TopRow(), 2u);

  page_->Wheel(-120);
  EXPECT_EQ(buffer_->TopRow(), 3u);
  page_->SetKeyboardFocus(HexPage::Focus::kOther);
  page_->Wheel(-120);  // neither grid nor scroll bar has the focus
  EXPECT_EQ(buffer_->TopRow(), 3u);
  page_->SetKeyboardFocus(HexPage::Focus::kGrid);
  page_->Wheel(120);
  EXPECT_EQ(buffer_->TopRow(), 2u);
}

TEST_F(HexPageTest, NothingToScrollDisablesTheBarAndIgnoresScrolling) {
  Open(MakeFile("a.bin", Counting(320)));
  SetCapacity(320);
  EXPECT_FALSE(page_->ScrollBarState().Enabled());
  page_->Scroll(HexPage::ScrollCode::kLineDown);
  page_->SetKeyboardFocus(HexPage::Focus::kGrid);
  page_->Wheel(-1);
  EXPECT_EQ(buffer_->TopRow(), 0u);
  // The chip alone can give the view rows to scroll through.
  SetCapacity(336);
  EXPECT_EQ(page_->ScrollBarState().maximum, 1);
}

TEST_F(HexPageTest, ScrollArithmeticBeyond32788Rows) {
  Open(MakeFile("a.bin", Counting(16)));
  SetCapacity(32787 * 16);
  EXPECT_EQ(page_->ScrollBarState().maximum, 32767);
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 32767);
  EXPECT_EQ(buffer_->TopRow(), 32767u);
  EXPECT_EQ(page_->ScrollBarState().position, 32767);

  // From 32788 rows the range is scaled; the thumb maps back through the same scale,
  // so its end is the last page.
  SetCapacity(32790 * 16);
  EXPECT_EQ(page_->ScrollBarState().maximum, 32767);
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 32767);
  EXPECT_EQ(buffer_->TopRow(), 32770u);
  EXPECT_EQ(page_->ScrollBarState().position, 32767);
  page_->Scroll(HexPage::ScrollCode::kLineUp);
  EXPECT_EQ(page_->ScrollBarState().position, static_cast<int>(32769.0 / 32770.0 * 32767));

  // A 4 GiB chip: 2^28 rows, 64-bit offsets in the address column.
  SetCapacity(0xFFFFFFF0u);
  const std::uint64_t rows = 0xFFFFFFF0u / 16;
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 16384);
  const auto expect_top =
      static_cast<std::uint64_t>(16384.0 / 32767.0 * static_cast<double>(rows - 20));
  EXPECT_EQ(buffer_->TopRow(), expect_top);
  EXPECT_EQ(page_->CellText(1, 0), FormatSum(expect_top * 16).substr(2));
  page_->Scroll(HexPage::ScrollCode::kThumbTrack, 32767);
  EXPECT_EQ(buffer_->TopRow(), rows - 20);
  EXPECT_EQ(page_->CellText(20, 0), "FFFFFFE0");
  EXPECT_EQ(page_->CellState(20, 16), kCellOutside);
  EXPECT_EQ(page_->ScrollPositionFor(rows - 20), 32767);
  EXPECT_EQ(page_->ScrollPositionFor(0), 0);
}

TEST_F(HexPageTest, BusyOperationsFreezeTheView) {
  Open(MakeFile("a.bin", Counting(16 * 40)));
  EditMode();
  state_.busy_writing = 1;
  page_->Click({1, 1}, false);
  EXPECT_FALSE(page_->EditBoxOpen());
  EXPECT_TRUE(page_->FollowFocus());  // the click still counts for following
  page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_EQ(buffer_->TopRow(), 0u);
  page_->ToggleModeFromCheckBox();
  page_->ToggleModeFromMenu();
  EXPECT_TRUE(page_->EditMode());
  state_.busy_writing = 0;

  page_->Click({1, 1}, false);
  ASSERT_TRUE(page_->EditBoxOpen());
  state_.busy_verifying = 1;  // verify blocks scrolling but not the edit itself
  page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_EQ(buffer_->TopRow(), 0u);
  state_.busy_writing = 1;
  page_->TextChanged("5F", 1);
  EXPECT_EQ(WorkingByte(0), 0x00);  // commit refused while writing
  state_.busy_writing = 0;
  page_->TextChanged("5F", 1);
  EXPECT_EQ(WorkingByte(0), 0x5F);
}

TEST_F(HexPageTest, ModeSwitchMessagesAndFileFill) {
  page_->ToggleModeFromMenu();
  EXPECT_EQ(host_.LastStatus().text, "file is not opened.");
  EXPECT_TRUE(host_.LastStatus().red);
  EXPECT_TRUE(host_.RecordsOf(HostRecord::Kind::kStatus).back().beep);
  page_->ToggleModeFromCheckBox();
  EXPECT_EQ(host_.LastStatus().text, "file is not opened! ");
  EXPECT_FALSE(host_.RecordsOf(HostRecord::Kind::kStatus).back().beep);
  EXPECT_FALSE(page_->EditMode());

  Open(MakeFile("a.bin", Counting(64)));
  page_->Click({2, 2}, false);  // scan mode: focus only
  EXPECT_FALSE(page_->EditBoxOpen());
  page_->ToggleModeFromMenu();
  EXPECT_TRUE(page_->EditMode());
  EXPECT_EQ(host_.LastStatus().text, "edit mode selected...");
  EXPECT_FALSE(host_.Commands().IsMenuGrayed(kCommandFileFill));
  EXPECT_TRUE(page_->EditBoxOpen());  // opened on the focus cell
  EXPECT_EQ(page_->Box().cell, (GridCell{2, 2}));
  page_->TextChanged("7" + page_->Box().text.substr(1), 1);
  EXPECT_EQ(WorkingByte(17), 0x71);
  page_->ToggleModeFromCheckBox();
  EXPECT_FALSE(page_->EditMode());
  EXPECT_FALSE(page_->EditBoxOpen());
  EXPECT_EQ(host_.LastStatus().text, "scan mode selected...");
  EXPECT_TRUE(host_.Commands().IsMenuGrayed(kCommandFileFill));
  EXPECT_EQ(page_->KeyboardFocus(), HexPage::Focus::kGrid);
}

TEST_F(HexPageTest, LeavingEditModeOnACellPastTheImageDoesNotExtendIt) {
  Open(MakeFile("a.bin", Counting(20)));
  EditMode();
  page_->Click({5, 5}, false);
  ASSERT_TRUE(page_->EditBoxOpen());
  page_->ToggleModeFromCheckBox();
  EXPECT_FALSE(page_->EditBoxOpen());
  EXPECT_EQ(buffer_->Size(), 20u);
}

TEST_F(HexPageTest, EnterOnAnUntouchedBoxAtOrPastTheEndWritesNothing) {
  const auto bytes = Counting(100, 0x30);
  Open(MakeFile("a.bin", bytes));
  EditMode();
  for (const std::uint64_t n : {101u, 228u}) {  // the first byte past the end, and further
    page_->Click(CellOf(n), false);
    ASSERT_TRUE(page_->EditBoxOpen());
    host_.ClearRecords();
    EXPECT_FALSE(page_->Commit());
    EXPECT_FALSE(page_->EditBoxOpen());
    EXPECT_EQ(buffer_->Size(), 100u) << n;
    EXPECT_EQ(host_.LastStatus().text, "data not changed");
  }
  EXPECT_EQ(ReadFile(state_.paths.working_copy), bytes);
  EXPECT_EQ(buffer_->FileSum(), Sum(bytes));
}

TEST_F(HexPageTest, SaveWithAnUntouchedBoxPastTheEndLeavesTheFileAlone) {
  const auto bytes = Counting(100, 0x30);
  const fs::path file = MakeFile("a.bin", bytes);
  Open(file);
  EditMode();
  page_->Click(CellOf(228), true);
  ASSERT_TRUE(page_->EditBoxOpen());
  (void)files_->Save();
  EXPECT_EQ(ReadFile(file), bytes);
  EXPECT_EQ(buffer_->Size(), 100u);
}

TEST_F(HexPageTest, TypingPastTheEndStillExtendsTheImage) {
  Open(MakeFile("a.bin", Counting(100)));
  EditMode();
  // "FF" typed over a blank "FF" past the end is the user's own byte.
  page_->Click(CellOf(101), false);
  Type('F');
  EXPECT_EQ(buffer_->Size(), 101u);
  EXPECT_EQ(WorkingByte(100), 0xFF);
  Type('F');
  EXPECT_EQ(buffer_->Size(), 101u);
  // Now within the image: an untouched box on it changes nothing either.
  page_->Click(CellOf(101), false);
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(buffer_->Size(), 101u);
}

TEST_F(HexPageTest, FocusAndEditBoxFollowTheirByteWhileScrolling) {
  Open(MakeFile("a.bin", Counting(16 * 60)));
  EditMode();
  page_->Click({5, 7}, false);
  for (int i = 0; i < 3; ++i) page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_EQ(page_->FocusCell(), (GridCell{2, 7}));
  EXPECT_EQ(page_->Box().cell, (GridCell{2, 7}));
  EXPECT_TRUE(page_->Box().visible);
  for (int i = 0; i < 3; ++i) page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_TRUE(page_->FocusCell().IsNone());
  EXPECT_FALSE(page_->Box().visible);
  EXPECT_TRUE(page_->EditBoxOpen());  // still pending, off the page
  for (int i = 0; i < 4; ++i) page_->Scroll(HexPage::ScrollCode::kLineUp);
  EXPECT_EQ(page_->FocusCell(), (GridCell{3, 7}));
  EXPECT_TRUE(page_->Box().visible);
  EXPECT_EQ(page_->Box().cell, (GridCell{3, 7}));
  // The box holds its own byte's text (row 4, column 7 = offset 0x46), not that of
  // whatever scrolled into its old grid position.
  EXPECT_EQ(page_->Box().text, "46");
  Type('9');
  EXPECT_EQ(WorkingByte(0x46), 0x96);
}

// However the edit box comes to a byte (a click, go to address, the focus following a
// scroll), emptying it or typing a non-digit gives back that byte's own text, so Enter
// never writes another byte's value there.
TEST_F(HexPageTest, TheEditBoxOnANewByteFallsBackOnlyToThatBytesText) {
  Open(MakeFile("a.bin", Counting(16 * 60)));
  EditMode();
  page_->Click({1, 1}, false);
  Type('A');  // byte 0 becomes 0xA0; its texts are now the box's fall-backs
  ASSERT_EQ(WorkingByte(0), 0xA0);

  // Go to address (Move To, View Data, Find).
  ASSERT_TRUE(GoToAddress(*buffer_, *page_, host_, 0x25));
  ASSERT_EQ(page_->Box().text, "25");
  page_->TextChanged("", 0);
  EXPECT_EQ(page_->Box().text, "25");
  page_->TextChanged("G5", 1);
  EXPECT_EQ(page_->Box().text, "25");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x25), 0x25);

  // A click on another byte right after typing into one.
  page_->Click({1, 1}, false);
  Type('B');
  page_->Click({1, 2}, false);
  page_->TextChanged("G1", 1);
  EXPECT_EQ(page_->Box().text, "01");
  page_->TextChanged("", 0);
  EXPECT_EQ(page_->Box().text, "01");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(1), 0x01);
  EXPECT_EQ(WorkingByte(0), 0xB0);

  // The grid's focus moved to another byte while the box was open; a scroll then
  // brings the box onto that byte, with that byte's text.
  page_->Click({2, 1}, false);
  page_->SetFocusCell({2, 3});
  page_->Scroll(HexPage::ScrollCode::kLineDown);
  ASSERT_EQ(page_->FocusCell(), (GridCell{1, 3}));
  EXPECT_EQ(page_->Box().cell, (GridCell{1, 3}));
  EXPECT_EQ(page_->Box().text, "12");
  page_->TextChanged("", 0);
  EXPECT_EQ(page_->Box().text, "12");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x12), 0x12);
  EXPECT_EQ(WorkingByte(0x10), 0x10);

  // Scrolled off the page and back, the pending box reopens on its byte; emptied, it
  // gives back that byte's text.
  ASSERT_TRUE(GoToAddress(*buffer_, *page_, host_, 0x47));
  ASSERT_EQ(page_->Box().text, "47");
  for (int i = 0; i < 25; ++i) page_->Scroll(HexPage::ScrollCode::kLineDown);
  EXPECT_FALSE(page_->Box().visible);
  for (int i = 0; i < 25; ++i) page_->Scroll(HexPage::ScrollCode::kLineUp);
  ASSERT_TRUE(page_->Box().visible);
  EXPECT_EQ(page_->Box().text, "47");
  page_->TextChanged("", 0);
  EXPECT_EQ(page_->Box().text, "47");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x47), 0x47);
}

// A fill that changes the byte under an open edit box: the box takes the new value, so
// Enter or an emptied box does not put the old one back.
TEST_F(HexPageTest, AByteFilledUnderTheEditBoxKeepsItsNewValue) {
  Open(MakeFile("a.bin", Counting(16 * 60)));
  EditMode();
  page_->Click({2, 3}, false);  // byte 0x12
  FileFill fill(*buffer_, *page_, host_, "tarvix");
  fill.SetAddressText("10");
  fill.SetLengthText("4");
  fill.SetDataText("5A");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  ASSERT_EQ(WorkingByte(0x12), 0x5A);
  EXPECT_EQ(page_->Box().text, "5A");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x12), 0x5A);

  page_->Click({2, 4}, false);  // byte 0x13
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  fill.SetDataText("A5");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  page_->TextChanged("", 0);
  EXPECT_EQ(page_->Box().text, "A5");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x13), 0xA5);

  // Scrolled off the page while filled, the box comes back with the new value too.
  page_->Click({2, 5}, false);  // byte 0x14
  for (int i = 0; i < 25; ++i) page_->Scroll(HexPage::ScrollCode::kLineDown);
  fill.SetAddressText("14");
  fill.SetDataText("77");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  for (int i = 0; i < 25; ++i) page_->Scroll(HexPage::ScrollCode::kLineUp);
  ASSERT_TRUE(page_->Box().visible);
  EXPECT_EQ(page_->Box().text, "77");
  EXPECT_FALSE(page_->Commit());
  EXPECT_EQ(WorkingByte(0x14), 0x77);
}

TEST_F(HexPageTest, ChipSelectionChangeRecomputesRowsAndRedraws) {
  Open(MakeFile("a.bin", Counting(512)));
  EXPECT_EQ(StateAt(300), kCellPastChip);
  SetCapacity(1024);
  page_->Refresh();
  EXPECT_EQ(StateAt(300), kCellSame);
  EXPECT_EQ(buffer_->ScrollRows(), 64u);
  EXPECT_EQ(page_->ScrollBarState().maximum, 44);
}

}  // namespace
}  // namespace tarvix::testing_buffer
