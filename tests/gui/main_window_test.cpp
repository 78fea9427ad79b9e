// SPDX-License-Identifier: GPL-3.0-or-later
// The main window driven as a user drives it: buttons, keys, menus, the grid and its
// edit box, drops, close; on the simulated programmer.
#include <sys/wait.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/bulk_mode.h"
#include "app/instance_guard.h"
#include "buffer/change_log.h"
#include "buffer/path_box.h"
#include "gui/caption_progress_bar.h"
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

void PressKey(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(target, key, modifiers);
}

using WindowTest = WindowFixture;

TEST_F(WindowTest, StartUpRecognitionShowsTheSimulatedChip) {
  Open();
  EXPECT_EQ(Status(), "find SPI FLASH");
  auto* chip = qobject_cast<QComboBox*>(window_->Control(1016));
  ASSERT_NE(chip, nullptr);
  EXPECT_EQ(chip->currentText().toStdString(), "EN25F32");
  EXPECT_EQ(qobject_cast<QLabel*>(window_->Control(1017))->text().toStdString(), "32Mbits/4Mbytes");
  // The status line went to the log pane with its time stamp.
  EXPECT_TRUE(window_->LogPane()->toPlainText().contains("find SPI FLASH"));
  EXPECT_FALSE(window_->StatusLine()->text().isEmpty());
  EXPECT_EQ(window_->windowTitle().toStdString(), kWindowTitle);
}

TEST_F(WindowTest, LayoutHasEveryControlAndMenuItemOfTheTables) {
  Open();
  for (const LayoutItem& item : MainWindowLayout()) {
    if (item.id == 0) continue;
    QWidget* w = window_->Control(item.id);
    ASSERT_NE(w, nullptr) << item.id;
    EXPECT_EQ(w->isHidden(), item.hidden) << item.id;
  }
  for (const MenuEntry& e : MainMenu()) {
    if (e.id == 0) continue;
    QAction* a = window_->MenuAction(e.id);
    ASSERT_NE(a, nullptr) << e.id;
    EXPECT_EQ(a->text().toStdString(), std::string(e.text));
  }
  // Grayed until an image is loaded.
  EXPECT_FALSE(window_->MenuAction(c::kSave)->isEnabled());
  EXPECT_FALSE(window_->MenuAction(c::kSaveAs)->isEnabled());
  EXPECT_TRUE(window_->MenuAction(32809)->isChecked());
  // The grid's fixed pixel cells fit inside its place in the layout, unclipped.
  EXPECT_LE(window_->Grid()->sizeHint().width(), window_->Grid()->width() + 0);
  EXPECT_LE(window_->Grid()->sizeHint().height(), window_->Grid()->height());
}

TEST_F(WindowTest, EraseTurnsIntoStopAndASecondPressStopsIt) {
  Open(sim::Timing::kRealistic);
  ImageButton* erase = window_->Button(c::kErase);
  QTest::mouseClick(erase, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return erase->text() == "Stop erase(F4)"; }));
  EXPECT_TRUE(BoxShown(kEraseConfirmText));
  EXPECT_EQ(erase->toolTip().toStdString(), "F4:stop erase chip");
  EXPECT_TRUE(erase->isEnabled());
  EXPECT_FALSE(window_->Button(c::kWrite)->isEnabled());
  QTest::mouseClick(erase, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return erase->text() == "Erase(F4)"; }, 10000));
  EXPECT_TRUE(WaitIdle());
  EXPECT_TRUE(window_->Button(c::kWrite)->isEnabled());
  EXPECT_EQ(erase->toolTip().toStdString(), "F4:erase chip");
}

TEST_F(WindowTest, DuringAWriteOnlyF6AndF2Act) {
  Open(sim::Timing::kRealistic);
  OpenFile(MakeImage("image.bin", 2 * 1024 * 1024));
  QTest::mouseClick(window_->Button(c::kWrite), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return program_->State().busy_writing.load() != 0; }));
  const std::size_t boxes_before = boxes_.size();
  QWidget* target = window_->Grid();
  for (Qt::Key key : {Qt::Key_F4, Qt::Key_F7, Qt::Key_F8, Qt::Key_F3, Qt::Key_F5, Qt::Key_F9})
    PressKey(target, key);
  PressKey(target, Qt::Key_O, Qt::ControlModifier);
  QTest::qWait(50);
  EXPECT_EQ(program_->State().command_code.load(), worker_command::kWrite);
  EXPECT_EQ(Caption(c::kErase), "Erase(F4)");
  EXPECT_EQ(boxes_.size(), boxes_before);  // no question, no file dialog
  // F2 still toggles bulk mode, on and off again.
  PressKey(target, Qt::Key_F2);
  EXPECT_EQ(window_->Button(c::kBulkMode)->text().toStdString(), "Stop bulk 0 (F2)");
  PressKey(target, Qt::Key_F2);
  EXPECT_EQ(window_->Button(c::kBulkMode)->text().toStdString(), "Bulk Mode(F2)");
  // F6 stops the write.
  EXPECT_EQ(Caption(c::kWrite), "Stop Write(F6)");
  PressKey(target, Qt::Key_F6);
  ASSERT_TRUE(WaitFor([&] { return Caption(c::kWrite) == "Write(F6)"; }, 10000));
  EXPECT_TRUE(WaitIdle());
  EXPECT_FALSE(window_->ProgressBar()->isVisible());
}

TEST_F(WindowTest, EscapeNeverClosesAndEnterPressesNoButton) {
  Open();
  window_->Button(c::kErase)->setFocus();
  PressKey(window_->Button(c::kErase), Qt::Key_Escape);
  PressKey(window_->Button(c::kErase), Qt::Key_Return);
  PressKey(window_->Control(1016), Qt::Key_Escape);
  QTest::qWait(50);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(WaitIdle());
  EXPECT_FALSE(BoxShown(kEraseConfirmText));
  EXPECT_EQ(Caption(c::kErase), "Erase(F4)");
}

// The five settings of the Settings menu, all turned off, survive a restart and take
// effect: silent buttons, bulk mode refused without "Auto Recognize", then (with it back
// on) a bulk run with no step chosen does nothing to the chip and counts it.
TEST_F(WindowTest, FiveSettingsSurviveARestartAndTakeEffect) {
  Open();
  OpenFile(MakeImage("image.bin", 1024));
  const char* const settings[] = {"Remind Sound", "Auto Recognize", " Erase ", " Write", " Verify"};
  for (const char* caption : settings) Choose(caption);
  EXPECT_EQ(ReadFile(dir_.path() / "kest2.dll"), std::string(5, '\0'));
  Reopen();
  for (int id : {32809, 32811, 32820, 32821, 32822})
    EXPECT_FALSE(window_->MenuAction(id)->isChecked()) << id;
  sounds_.clear();
  Click(c::kTest);
  EXPECT_TRUE(WaitIdle());
  EXPECT_TRUE(sounds_.empty());
  Press(Qt::Key_F2);
  EXPECT_EQ(boxes_.back().text, kBulkNeedsAutoRecognize);
  EXPECT_EQ(Caption(c::kBulkMode), "Bulk Mode(F2)");

  Choose("Auto Recognize");
  OpenFile(MakeImage("image.bin", 1024));
  Press(Qt::Key_F2);
  ASSERT_TRUE(WaitFor([&] { return Status() == kBulkWaitingForChip; }));
  EXPECT_EQ(program_->State().bulk_success_count.load(), 1);
  EXPECT_EQ(SocketChip()->FirstNonBlank(4096), std::nullopt);
  Press(Qt::Key_F2);
  EXPECT_TRUE(WaitIdle());
  EXPECT_EQ(Status(), BulkStoppedText(1));
}

TEST_F(WindowTest, WithoutDatabaseTheWindowWarnsAndListsStayEmpty) {
  Open(sim::Timing::kInstant, false);
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_.front().text, "cannot find database file ");
  EXPECT_EQ(boxes_.front().title, "warning");
  for (int id : {1014, 1015, 1016})
    EXPECT_EQ(qobject_cast<QComboBox*>(window_->Control(id))->count(), 0) << id;
  EXPECT_EQ(qobject_cast<QLabel*>(window_->Control(1017))->text().toStdString(), "0");
}

TEST_F(WindowTest, ASecondInstanceIsRefusedWithItsMessage) {
  ScratchFolder runtime;
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
  QtHost host;
  std::vector<ShownBox> shown;
  host.SetBoxPresenter(
      [&](QWidget*, const QString& text, const QString& title, BoxIcon, BoxButtons b) {
        shown.push_back({text.toStdString(), title.toStdString(), b});
        return BoxAnswer::kOk;
      });
  auto first = PassStartUpGuards(host);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(PassStartUpGuards(host), nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "VRNT_Tarvix 高速编程器已经在运行！    ");
  EXPECT_EQ(shown[0].title, "提示");
  first.reset();
  // The sibling program's lock refuses too, and the program starts once it is gone.
  {
    InstanceGuard sibling(InstanceGuard::kSiblingLock);
    EXPECT_EQ(PassStartUpGuards(host), nullptr);
    EXPECT_EQ(shown.back().text, "请关闭VRNT_HalcyrinII Inner！    ");
  }
  EXPECT_NE(PassStartUpGuards(host), nullptr);
  qunsetenv("XDG_RUNTIME_DIR");
}

TEST_F(WindowTest, ACellEditTurnsTheByteRedAndEnablesSave) {
  Open();
  OpenFile(MakeImage("image.bin", 4096));
  EXPECT_TRUE(window_->windowTitle().contains("image.bin"));
  EXPECT_FALSE(window_->MenuAction(c::kSave)->isEnabled());
  auto* edit_mode = qobject_cast<QCheckBox*>(window_->Control(c::kEditModeBox));
  QTest::mouseClick(edit_mode, Qt::LeftButton, {}, QPoint(5, edit_mode->height() / 2));
  ASSERT_TRUE(program_->Hex().EditMode());
  EXPECT_TRUE(edit_mode->isChecked());
  EXPECT_TRUE(window_->MenuAction(c::kEditMode)->isChecked());
  HexGrid* grid = window_->Grid();
  const QRect cell = grid->CellRect(1, 3);
  QTest::mouseClick(grid, Qt::LeftButton, {}, cell.center() - QPoint(4, 0));
  QLineEdit* box = window_->CellEditBox();
  ASSERT_TRUE(box->isVisible());
  EXPECT_EQ(Status(), "input...");
  QTest::keyClicks(box, "a5");
  std::uint8_t byte = 0;
  ASSERT_EQ(program_->Image().ReadWorking(2, {&byte, 1}), 1);
  EXPECT_EQ(byte, 0xA5);
  EXPECT_EQ(program_->Hex().CellState(1, 3), kCellChanged);
  EXPECT_EQ(program_->Hex().CellText(1, 3), "A5");
  EXPECT_TRUE(window_->MenuAction(c::kSave)->isEnabled());
  // The box moved on to the next byte.
  EXPECT_EQ(program_->Hex().Box().cell, (GridCell{1, 4}));
  // A typed letter that is no hex digit is refused with the warning.
  QTest::keyClicks(box, "g");
  EXPECT_TRUE(BoxShown("please input hexadecimal data!  "));
}

TEST_F(WindowTest, ADropOfThreeFilesLoadsTheFirst) {
  Open();
  const auto a = MakeImage("first.bin", 100), b = MakeImage("second.bin", 200),
             c3 = MakeImage("third.bin", 300);
  emit window_->Grid()->filesDropped({QString::fromStdString(a.string()),
                                      QString::fromStdString(b.string()),
                                      QString::fromStdString(c3.string())});
  EXPECT_TRUE(program_->Image().Loaded());
  EXPECT_EQ(program_->Image().Size(), 100u);
  EXPECT_TRUE(window_->windowTitle().contains("first.bin"));
  EXPECT_EQ(qobject_cast<QLineEdit*>(window_->Control(1003))->text().toStdString(),
            ShortenPathForBox(a.string()));
}

TEST_F(WindowTest, SimulatorUnplugReachesTheWorkerAsADeviceChange) {
  Open();
  sim_menu_->Unplug();
  ASSERT_TRUE(WaitFor([&] { return host_->Status().red; }));
  EXPECT_TRUE(WaitIdle());
  sim_menu_->Replug();
  ASSERT_TRUE(WaitFor([&] { return Status() == "find SPI FLASH"; }));
  EXPECT_EQ(program_->State().device_change_count.load(), 0);
}

TEST_F(WindowTest, ListsChangeTheCurrentChip) {
  Open();
  auto* type = qobject_cast<QComboBox*>(window_->Control(1014));
  ASSERT_GT(type->count(), 1);
  const int other = type->currentIndex() == 0 ? 1 : 0;
  type->setCurrentIndex(other);
  emit type->activated(other);
  EXPECT_EQ(program_->Selection().TypeIndex(), other);
  auto* chip = qobject_cast<QComboBox*>(window_->Control(1016));
  EXPECT_EQ(chip->currentText().toStdString(), program_->Selection().CurrentModel());
  EXPECT_EQ(qobject_cast<QLabel*>(window_->Control(1017))->text().toStdString(),
            program_->Selection().CapacityLabel());
}

TEST_F(WindowTest, ProgressBarDrawsItsCaptionOverTheStatusLine) {
  Open();
  host_->ShowProgress(true);
  host_->SetProgress(42, "written42%", CaptionAlign::kCentre);
  QApplication::processEvents();
  CaptionProgressBar* bar = window_->ProgressBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->Position(), 42);
  EXPECT_EQ(bar->Caption().toStdString(), "written42%");
  EXPECT_EQ(bar->geometry(), window_->StatusLine()->geometry());
  const QImage picture = bar->grab().toImage();
  // Green up to the position, not beyond it.
  EXPECT_EQ(picture.pixelColor(3, picture.height() - 3), QColor(0, 255, 0));
  EXPECT_NE(picture.pixelColor(picture.width() - 4, picture.height() - 3), QColor(0, 255, 0));
  host_->ShowStatus("device connect error", true, false);
  QApplication::processEvents();
  EXPECT_EQ(window_->StatusLine()->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(window_->StatusLine()->palette().color(QPalette::WindowText), QColor(Qt::white));
}

// Closing the window while each long operation runs: the question is answered OK,
// the operation stops, the worker ends, and nothing is left open.
class CloseDuringOperation : public WindowFixture, public ::testing::WithParamInterface<int> {};

TEST_P(CloseDuringOperation, EndsCleanlyWithinBound) {
  const int button = GetParam();
  Open(sim::Timing::kRealistic);
  OpenFile(MakeImage("image.bin", 2 * 1024 * 1024));
  std::filesystem::create_directories(dir_.path() / "temp");
  Click(button);
  ASSERT_TRUE(WaitFor([&] { return program_->ReportingHost().Commands().AnyBusy(); }));
  const std::size_t boxes_before = boxes_.size();
  QElapsedTimer took;
  took.start();
  window_->close();
  // A block read in flight when the programmer is told to stop may wait out its own
  // time-out; nothing may wait longer than that. The bound stays below the window's own
  // give-up time, which ends the process instead of failing here.
  static_assert(kVerifyReadTimeoutMs + 1000 < MainWindow::kCloseWaitMs);
  EXPECT_LT(took.elapsed(), kVerifyReadTimeoutMs + 1000);
  ASSERT_TRUE(window_->Closed());
  // The one "still exist?" question (a blank check is left without one).
  if (button == c::kBlank) {
    EXPECT_EQ(boxes_.size(), boxes_before);
  } else {
    EXPECT_EQ(boxes_.size(), boxes_before + 1);
    EXPECT_NE(boxes_.back().text.find("still exist?"), std::string::npos);
  }
  EXPECT_TRUE(program_->WorkerEnded());
  EXPECT_FALSE(program_->Link().IsOpen());
  EXPECT_FALSE(program_->Image().Loaded());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "temp"));
}

INSTANTIATE_TEST_SUITE_P(Operations, CloseDuringOperation,
                         ::testing::Values(c::kErase, c::kWrite, c::kRead, c::kVerify, c::kBlank,
                                           c::kAuto));

TEST_F(WindowTest, CloseCancelledLeavesTheOperationRunning) {
  Open(sim::Timing::kRealistic);
  QTest::mouseClick(window_->Button(c::kRead), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return program_->State().busy_reading.load() != 0; }));
  answers_.push_back(BoxAnswer::kCancel);
  window_->close();
  EXPECT_FALSE(window_->Closed());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(boxes_.back().text, "chip is reading,still exist?      ");
  EXPECT_EQ(program_->State().busy_reading.load(), 1);
  QTest::mouseClick(window_->Button(c::kRead), Qt::LeftButton);  // stop it
  EXPECT_TRUE(WaitIdle());
}

TEST(QtHostTest, AQuestionPendingAtCloseIsRefusedNotShown) {
  // The worker's question is queued when the window begins to close: it gets its
  // refusing answer and the worker goes on, with no box left for nobody to answer.
  QtHost host;
  int shown = 0;
  host.SetBoxPresenter([&](QWidget*, const QString&, const QString&, BoxIcon, BoxButtons) {
    ++shown;
    return BoxAnswer::kYes;
  });
  std::atomic<int> answer{-1};
  std::thread worker([&] {
    answer = static_cast<int>(host.MessageBox("verify failed! continue ?", "info",
                                              BoxIcon::kQuestion, BoxButtons::kYesNoCancel));
  });
  host.SetClosing(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return answer.load() >= 0; }, 5000));
  worker.join();
  EXPECT_EQ(answer.load(), static_cast<int>(BoxAnswer::kCancel));
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(RefusingAnswer(BoxButtons::kYesNo), BoxAnswer::kNo);
  EXPECT_EQ(RefusingAnswer(BoxButtons::kOk), BoxAnswer::kOk);
}

TEST(QtHostTest, WorkerQuestionsAndWindowCallsRunOnTheWindowThread) {
  QtHost host;
  QThread* asked_on = nullptr;
  host.SetBoxPresenter([&](QWidget*, const QString&, const QString&, BoxIcon, BoxButtons) {
    asked_on = QThread::currentThread();
    return BoxAnswer::kNo;
  });
  std::atomic<int> answer{-1};
  QThread* called_on = nullptr;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    answer = static_cast<int>(host.MessageBox("q", "info", BoxIcon::kQuestion, BoxButtons::kYesNo));
    host.WindowCall([&] { called_on = QThread::currentThread(); });
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(answer.load(), static_cast<int>(BoxAnswer::kNo));
  EXPECT_EQ(asked_on, QThread::currentThread());
  EXPECT_EQ(called_on, QThread::currentThread());
}

// Whatever goes wrong at start, the program says so in words and ends with 1, never
// with an abort: here the folder it is started in is gone before it starts.
TEST(WindowProgram, AFailureNobodyForesawIsAMessageNotAnAbort) {
  ScratchFolder scratch;
  const auto gone = scratch.path() / "gone";
  const auto err = scratch.path() / "err.txt";
  std::filesystem::create_directories(gone);
  const std::string command = "cd '" + gone.string() + "' && rmdir '" + gone.string() +
                              "' && XDG_RUNTIME_DIR='" + scratch.path().string() +
                              "' QT_QPA_PLATFORM=offscreen '" TARVIX_GUI_BINARY
                              "' --simulate >/dev/null 2>'" +
                              err.string() + "'";
  const int raw = std::system(command.c_str());
  const std::string said = ReadFile(err);
  ASSERT_TRUE(WIFEXITED(raw)) << said;
  EXPECT_EQ(WEXITSTATUS(raw), 1) << said;
  EXPECT_NE(said.find("tarvix: "), std::string::npos) << said;
}

}  // namespace
}  // namespace tarvix::gui::testing
