// SPDX-License-Identifier: GPL-3.0-or-later
// The menus' dialogs driven as a user drives them, on the simulated programmer: typing
// into their boxes, their buttons, Enter and Escape, and what they leave in the image,
// on the chip and on disk. Every dialog opens without blocking, so nothing waits on a
// modal loop. The file tools' dialogs have a file of their own.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTimer>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "buffer/buffer_tools.h"
#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "firmware/firmware_upgrade.h"
#include "firmware/tvx_image.h"
#include "gui/caption_progress_bar.h"
#include "gui/chip_fill_window.h"
#include "gui/dialogs.h"
#include "gui/file_division_window.h"
#include "gui/file_fill_window.h"
#include "gui/files_combine_window.h"
#include "gui/find_datas_window.h"
#include "gui/firmware_upgrade_window.h"
#include "gui/hex_grid.h"
#include "gui/image_button.h"
#include "gui/move_to_window.h"
#include "gui/text_viewer_window.h"
#include "gui/view_data_window.h"
#include "gui/window_fixture.h"
#include "gui/write_from_address_window.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}

class DialogsTest : public WindowFixture {
 protected:
  [[nodiscard]] std::size_t BoxCount(const std::string& text) const {
    std::size_t n = 0;
    for (const ShownBox& b : boxes_) n += b.text == text;
    return n;
  }
  void Load(std::size_t size) {
    OpenFile(MakeImage("image.bin", size));
    ASSERT_TRUE(program_->Image().Loaded());
  }
  // The worker waits at a match of the search.
  bool WaitAtMatch() {
    return WaitFor([&] { return program_->State().command_code.load() == kFindWaiting; });
  }
  // Byte cells of the page shown as a match (white on blue).
  std::vector<GridCell> MarkedCells() {
    std::vector<GridCell> cells;
    for (int row = 1; row <= kHexRows; ++row)
      for (int column = 1; column <= kHexColumns; ++column)
        if (program_->Hex().CellState(row, column) == kCellMatch) cells.push_back({row, column});
    return cells;
  }
  std::uint64_t FocusOffset() {
    const GridCell cell = program_->Hex().FocusCell();
    return (program_->Image().TopRow() + static_cast<std::uint64_t>(cell.row - 1)) * 16 +
           static_cast<std::uint64_t>(cell.column - 1);
  }
  sim::VirtualChip& Chip() { return *sim_->bus->Programmer().chip(); }
};

TEST_F(DialogsTest, EveryDialogOpensFromItsMenuItemWithItsTitle) {
  Open();
  Load(1024);
  window_->DispatchCommand(c::kEditMode);
  struct Case {
    int id;
    const char* title;
    std::function<QWidget*()> open;
  };
  const std::vector<Case> cases = {
      {c::kViewData, "View Data", [&] { return D().ViewData(); }},
      {c::kFileFill, "Fill file data", [&] { return D().FileFill(); }},
      {c::kMoveTo, "Move to specify addr", [&] { return D().MoveTo(); }},
      {c::kFindData, "Find datas", [&] { return D().FindDatas(); }},
      {c::kChipFill, "Fill chip data", [&] { return D().ChipFill(); }},
      {c::kFirmwareUpgrade, "VRNT_Tarvix Firmware Upgrade", [&] { return D().Upgrade(); }},
      {c::kWriteFromFileAddress, "Write from specify file addr",
       [&] { return D().WriteFromAddress(); }},
      {menu_id::kFilesCombine, "Files combine", [&] { return D().FilesCombine(); }},
      {menu_id::kFileDivision, "File Division", [&] { return D().FileDivision(); }},
  };
  for (const Case& c : cases) {
    Menu(c.id);
    QWidget* dialog = c.open();
    ASSERT_NE(dialog, nullptr) << c.title;
    EXPECT_TRUE(dialog->isVisible()) << c.title;
    EXPECT_EQ(dialog->windowTitle().toStdString(), c.title);
    // Move To alone leaves the window usable.
    EXPECT_EQ(dialog->isModal(), c.id != c::kMoveTo) << c.title;
    // Every label has room for its lines (a "g" keeps its tail).
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      const int lines = static_cast<int>(label->text().count('\n')) + 1;
      EXPECT_GE(label->height(), label->fontMetrics().height() * lines)
          << c.title << ": " << label->text().toStdString();
    }
    // Every control lies inside the dialog, none on top of another.
    const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : children) {
      EXPECT_TRUE(dialog->rect().contains(a->geometry()))
          << c.title << " " << a->objectName().toStdString();
      for (QWidget* b : children) {
        if (a == b || qobject_cast<QGroupBox*>(a) || qobject_cast<QGroupBox*>(b)) continue;
        EXPECT_FALSE(a->geometry().intersects(b->geometry()))
            << c.title << ": " << a->metaObject()->className() << " and "
            << b->metaObject()->className();
      }
    }
    // The menu again raises the open dialog rather than a second one.
    Menu(c.id);
    EXPECT_EQ(c.open(), dialog);
    dialog->close();
    Settle();
    EXPECT_EQ(c.open(), nullptr) << c.title;
  }
}

TEST_F(DialogsTest, AGrayedMenuItemOpensNothing) {
  Open();
  ASSERT_TRUE(window_->MenuAction(c::kMoveTo)->isEnabled() == false);
  window_->DispatchCommand(c::kMoveTo);
  window_->DispatchCommand(c::kFileFill);
  EXPECT_EQ(D().MoveTo(), nullptr);
  EXPECT_EQ(D().FileFill(), nullptr);
  // "Write from specify file addr..." needs no image: it is there from start-up on.
  EXPECT_TRUE(window_->MenuAction(c::kWriteFromFileAddress)->isEnabled());
}

TEST_F(DialogsTest, ANonHexCharacterIsRefusedWithItsBoxInEveryHexBox) {
  Open();
  Load(1024);
  window_->DispatchCommand(c::kEditMode);

  // What the box being typed into holds while each warning is up: the refused
  // character must already be gone.
  QLineEdit* typed_into = nullptr;
  std::vector<std::string> under_box;
  host_->SetBoxPresenter(
      [&](QWidget*, const QString& text, const QString& title, BoxIcon, BoxButtons buttons) {
        boxes_.push_back({text.toStdString(), title.toStdString(), buttons});
        if (typed_into != nullptr) under_box.push_back(typed_into->text().toStdString());
        return BoxAnswer::kOk;
      });

  Menu(c::kViewData);
  QLineEdit* view_address = D().ViewData()->AddressBox();
  typed_into = view_address;
  QTest::keyClicks(view_address, "1g2");
  EXPECT_EQ(view_address->text().toStdString(), "12");
  EXPECT_EQ(view_address->cursorPosition(), 2);
  EXPECT_EQ(BoxCount("please input hex data!   "), 1u);
  EXPECT_EQ(under_box, std::vector<std::string>{"1"});
  typed_into = nullptr;
  // Letters turn to upper case; the box holds 8 characters at most.
  QTest::keyClicks(view_address, "abcdefgh");
  EXPECT_EQ(view_address->text().toStdString(), "12ABCDEF");
  D().ViewData()->close();

  Menu(c::kMoveTo);
  QLineEdit* move_address = D().MoveTo()->AddressBox();
  QTest::keyClicks(move_address, "Z");
  EXPECT_EQ(move_address->text().toStdString(), "");
  EXPECT_EQ(BoxCount("please input hex data!    "), 1u);  // Move To's own, four blanks
  D().MoveTo()->close();

  Menu(c::kFileFill);
  FileFillWindow* fill = D().FileFill();
  QTest::keyClicks(fill->DataBox(), "x");
  QTest::keyClicks(fill->LengthBox(), "A");
  EXPECT_EQ(fill->DataBox()->text().toStdString(), "");
  EXPECT_EQ(fill->LengthBox()->text().toStdString(), "1");
  EXPECT_EQ(BoxCount("please input hex data!   "), 2u);
  EXPECT_EQ(BoxCount("please input hex data!    "), 2u);
  fill->close();

  Menu(c::kChipFill);
  ChipFillWindow* chip = D().ChipFill();
  chip->AddressBox()->clear();
  typed_into = chip->AddressBox();
  QTest::keyClicks(chip->AddressBox(), "1f-");
  typed_into = nullptr;
  EXPECT_EQ(chip->AddressBox()->text().toStdString(), "1F");
  EXPECT_EQ(under_box.back(), "1F");
  EXPECT_EQ(program_->ChipFill().Fields().address, "1F");
  EXPECT_EQ(BoxCount("please input hex data!    "), 3u);
  // A character outside ASCII goes whole.
  chip->DataBox()->clear();
  QTest::keyClicks(chip->DataBox(), "a");
  QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("ü"));
  QApplication::sendEvent(chip->DataBox(), &umlaut);
  EXPECT_EQ(chip->DataBox()->text().toStdString(), "A");
  EXPECT_EQ(BoxCount("please input hex data!    "), 4u);
  chip->close();
}

TEST_F(DialogsTest, FileFillWritesTheImageAndAppendsFromTheEnd) {
  Open();
  Load(16);
  window_->DispatchCommand(c::kEditMode);
  Menu(c::kFileFill);
  FileFillWindow* fill = D().FileFill();
  EXPECT_EQ(fill->AddressBox()->text().toStdString(), "0");
  EXPECT_EQ(fill->LengthBox()->text().toStdString(), "1");
  EXPECT_EQ(Text(fill->StateText()), "null");
  // OK with the data box empty is refused with its box.
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "please input fill data!   ");
  fill->AddressBox()->setText("20");
  fill->LengthBox()->setText("3");
  QTest::keyClicks(fill->DataBox(), "55");
  QTest::keyClick(fill->DataBox(), Qt::Key_Return);  // Enter presses OK
  EXPECT_EQ(Text(fill->StateText()), "fill finished");
  EXPECT_EQ(program_->Image().Size(), 0x23u);
  std::uint8_t bytes[0x23];
  ASSERT_EQ(program_->Image().ReadWorking(0, {bytes, sizeof bytes}), 0x23);
  for (int i = 0x10; i < 0x20; ++i) EXPECT_EQ(bytes[i], 0xFF) << i;
  for (int i = 0x20; i < 0x23; ++i) EXPECT_EQ(bytes[i], 0x55) << i;
  EXPECT_EQ(Status(), "fill finished");
  EXPECT_TRUE(fill->isVisible());  // it stays open

  fill->FromEndBox()->click();
  EXPECT_EQ(fill->AddressBox()->text().toStdString(), "23");
  EXPECT_TRUE(fill->AddressBox()->isReadOnly());
  EXPECT_EQ(fill->LengthBox()->text().toStdString(), "3");  // what was typed stays
  fill->LengthBox()->setText("16");
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  EXPECT_EQ(program_->Image().Size(), 0x33u);
  EXPECT_EQ(fill->AddressBox()->text().toStdString(), "33");  // the next fill appends again
  fill->FromEndBox()->click();
  EXPECT_EQ(fill->AddressBox()->text().toStdString(), "0");
  EXPECT_FALSE(fill->AddressBox()->isReadOnly());
}

// A mistyped length once wrote gigabytes with the window frozen: a fill past the chip
// asks first, and a long one shows its progress and can be stopped.
TEST_F(DialogsTest, AFillPastTheChipAsksFirstAndALongFillCanBeStopped) {
  Open();  // a 4 MiB chip
  Load(16);
  window_->DispatchCommand(c::kEditMode);
  Menu(c::kFileFill);
  FileFillWindow* fill = D().FileFill();
  fill->DataBox()->setText("00");
  fill->LengthBox()->setText("5000000");
  answers_.push_back(BoxAnswer::kNo);
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  EXPECT_TRUE(BoxShown(
      "the fill makes the file 5000000 bytes long, past the chip's 4194304 bytes. continue ?"));
  EXPECT_EQ(program_->Image().Size(), 16u);

  fill->LengthBox()->setText("40000000");
  answers_.push_back(BoxAnswer::kYes);
  // Cancel pressed as soon as the fill lets the window breathe.
  QString progress_title;
  QTimer cancel;
  cancel.setSingleShot(true);
  QObject::connect(&cancel, &QTimer::timeout, [&] {
    auto* bar = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(bar, nullptr);
    progress_title = bar->windowTitle();
    bar->cancel();
  });
  cancel.start(0);
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  EXPECT_EQ(progress_title.toStdString(), "Fill file data");
  EXPECT_EQ(program_->Image().Size(), kFillSlice);
  EXPECT_EQ(Text(fill->StateText()), "fill stopped");
  EXPECT_EQ(Status(), "fill stopped");
  // Shown for real, that question takes Enter as No.
  QTimer enter;
  enter.setSingleShot(true);
  QObject::connect(&enter, &QTimer::timeout,
                   [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
  enter.start(0);
  EXPECT_EQ(QtHost::ShowStandardBox(window_.get(), "continue ?", "warning", BoxIcon::kWarning,
                                    BoxButtons::kYesNo),
            BoxAnswer::kNo);
}

TEST_F(DialogsTest, MoveToStaysOpenAndTheEditBoxResetsToItsOwnByte) {
  Open();
  Load(100 * 16);
  window_->DispatchCommand(c::kEditMode);
  ASSERT_TRUE(program_->Hex().EditMode());
  Menu(c::kMoveTo);
  MoveToWindow* move = D().MoveTo();
  // First an edit box open on another byte, whose text the box must not fall back to.
  QTest::mouseClick(window_->Grid(), Qt::LeftButton, {}, window_->Grid()->CellRect(1, 1).center());
  ASSERT_TRUE(window_->CellEditBox()->isVisible());

  QTest::keyClicks(move->AddressBox(), "630");
  QTest::keyClick(move->AddressBox(), Qt::Key_Return);
  EXPECT_TRUE(move->isVisible());
  // The last page is full: rows 80 to 99.
  EXPECT_EQ(program_->Image().TopRow(), 80u);
  EXPECT_EQ(FocusOffset(), 0x630u);
  QLineEdit* cell = window_->CellEditBox();
  ASSERT_TRUE(cell->isVisible());
  const std::string own =
      program_->Hex().CellText(program_->Hex().FocusCell().row, program_->Hex().FocusCell().column);
  EXPECT_EQ(cell->text().toStdString(), own);
  EXPECT_EQ(cell->selectedText().toStdString(), own);  // both digits selected
  // Emptied, the box shows this byte's text again and writes nothing.
  cell->selectAll();
  QTest::keyClick(cell, Qt::Key_Delete);
  EXPECT_TRUE(BoxShown("input is invalid! "));
  EXPECT_EQ(cell->text().toStdString(), own);
  std::uint8_t byte = 0;
  ASSERT_EQ(program_->Image().ReadWorking(0x630, {&byte, 1}), 1);
  EXPECT_EQ(byte, PatternByte(0x630));
  ASSERT_EQ(program_->Image().ReadWorking(0, {&byte, 1}), 1);
  EXPECT_EQ(byte, PatternByte(0));

  // Past the end: the status line and the box say so.
  move->AddressBox()->setText("640");
  QTest::mouseClick(move->OkButton(), Qt::LeftButton);
  EXPECT_EQ(Status(), "address is out of range!");
  EXPECT_TRUE(BoxShown("address is out of range!"));
  move->AddressBox()->clear();
  QTest::mouseClick(move->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "please input address! ");
}

TEST_F(DialogsTest, MoveToCannotMoveTheViewWhileAWriteHoldsTheImage) {
  Open(sim::Timing::kRealistic);
  Load(2 * 1024 * 1024);
  Menu(c::kMoveTo);
  MoveToWindow* move = D().MoveTo();
  EXPECT_TRUE(move->OkButton()->isEnabled());
  QTest::mouseClick(window_->Button(c::kWrite), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !move->OkButton()->isEnabled(); }));
  QTest::mouseClick(window_->Button(c::kWrite), Qt::LeftButton);  // stop it
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(WaitFor([&] { return move->OkButton()->isEnabled(); }));
}

TEST_F(DialogsTest, FindWalksTheMatchesAndAChangedPatternRestarts) {
  Open();
  Load(1024);  // 0A 11 stands at 1, 257, 513 and 769
  Menu(c::kFindData);
  FindDatasWindow* find = D().FindDatas();
  EXPECT_TRUE(find->HexButton()->isChecked());
  EXPECT_EQ(find->OkButton()->text().toStdString(), "OK");
  QTest::keyClicks(find->AimBox(), "a11");  // odd: a "0" goes in front
  QTest::keyClick(find->AimBox(), Qt::Key_Return);
  EXPECT_EQ(find->OkButton()->text().toStdString(), "next");
  ASSERT_TRUE(WaitAtMatch());
  QApplication::processEvents();
  EXPECT_EQ(FocusOffset(), 1u);
  EXPECT_EQ(MarkedCells(), (std::vector<GridCell>{{1, 2}, {1, 3}}));
  const QImage picture = window_->Grid()->grab().toImage();
  EXPECT_EQ(picture.pixelColor(window_->Grid()->CellRect(1, 2).topLeft() + QPoint(2, 2)),
            QColor(0, 0, 255));

  for (std::uint64_t expected : {257u, 513u}) {
    QTest::mouseClick(find->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] {
      return program_->State().command_code.load() == kFindWaiting && FocusOffset() == expected;
    })) << expected;
    // The mark moved with the match: only its two cells are blue.
    EXPECT_EQ(MarkedCells().size(), 2u);
  }

  // A changed pattern: the waiting search stops and a new one starts from the top.
  find->CharButton()->click();
  find->AimBox()->setText("A");  // 0x41 stands first at 82
  QTest::mouseClick(find->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] {
    return program_->State().command_code.load() == kFindWaiting && FocusOffset() == 82;
  }));
  EXPECT_FALSE(find->RestartPending());
  EXPECT_EQ(program_->Find().Pattern(), "41");
  EXPECT_EQ(MarkedCells().size(), 1u);

  // Escape stops the waiting search and closes the dialog.
  QTest::keyClick(find->AimBox(), Qt::Key_Escape);
  Settle();
  EXPECT_EQ(D().FindDatas(), nullptr);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(program_->TheWorker().Idle());
  EXPECT_FALSE(BoxShown("file search reach end.\r\ncontinue to search from the begin?"));
}

TEST_F(DialogsTest, AChangedPatternWhileTheSearchWaitsForTheWindowThreadDoesNotDeadlock) {
  Open();
  Load(1024);
  Menu(c::kFindData);
  FindDatasWindow* find = D().FindDatas();
  find->AimBox()->setText("0A11");
  QTest::mouseClick(find->OkButton(), Qt::LeftButton);
  // The window thread does not serve events for a while: the search has found its
  // first match and now waits for the window call that shows it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(program_->State().command_code.load(), kCommandFind);
  find->AimBox()->setText("41");
  QTest::mouseClick(find->OkButton(), Qt::LeftButton);  // returns without waiting
  EXPECT_TRUE(find->RestartPending());
  ASSERT_TRUE(WaitFor([&] {
    return program_->State().command_code.load() == kFindWaiting && FocusOffset() == 82;
  }));
  EXPECT_FALSE(find->RestartPending());
  find->close();
  EXPECT_TRUE(WaitIdle());
}

TEST_F(DialogsTest, FindReachesTheEndAndNextStartsAgain) {
  Open();
  Load(1024);
  Menu(c::kFindData);
  FindDatasWindow* find = D().FindDatas();
  find->AimBox()->setText("0A11");
  for (int match = 0; match < 4; ++match) {
    QTest::mouseClick(find->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitAtMatch()) << match;
  }
  QTest::mouseClick(find->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(BoxShown("file search reach end.\r\ncontinue to search from the begin?"));
  // The view is back where the last match was shown.
  EXPECT_EQ(program_->Image().TopRow(), 32u);
  QTest::mouseClick(find->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitAtMatch());
  EXPECT_EQ(FocusOffset(), 1u);
  // Cancel stops it as Escape does.
  QPushButton* cancel = nullptr;
  for (QPushButton* button : find->findChildren<QPushButton*>())
    if (button->text() == "Cancel") cancel = button;
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton);
  Settle();
  EXPECT_EQ(D().FindDatas(), nullptr);
  ASSERT_TRUE(WaitIdle());
  // Nothing found at all: its own message.
  Menu(c::kFindData);
  D().FindDatas()->AimBox()->setText("FFFFFF");
  QTest::mouseClick(D().FindDatas()->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(BoxShown("finished.\r\nnot find specify datas      "));
}

TEST_F(DialogsTest, ViewDataShowsTheImageAndTheChipSideBySide) {
  Open();
  const std::uint8_t held[2] = {0x5A, 0xC3};
  Chip().Load(0x10, held, 2);
  Menu(c::kViewData);
  ViewDataWindow* view = D().ViewData();
  for (QLabel* text : {view->FileData(), view->ChipData(), view->StateText()})
    EXPECT_EQ(Text(text), "null");
  QTest::keyClicks(view->AddressBox(), "10");
  QTest::keyClick(view->AddressBox(), Qt::Key_Return);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Text(view->FileData()), "null");
  EXPECT_EQ(Text(view->ChipData()), "5A");
  EXPECT_EQ(Text(view->StateText()), "file unopened,chip read succeed...");
  EXPECT_EQ(Status(), "finished...");
  view->AddressBox()->setText("11");
  QTest::mouseClick(view->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Text(view->ChipData()), "C3");

  // With an image the file side shows its byte and the view goes there.
  view->close();
  Load(1024);
  Menu(c::kViewData);
  view = D().ViewData();
  EXPECT_EQ(Text(view->ChipData()), "null");  // a new dialog starts afresh
  view->AddressBox()->setText("10");
  QTest::mouseClick(view->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02X", PatternByte(0x10));
  EXPECT_EQ(Text(view->FileData()), expected);
  EXPECT_EQ(Text(view->ChipData()), "5A");
  EXPECT_EQ(Text(view->StateText()), "file read succeed,chip read succeed...");
  EXPECT_EQ(FocusOffset(), 0x10u);
}

TEST_F(DialogsTest, ViewDataOnAWordChipShowsBothBytesOfTheWord) {
  Open(sim::Timing::kInstant, true, "AT93C66(16bit)");
  // The programmer tells only the family; the user picks the model, as in the lists.
  std::int32_t record = -1;
  for (std::uint32_t i = 0; i < catalogue_.Count(); ++i)
    if (catalogue_.Record(i).model == "AT93C66(16bit)") record = static_cast<std::int32_t>(i);
  ASSERT_GE(record, 0);
  program_->Selection().SelectRecord(record);
  const std::uint8_t word[2] = {0xBE, 0xEF};
  Chip().Load(0x20, word, 2);
  Menu(c::kViewData);
  ViewDataWindow* view = D().ViewData();
  view->AddressBox()->setText("10");
  QTest::mouseClick(view->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Text(view->ChipData()), "BEEF");
  EXPECT_EQ(Text(view->StateText()), "file unopened,chip read succeed...");
}

TEST_F(DialogsTest, ChipFillChangesExactlyItsRangeOnTheChip) {
  Open(sim::Timing::kInstant, true, "W25X80");
  std::vector<std::uint8_t> before(3 * 4096);
  for (std::size_t i = 0; i < before.size(); ++i) before[i] = PatternByte(i);
  Chip().Load(0, before.data(), before.size());
  Menu(c::kChipFill);
  ChipFillWindow* fill = D().ChipFill();
  EXPECT_EQ(fill->AddressBox()->text().toStdString(), "0");
  EXPECT_EQ(fill->LengthBox()->text().toStdString(), "1");
  EXPECT_EQ(fill->DataBox()->text().toStdString(), "FF");
  EXPECT_EQ(fill->DataBox()->maxLength(), 2);
  // A range across the first block's end: two blocks rewritten, only the range changed.
  fill->AddressBox()->selectAll();
  QTest::keyClicks(fill->AddressBox(), "ffe");
  fill->LengthBox()->selectAll();
  QTest::keyClicks(fill->LengthBox(), "5");
  fill->DataBox()->selectAll();
  QTest::keyClicks(fill->DataBox(), "a5");
  QTest::keyClick(fill->DataBox(), Qt::Key_Return);  // Enter acts as OK
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Text(fill->StateLine()), "Fill succeed");
  EXPECT_EQ(Status(), "Fill succeed");
  EXPECT_TRUE(fill->CancelButton()->isEnabled());
  std::vector<std::uint8_t> expected = before;
  for (std::size_t i = 0xFFE; i < 0xFFE + 5; ++i) expected[i] = 0xA5;
  EXPECT_EQ(Chip().ReadRange(0, expected.size()), expected);
  EXPECT_EQ(sim_->bus->Programmer().CommandCount(19), 2u);

  // An empty length box is refused before the worker is asked.
  fill->LengthBox()->clear();
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  EXPECT_EQ(Text(fill->StateLine()), "please input fill length");
  EXPECT_EQ(boxes_.back().text, "please input fill length!   ");
  EXPECT_EQ(sim_->bus->Programmer().CommandCount(19), 2u);
}

TEST_F(DialogsTest, ChipFillDoesNotCloseWhileItWritesBlocks) {
  Open();
  Menu(c::kChipFill);
  ChipFillWindow* fill = D().ChipFill();
  // The worker has disabled Cancel: the close box and Escape are refused too.
  program_->ChipFill().SetStateLine("chip filling...");
  program_->ChipFill().EnableCancel(false);
  EXPECT_FALSE(fill->CancelButton()->isEnabled());
  EXPECT_EQ(Text(fill->StateLine()), "chip filling...");
  fill->close();
  QTest::keyClick(fill->AddressBox(), Qt::Key_Escape);
  Settle();
  ASSERT_NE(D().ChipFill(), nullptr);
  EXPECT_TRUE(fill->isVisible());
  program_->ChipFill().EnableCancel(true);
  QTest::mouseClick(fill->CancelButton(), Qt::LeftButton);
  Settle();
  EXPECT_EQ(D().ChipFill(), nullptr);
}

TEST_F(DialogsTest, ChipFillStateLinesArriveFromTheWorkerThread) {
  Open(sim::Timing::kRealistic, true, "W25X80");
  Menu(c::kChipFill);
  ChipFillWindow* fill = D().ChipFill();
  fill->LengthBox()->setText("");
  QTest::keyClicks(fill->LengthBox(), "40960");  // ten blocks
  QTest::mouseClick(fill->OkButton(), Qt::LeftButton);
  // The worker writes the state line, then disables Cancel: both reach the dialog.
  ASSERT_TRUE(WaitFor([&] {
    return Text(fill->StateLine()).rfind("chip filling...", 0) == 0 &&
           !fill->CancelButton()->isEnabled();
  }));
  ASSERT_TRUE(WaitIdle(60000));
  EXPECT_EQ(Text(fill->StateLine()), "Fill succeed");
  EXPECT_TRUE(fill->CancelButton()->isEnabled());
}

TEST_F(DialogsTest, AnUpgradeOnTheSimulatorSucceedsAndTheDialogHoldsWhileItRuns) {
  Open();
  std::vector<std::uint8_t> payload(3000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = PatternByte(i);
  const auto image = MakeTvx(payload);
  ASSERT_TRUE(image.has_value());
  const auto file = dir_.path() / "firmware.tvx";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image->data()),
             static_cast<std::streamsize>(image->size()));
  D().Choosers().open_file = [&](QWidget*, const QString& filter) {
    EXPECT_EQ(filter.toStdString(), "(*.tvx)");  // its name once, not "(*.tvx)(*.tvx)"
    return QString::fromStdString(file.string());
  };

  Menu(c::kFirmwareUpgrade);
  FirmwareUpgradeWindow* upgrade = D().Upgrade();
  EXPECT_FALSE(upgrade->UpgradeButton()->isEnabled());
  EXPECT_EQ(upgrade->Bar()->Caption().toStdString(), "please select firmware file...");
  QTest::mouseClick(upgrade->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(upgrade->PathBox()->text().toStdString(), file.string());
  EXPECT_TRUE(upgrade->PathBox()->isReadOnly());
  EXPECT_TRUE(upgrade->UpgradeButton()->isEnabled());
  EXPECT_EQ(upgrade->Bar()->Caption().toStdString(), "upgrade is ready");

  QSignalSpy bell(host_.get(), &QtHost::beepRequested);
  QTest::mouseClick(upgrade->UpgradeButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(upgrade->Bar()->Caption().toStdString(),
            "firmware upgrade succeed.please restart the device.");
  // The success is announced with the desktop's bell.
  EXPECT_TRUE(WaitFor([&] { return bell.count() >= 1; }, 2000));
  EXPECT_EQ(upgrade->Bar()->Position(), 100);
  EXPECT_EQ(sim_->bus->Programmer().FirmwareImage(), *image);

  // While a run holds the flag the dialog stays, whatever closes it.
  program_->Upgrade().SetRunning(true);
  upgrade->close();
  QTest::keyClick(upgrade, Qt::Key_Escape);
  Settle();
  ASSERT_NE(D().Upgrade(), nullptr);
  program_->Upgrade().SetRunning(false);
  upgrade->close();
  Settle();
  EXPECT_EQ(D().Upgrade(), nullptr);
  // Opened again, it starts without a file.
  Menu(c::kFirmwareUpgrade);
  EXPECT_FALSE(D().Upgrade()->UpgradeButton()->isEnabled());
  EXPECT_TRUE(D().Upgrade()->PathBox()->text().isEmpty());
}

TEST_F(DialogsTest, HelpFilesWithoutADesktopViewerShowInAWindowOfOurOwn) {
  Open();
  const std::filesystem::path manual = dir_.path() / "VRNT_Tarvix.html";
  std::filesystem::copy_file(
      std::filesystem::path(TARVIX_DATABASE_DAT).parent_path() / "VRNT_Tarvix.html", manual);
  const std::filesystem::path log = program_->OperationLog().Path();
  std::ofstream(log, std::ios::binary) << ToGbk("    2024-05-06 07:08:09 a.bin 文件修改如下：\r\n");
  QList<QUrl> opened;
  bool viewer_works = true;
  D().Choosers().open_url = [&](const QUrl& url) {
    opened.push_back(url);
    return viewer_works;
  };
  window_->MenuAction(menu_id::kContents)->trigger();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0].toLocalFile().toStdString(), manual.string());
  EXPECT_EQ(D().TextViewer(), nullptr);

  // The desktop has no viewer: the manual, then the log (decoded), in our own window.
  viewer_works = false;
  window_->MenuAction(menu_id::kContents)->trigger();
  ASSERT_NE(D().TextViewer(), nullptr);
  EXPECT_TRUE(D().TextViewer()->Browser()->toPlainText().contains("Bulk Mode"));
  window_->MenuAction(menu_id::kOperateLog)->trigger();
  EXPECT_EQ(opened.size(), 3);
  ASSERT_NE(D().TextViewer(), nullptr);
  EXPECT_TRUE(
      D().TextViewer()->Browser()->toPlainText().contains(QString::fromUtf8("文件修改如下")));
  EXPECT_FALSE(BoxShown("not find file"));

  // Files that are really missing.
  D().TextViewer()->close();
  std::filesystem::remove(manual);
  std::filesystem::remove(log);
  window_->MenuAction(menu_id::kContents)->trigger();
  window_->MenuAction(menu_id::kOperateLog)->trigger();
  EXPECT_EQ(BoxCount("not find file"), 2u);
  EXPECT_EQ(D().TextViewer(), nullptr);
}

}  // namespace
}  // namespace tarvix::gui::testing
