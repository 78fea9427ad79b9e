// SPDX-License-Identifier: GPL-3.0-or-later
// The file tools' dialogs driven as a user drives them, on the simulated programmer:
// Write from specify file addr (a ".cap" file's header too), Files Combine and File
// Division, and what they leave in the image and on disk. The one dialog that waits on
// a modal loop (a ".cap" file's) is answered from a timer.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "gui/file_division_window.h"
#include "gui/files_combine_window.h"
#include "gui/window_fixture.h"
#include "gui/write_from_address_window.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

namespace c = control_id;

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}

using FileToolDialogs = WindowFixture;

TEST_F(FileToolDialogs, WriteFromFileAddressLoadsTheTailAndCapFilesLockTheBox) {
  Open();
  const auto bin = MakeImage("data.bin", 300);
  const auto cap = MakeImage("bios.cap", 2048 + 256);
  Menu(c::kWriteFromFileAddress);
  WriteFromAddressWindow* dialog = D().WriteFromAddress();
  EXPECT_EQ(dialog->AddressBox()->text().toStdString(), "0");
  EXPECT_TRUE(dialog->FileBox()->text().isEmpty());
  EXPECT_EQ(Text(dialog->StateText()), "State");

  // "..." with a ".cap" file replaces a typed 100 with 2048 and locks the box; a ".bin"
  // afterwards unlocks it and keeps 2048.
  QString chosen = QString::fromStdString(cap.string());
  int asked = 0;
  D().Choosers().open_file = [&](QWidget*, const QString&) {
    ++asked;
    return chosen;
  };
  // A box that holds no number is refused before the open dialog, not after the pick.
  dialog->AddressBox()->setText("1x");
  QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "Please enter an unsigned integer.");
  EXPECT_EQ(asked, 0);
  dialog->AddressBox()->setText("100");
  QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog->AddressBox()->text().toStdString(), "2048");
  EXPECT_TRUE(dialog->AddressBox()->isReadOnly());
  chosen = QString::fromStdString(bin.string());
  QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog->AddressBox()->text().toStdString(), "2048");
  EXPECT_FALSE(dialog->AddressBox()->isReadOnly());
  // Cancelled: what the boxes hold stays.
  chosen.clear();
  dialog->FileBox()->setText("typed.bin");
  QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(dialog->FileBox()->text().toStdString(), "typed.bin");
  dialog->FileBox()->setText(QString::fromStdString(bin.string()));

  // Past the end: refused, the dialog stays.
  QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "the address is out of range!   ");
  EXPECT_TRUE(dialog->isVisible());
  dialog->AddressBox()->setText("299");
  QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
  Settle();
  EXPECT_EQ(D().WriteFromAddress(), nullptr);
  ASSERT_TRUE(program_->Image().Loaded());
  EXPECT_EQ(program_->Image().Size(), 1u);

  // Opening a ".cap" file brings the dialog with 2048 locked; OK loads its image.
  bool checked = false;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    WriteFromAddressWindow* cap_dialog = D().WriteFromAddress();
    if (cap_dialog == nullptr || checked) return;
    EXPECT_EQ(cap_dialog->AddressBox()->text().toStdString(), "2048");
    EXPECT_TRUE(cap_dialog->AddressBox()->isReadOnly());
    EXPECT_EQ(cap_dialog->FileBox()->text().toStdString(), cap.string());
    checked = true;
    QTest::mouseClick(cap_dialog->OkButton(), Qt::LeftButton);
  });
  answer.start();
  chosen = QString::fromStdString(cap.string());  // the open dialog's answer
  Press(Qt::Key_O, Qt::ControlModifier);
  answer.stop();
  EXPECT_TRUE(checked);
  EXPECT_EQ(program_->Image().Size(), 256u);
  std::uint8_t first = 0;
  ASSERT_EQ(program_->Image().ReadWorking(0, {&first, 1}), 1);
  EXPECT_EQ(first, PatternByte(2048));
}

TEST_F(FileToolDialogs, CombineJoinsTheListedFilesInOrder) {
  Open();
  const auto a = MakeImage("a.bin", 100), b = MakeImage("b.rom", 50), c3 = MakeImage("c.bin", 7);
  const auto out_folder = dir_.path() / "out";
  std::filesystem::create_directories(out_folder);
  QStringList picked;
  D().Choosers().open_files = [&](QWidget*, const QString& filter) {
    EXPECT_TRUE(filter.contains("*.bin *.rom"));
    return picked;
  };
  D().Choosers().folder = [&](QWidget*, const QString&) {
    return QString::fromStdString(out_folder.string());
  };
  Menu(menu_id::kFilesCombine);
  FilesCombineWindow* combine = D().FilesCombine();
  EXPECT_EQ(combine->FileNameBox()->text().toStdString(), "combine.bin");
  EXPECT_TRUE(combine->SavePathBox()->isReadOnly());
  QTest::mouseClick(combine->SavePathButton(), Qt::LeftButton);
  EXPECT_EQ(combine->SavePathBox()->text().toStdString(), out_folder.string());
  picked = {QString::fromStdString(b.string()), QString::fromStdString(a.string())};
  QTest::mouseClick(combine->AddFilesButton(), Qt::LeftButton);
  picked = {QString::fromStdString(c3.string()), QString::fromStdString(a.string())};
  QTest::mouseClick(combine->AddFilesButton(), Qt::LeftButton);
  ASSERT_EQ(combine->FileList()->count(), 4);
  EXPECT_EQ(combine->FileList()->item(0)->text().toStdString(), b.string());
  // Several entries go with one Del.
  combine->FileList()->item(0)->setSelected(true);
  combine->FileList()->item(3)->setSelected(true);
  QTest::mouseClick(combine->DeleteButton(), Qt::LeftButton);
  ASSERT_EQ(combine->FileList()->count(), 2);

  combine->FileNameBox()->setText("out");
  QTest::mouseClick(combine->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "files combine succeed  ");
  EXPECT_EQ(boxes_.back().title, "succeed");
  EXPECT_EQ(ReadFile(out_folder / "out.bin"), ReadFile(a) + ReadFile(c3));
  EXPECT_TRUE(combine->isVisible());  // it stays open
  combine->FileNameBox()->setText("out.rom");
  QTest::mouseClick(combine->OkButton(), Qt::LeftButton);
  EXPECT_EQ(ReadFile(out_folder / "out.rom"), ReadFile(a) + ReadFile(c3));
  combine->FileNameBox()->clear();
  QTest::mouseClick(combine->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "please input file name   ");
}

TEST_F(FileToolDialogs, DivisionCutsAtTheNodesAndShowsTheAsciiComma) {
  Open();
  const auto source = MakeImage("a.bin", 4096);
  D().Choosers().open_file = [&](QWidget*, const QString&) {
    return QString::fromStdString(source.string());
  };
  Menu(menu_id::kFileDivision);
  FileDivisionWindow* division = D().FileDivision();
  EXPECT_TRUE(division->FileBox()->isReadOnly());
  const std::size_t boxes_before = boxes_.size();
  QTest::mouseClick(division->OkButton(), Qt::LeftButton);  // no file: nothing happens
  EXPECT_EQ(boxes_.size(), boxes_before);
  QTest::mouseClick(division->BrowseButton(), Qt::LeftButton);
  EXPECT_EQ(division->FileBox()->text().toStdString(), source.string());
  QTest::mouseClick(division->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "please input division nodes   ");

  // The box shows the cleaned nodes before the division runs and reports.
  std::string nodes_under_box;
  host_->SetBoxPresenter(
      [&](QWidget*, const QString& text, const QString& title, BoxIcon, BoxButtons buttons) {
        boxes_.push_back({text.toStdString(), title.toStdString(), buttons});
        nodes_under_box = division->NodesBox()->text().toStdString();
        return BoxAnswer::kOk;
      });
  division->NodesBox()->setText(QString::fromUtf8("1024，2048"));
  QTest::mouseClick(division->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "file divide succeed!  ");
  EXPECT_EQ(nodes_under_box, "1024,2048");
  const std::string whole = ReadFile(source);
  EXPECT_EQ(ReadFile(dir_.path() / "a_0-1023.bin"), whole.substr(0, 1024));
  EXPECT_EQ(ReadFile(dir_.path() / "a_1024-2047.bin"), whole.substr(1024, 1024));
  EXPECT_EQ(ReadFile(dir_.path() / "a_2048-4095.bin"), whole.substr(2048));

  division->NodesBox()->setText(",1024");
  QTest::mouseClick(division->OkButton(), Qt::LeftButton);
  EXPECT_EQ(boxes_.back().text, "input division nodes error  ");
}

}  // namespace
}  // namespace tarvix::gui::testing
