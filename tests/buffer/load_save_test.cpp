// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_save.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "buffer/buffer_fixture.h"
#include "buffer/path_box.h"

namespace tarvix::testing_buffer {
namespace {

// Sets or clears the immutable attribute, which refuses writes even to root; false
// where the file system does not support it.
bool SetImmutable(const fs::path& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

std::vector<std::string> ChangeLines(const std::string& log) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while ((at = log.find("        [", at)) != std::string::npos) {
    std::size_t end = log.find("\r\n", at);
    lines.push_back(log.substr(at, end - at));
    at = end;
  }
  return lines;
}

class LoadSaveTest : public BufferTest {
 protected:
  HostRecord LastBox() { return host_.RecordsOf(HostRecord::Kind::kMessageBox).back(); }
  bool SaveGrayed() { return host_.Commands().IsMenuGrayed(kCommandSave); }
};

TEST(LoadSaveCap, CapNamesEndInCapWhateverTheCase) {
  EXPECT_TRUE(IsCapFile("/x/bios.CAP"));
  EXPECT_TRUE(IsCapFile("/x/bios.cap"));
  EXPECT_TRUE(IsCapFile("/x/bioscap"));
  EXPECT_TRUE(IsCapFile("/x/b.CaP"));
  EXPECT_FALSE(IsCapFile("/x/bios.bin"));
  EXPECT_FALSE(IsCapFile("ap"));
}

TEST_F(LoadSaveTest, OpenShowsTheFileAndEnablesTheImageCommands) {
  fs::create_directories(base_ / "dir with space");
  auto path = base_ / "dir with space" / "数据 ü.bin";
  WriteFile(path, Counting(100));
  Open(path);
  EXPECT_TRUE(state_.file_loaded.load());
  EXPECT_EQ(host_.LastStatus().text, "open succeed");
  EXPECT_EQ(buffer_->WindowTitle(), "VRNT_Tarvix Ultra Speed Writer V4.0 - 数据 ü.bin  0.10KB");
  EXPECT_EQ(buffer_->PathBoxText(), ShortenPathForBox(path.string()));
  const std::string name = "数据 ü.bin";
  ASSERT_GE(buffer_->PathBoxText().size(), name.size());
  EXPECT_EQ(buffer_->PathBoxText().substr(buffer_->PathBoxText().size() - name.size()), name);
  for (int id :
       {kCommandSaveAs, kCommandFindDatas, kCommandMoveTo, kCommandEditMode, kCommandViewData}) {
    EXPECT_FALSE(host_.Commands().IsMenuGrayed(id)) << id;
  }
  EXPECT_TRUE(host_.Commands().IsMenuGrayed(kCommandFileFill));  // scan mode
  EXPECT_TRUE(SaveGrayed());
  EXPECT_EQ(buffer_->FileSumText(), FormatSum(Sum(Counting(100))));
  EXPECT_EQ(page_->CellText(1, 2), "01");
}

TEST_F(LoadSaveTest, ChipDataLoadsAsUnsavedChipData) {
  WriteFile(state_.paths.chip_data, std::vector<std::uint8_t>(256, 0xFF));
  ASSERT_TRUE(files_->Load(state_.paths.chip_data, false));
  EXPECT_EQ(host_.LastStatus().text, "read succeed! ");
  EXPECT_EQ(buffer_->WindowTitle(),
            "VRNT_Tarvix Ultra Speed Writer V4.0 - W25Q80chip datas 0.25KB");
  EXPECT_EQ(buffer_->PathBoxText(), "unsaved chip datas!");
  EXPECT_FALSE(SaveGrayed());
  EXPECT_TRUE(buffer_->CurrentIsChipData());
}

TEST_F(LoadSaveTest, SystemFilesAreRefusedWhenChosen) {
  WriteFile(state_.paths.chip_data, Counting(16));
  EXPECT_FALSE(files_->Load(state_.paths.chip_data, true));
  EXPECT_EQ(LastBox().text, "system file is forbid!    ");
  EXPECT_EQ(LastBox().title, "warning");
  // The working copy cannot be its own source, chosen or not.
  WriteFile(state_.paths.working_copy, Counting(16));
  EXPECT_FALSE(files_->Load(state_.paths.working_copy, false));
  EXPECT_EQ(host_.BoxTexts().size(), 2u);
  EXPECT_FALSE(buffer_->Loaded());
  EXPECT_EQ(ReadFile(state_.paths.working_copy), Counting(16));
}

TEST_F(LoadSaveTest, CapFilesGoToWriteFromAddressWithBase2048) {
  std::vector<std::pair<fs::path, std::uint32_t>> calls;
  files_->SetCapFileHandler([&](const fs::path& p, std::uint32_t base) {
    calls.emplace_back(p, base);
    return true;
  });
  for (const char* name : {"bios.CAP", "bios.cap", "bioscap"}) {
    auto path = MakeFile(name, Counting(4096));
    EXPECT_TRUE(files_->Load(path, true));
  }
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].first, base_ / "bios.CAP");
  EXPECT_EQ(calls[2].second, 2048u);
  EXPECT_FALSE(buffer_->Loaded());  // the handler loads, not the plain load
}

TEST_F(LoadSaveTest, CapFileWithoutADialogLoadsItsTailFrom2048) {
  auto bytes = Counting(2048 + 256, 9);
  auto path = MakeFile("image.Cap", bytes);
  ASSERT_TRUE(files_->Load(path, true));
  EXPECT_EQ(buffer_->Size(), 256u);
  EXPECT_EQ(ReadFile(state_.paths.working_copy),
            std::vector<std::uint8_t>(bytes.begin() + 2048, bytes.end()));
  EXPECT_EQ(buffer_->CurrentPath(), state_.paths.temp_folder / "tempFile.bin");
  // A header and nothing after it is out of range; the image stays as it was.
  EXPECT_FALSE(files_->Load(MakeFile("short.cap", Counting(2048)), true));
  EXPECT_EQ(LastBox().text, "the address is out of range!   ");
  EXPECT_EQ(buffer_->Size(), 256u);
}

TEST_F(LoadSaveTest, LoadFailuresReportAndKeepThePreviousImage) {
  Open(MakeFile("good.bin", Counting(32)));
  EXPECT_FALSE(files_->Load(base_ / "missing.bin", true));
  EXPECT_EQ(LastBox().text, "file open failed!   ");
  EXPECT_EQ(LastBox().title, "info");
  EXPECT_TRUE(buffer_->Loaded());
  EXPECT_NE(buffer_->WindowTitle().find("good.bin"), std::string::npos);

  // A working copy that cannot be created: user file and chip data differ in words.
  fs::remove(state_.paths.working_copy);
  fs::create_directory(state_.paths.working_copy);
  buffer_->Close();
  EXPECT_FALSE(files_->Load(base_ / "good.bin", true));
  EXPECT_EQ(host_.LastStatus().text, "file open failed! ");
  EXPECT_TRUE(host_.LastStatus().red);
  EXPECT_EQ(LastBox().text, "file open failed! ");
  EXPECT_EQ(LastBox().title, "error");
  WriteFile(state_.paths.chip_data, Counting(8));
  EXPECT_FALSE(files_->Load(state_.paths.chip_data, false));
  EXPECT_EQ(host_.LastStatus().text, "read failed! ");
  EXPECT_EQ(LastBox().text, "read failed!  ");
  EXPECT_FALSE(state_.file_loaded.load());
  EXPECT_EQ(buffer_->WindowTitle(), kWindowTitle);
  EXPECT_EQ(buffer_->PathBoxText(), kPathBoxInitial);
}

TEST_F(LoadSaveTest, DropsLoadTheFirstFileOrWaitForTheOperation) {
  std::vector<fs::path> paths{MakeFile("1.bin", Counting(3)), MakeFile("2.bin", Counting(4)),
                              MakeFile("3.bin", Counting(5))};
  EXPECT_FALSE(files_->Drop(paths, false));
  EXPECT_EQ(LastBox().text, "please drag later   ");
  EXPECT_EQ(LastBox().title, "info");
  EXPECT_FALSE(buffer_->Loaded());
  EXPECT_TRUE(files_->Drop(paths, true));
  EXPECT_EQ(buffer_->CurrentPath(), paths[0]);
  EXPECT_EQ(buffer_->Size(), 3u);
}

TEST_F(LoadSaveTest, SaveRewritesExactlyTheChangedByteAndLogsIt) {
  auto original = Counting(5000);
  auto path = MakeFile("a.bin", original);
  Open(path);
  page_->ToggleModeFromCheckBox();
  page_->Click({1, 1}, false);  // a pending edit box is committed by Save
  ASSERT_EQ(buffer_->WriteByte(4097, 0x00), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(10, 10), ImageBuffer::Status::kOk);  // same value: no change
  ASSERT_TRUE(files_->Save());
  auto expect = original;
  expect[4097] = 0x00;
  EXPECT_EQ(ReadFile(path), expect);
  EXPECT_EQ(ChangeLines(LogText()), (std::vector<std::string>{"        [00001001]: 01 --> 00"}));
  EXPECT_EQ(host_.LastStatus().text, "file saved");
  EXPECT_TRUE(SaveGrayed());
  EXPECT_TRUE(buffer_->ChangedRanges().empty());
  // Everything equals the source again.
  buffer_->SetTopRow(256);
  page_->Refresh();
  EXPECT_EQ(page_->CellState(1, 2), kCellPastChip);
}

TEST_F(LoadSaveTest, BytesPastTheSourceEndAreAppendedAndLoggedAsNull) {
  auto path = MakeFile("a.bin", std::vector<std::uint8_t>(16, 0xFF));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(0x10, 0x00), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(0x11, 0x01), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(0x14, 0x42), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(0x02, 0x00), ImageBuffer::Status::kOk);
  ASSERT_TRUE(files_->Save());
  auto now = ReadFile(path);
  ASSERT_EQ(now.size(), 0x15u);
  EXPECT_EQ(now[0x14], 0x42);
  EXPECT_EQ(now[0x12], 0xFF);
  EXPECT_EQ(ChangeLines(LogText()), (std::vector<std::string>{
                                        "        [00000002]: FF --> 00",
                                        "        [00000010]: null --> 00",
                                        "        [00000011]: null --> 01",
                                        "        [00000012]: null --> FF",
                                        "        [00000013]: null --> FF",
                                        "        [00000014]: null --> 42",
                                    }));
}

TEST_F(LoadSaveTest, EmptyFileLoadsAndGrowsOnSave) {
  auto path = MakeFile("empty.bin", {});
  Open(path);
  EXPECT_EQ(buffer_->ChipSum(), 256u * 255);
  ASSERT_EQ(buffer_->WriteByte(0, 0x5A), ImageBuffer::Status::kOk);
  ASSERT_TRUE(files_->Save());
  EXPECT_EQ(ReadFile(path), (std::vector<std::uint8_t>{0x5A}));
  EXPECT_EQ(ChangeLines(LogText()), (std::vector<std::string>{"        [00000000]: null --> 5A"}));
}

TEST_F(LoadSaveTest, SaveWithoutChangesStillWritesARecord) {
  Open(MakeFile("a.bin", Counting(10)));
  ASSERT_TRUE(files_->Save());
  ASSERT_TRUE(files_->Save());
  const std::string log = LogText();
  EXPECT_TRUE(ChangeLines(log).empty());
  std::size_t begins = 0;
  for (std::size_t at = 0; (at = log.find("BEGIN", at)) != std::string::npos; ++at) ++begins;
  EXPECT_EQ(begins, 2u);
  EXPECT_NE(log.find(" a.bin "), std::string::npos);
}

TEST_F(LoadSaveTest, ReadOnlySourceFailsLoudlyAndLosesNothing) {
  auto path = MakeFile("ro.bin", Counting(64));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(3, 0xEE), ImageBuffer::Status::kOk);
  page_->Refresh();  // the changed byte shows red and enables Save
  ASSERT_FALSE(SaveGrayed());
  if (!SetImmutable(path, true)) GTEST_SKIP() << "no immutable attribute here";
  const bool saved = files_->Save();
  const auto after = ReadFile(path);
  SetImmutable(path, false);
  EXPECT_FALSE(saved);
  EXPECT_EQ(after, Counting(64));
  EXPECT_EQ(host_.LastStatus().text, "file save failed! ");
  EXPECT_TRUE(host_.LastStatus().red);
  EXPECT_EQ(LastBox().title, "error");
  EXPECT_FALSE(SaveGrayed());
  EXPECT_EQ(LogText(), "");  // nothing written, nothing logged
  // The edit is still there and a later Save (once writable) writes it.
  ASSERT_TRUE(files_->Save());
  EXPECT_EQ(ReadFile(path)[3], 0xEE);
}

TEST_F(LoadSaveTest, LogThatCannotBeOpenedStopsSaveBeforeAnyByte) {
  auto path = MakeFile("a.bin", Counting(64));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(3, 0xEE), ImageBuffer::Status::kOk);
  fs::remove(log_->Path());
  fs::create_directory(log_->Path());
  EXPECT_FALSE(files_->Save());
  EXPECT_EQ(ReadFile(path), Counting(64));
  EXPECT_EQ(host_.LastStatus().text, "file save failed! ");
  fs::remove(log_->Path());
  // A log deleted while running is simply created again.
  ASSERT_TRUE(files_->Save());
  EXPECT_EQ(ReadFile(path)[3], 0xEE);
  EXPECT_EQ(ChangeLines(LogText()), (std::vector<std::string>{"        [00000003]: 03 --> EE"}));
}

TEST_F(LoadSaveTest, SourceChangedByAnotherProgramAsksBeforeOverwriting) {
  auto path = MakeFile("a.bin", Counting(64));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(3, 0xEE), ImageBuffer::Status::kOk);
  auto theirs = Counting(64);
  theirs[40] = 0x99;
  WriteFile(path, theirs);
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);

  host_.QueueConfirm(false);
  EXPECT_FALSE(files_->Save());
  EXPECT_EQ(ReadFile(path), theirs);
  EXPECT_EQ(host_.Count(HostRecord::Kind::kConfirm), 1u);

  host_.QueueConfirm(true);
  ASSERT_TRUE(files_->Save());
  // A full comparison: our image wins everywhere, and both bytes are logged.
  EXPECT_EQ(ReadFile(path), ReadFile(state_.paths.working_copy));
  EXPECT_EQ(ChangeLines(LogText()), (std::vector<std::string>{"        [00000003]: 03 --> EE",
                                                              "        [00000028]: 99 --> 28"}));
  // Saved: the next Save does not ask again.
  ASSERT_TRUE(files_->Save());
  EXPECT_EQ(host_.Count(HostRecord::Kind::kConfirm), 2u);
}

TEST_F(LoadSaveTest, VanishedSourceKeepsTheImageForSaveAs) {
  auto path = MakeFile("gone.bin", Counting(64));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(3, 0xEE), ImageBuffer::Status::kOk);
  fs::remove(path);
  host_.QueueConfirm(true);
  EXPECT_FALSE(files_->Save());
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(host_.LastStatus().text, "file save failed! ");
  EXPECT_TRUE(buffer_->Loaded());
  save_choice_ = base_ / "rescued.bin";
  ASSERT_TRUE(files_->SaveAs());
  auto rescued = ReadFile(base_ / "rescued.bin");
  ASSERT_EQ(rescued.size(), 64u);
  EXPECT_EQ(rescued[3], 0xEE);
}

TEST_F(LoadSaveTest, ChipDataSaveWritesTheNewFileAndLoadsIt) {
  auto chip = Counting(512, 3);
  WriteFile(state_.paths.chip_data, chip);
  ASSERT_TRUE(files_->Load(state_.paths.chip_data, false));

  save_choice_ = std::nullopt;  // Cancel
  EXPECT_FALSE(files_->Save());
  save_choice_ = state_.paths.working_copy;
  EXPECT_FALSE(files_->Save());
  EXPECT_EQ(LastBox().text, "system file is forbid!    ");
  EXPECT_TRUE(buffer_->CurrentIsChipData());

  save_choice_ = base_ / "saved chip.bin";
  ASSERT_TRUE(files_->Save());
  EXPECT_EQ(ReadFile(base_ / "saved chip.bin"), chip);
  EXPECT_EQ(buffer_->CurrentPath(), base_ / "saved chip.bin");
  EXPECT_FALSE(buffer_->CurrentIsChipData());
  EXPECT_NE(buffer_->WindowTitle().find("saved chip.bin"), std::string::npos);
  EXPECT_TRUE(SaveGrayed());
  const std::string log = LogText();
  EXPECT_NE(log.find("        [W25Q80 chip data] saved as [saved chip.bin]\r\n"),
            std::string::npos);
  EXPECT_NE(log.find(" W25Q80 " + ToGbk("芯片内数据保存如下：")), std::string::npos);
}

TEST_F(LoadSaveTest, SaveAsCopiesTheImageAndKeepsTheSource) {
  auto path = MakeFile("a.bin", Counting(3000));
  Open(path);
  ASSERT_EQ(buffer_->WriteByte(5, 0xEE), ImageBuffer::Status::kOk);
  save_choice_ = state_.paths.chip_data;
  EXPECT_FALSE(files_->SaveAs());
  EXPECT_EQ(LastBox().text, "system file is forbid!    ");

  save_choice_ = base_ / "copy.bin";
  ASSERT_TRUE(files_->SaveAs());
  EXPECT_EQ(ReadFile(base_ / "copy.bin"), ReadFile(state_.paths.working_copy));
  EXPECT_EQ(ReadFile(path), Counting(3000));
  EXPECT_EQ(buffer_->CurrentPath(), path);
  EXPECT_EQ(LogText(), "");

  // Onto the current file it is a Save, with its record.
  save_choice_ = path;
  ASSERT_TRUE(files_->SaveAs());
  EXPECT_EQ(ReadFile(path)[5], 0xEE);
  EXPECT_EQ(ChangeLines(LogText()).size(), 1u);

  state_.busy_writing = 1;
  save_choice_ = base_ / "during write.bin";
  EXPECT_FALSE(files_->SaveAs());
  EXPECT_FALSE(fs::exists(base_ / "during write.bin"));
}

}  // namespace
}  // namespace tarvix::testing_buffer
