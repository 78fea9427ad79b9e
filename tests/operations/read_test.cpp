// SPDX-License-Identifier: GPL-3.0-or-later
// Scenario tests of the chip read: the chip data file, its loading as the image, the
// stop and abandon paths, and every failure leaving the previous image in place.
#include "operations/read.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "operation_fixture.h"
#include "state/command_state.h"

namespace tarvix::testing {
namespace {

using Kind = UsbTransfer::Kind;

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint8_t OtherPattern(std::uint64_t offset) {
  return static_cast<std::uint8_t>(0xA5 ^ (offset * 13 + (offset >> 9)));
}

class ReadTest : public ::testing::Test {
 protected:
  explicit ReadTest(std::string_view model = "W25X05") : f(model) {
    f.Select(model);
    f.SetAutoRecognize(false);
    f.state.command_code = 13;
    capacity_ = f.state.chip_capacity.load();
    FillChip(PatternByte);
  }

  void FillChip(std::uint8_t (*byte_at)(std::uint64_t)) {
    std::vector<std::uint8_t> bytes(capacity_);
    for (std::uint64_t i = 0; i < capacity_; ++i) bytes[i] = byte_at(i);
    f.FillChip(0, bytes);
    chip_ = bytes;
  }

  // A user image loaded before the read, to see that failures leave it alone.
  void LoadUserImage() {
    ASSERT_TRUE(f.LoadImageOfSize(1000));
    user_image_ = f.ImageBytes(0, 1000);
    f.host.ClearRecords();
    f.traffic.Clear();
  }
  void ExpectUserImageKept() {
    EXPECT_TRUE(f.image.Loaded());
    EXPECT_FALSE(f.image.CurrentIsChipData());
    EXPECT_EQ(f.ImageBytes(0, 2000), user_image_);
  }

  [[nodiscard]] std::vector<UsbTransfer> DataReads() const {
    std::vector<UsbTransfer> out;
    bool after_code13 = false;
    for (const UsbTransfer& t : f.traffic.Transfers()) {
      if (t.kind == Kind::kInterruptWrite) after_code13 = (t.data[1] & 0x3F) == 13;
      if (after_code13 && t.kind == Kind::kBulkRead) out.push_back(t);
    }
    return out;
  }

  void ExpectControlsRestored() {
    const CommandState& c = f.host.Commands();
    for (const int id :
         {control_id::kVerify, control_id::kErase, control_id::kAuto, control_id::kTest,
          control_id::kWrite, control_id::kBlank, control_id::kRead})
      EXPECT_TRUE(c.IsEnabled(id)) << id;
    for (const int id : {control_id::kChipFill, control_id::kViewData, control_id::kFirmwareVersion,
                         control_id::kMoveTo, control_id::kFirmwareUpgrade})
      EXPECT_FALSE(c.IsMenuGrayed(id)) << id;
    EXPECT_EQ(c.Caption(control_id::kRead), "Read(F7)");
    EXPECT_EQ(f.state.busy_reading.load(), 0);
  }

  void StopWhenProgressReaches(int percent, std::atomic<std::uint8_t>& flag) {
    f.host.AddListener([this, percent, &flag](HostModel::Change change) {
      // Only the transfer's own progress counts, not the bar left from a run before.
      if (change == HostModel::Change::kProgress && f.state.busy_reading.load() != 0 &&
          f.host.Progress().position >= percent)
        flag = 1;
    });
  }

  // Names of the files in the folder of `path`.
  static std::set<std::string> FilesBeside(const std::filesystem::path& path) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  OperationFixture f;
  std::uint64_t capacity_ = 0;
  std::vector<std::uint8_t> chip_;
  std::vector<std::uint8_t> user_image_;
};

class SmallReadTest : public ReadTest {
 protected:
  SmallReadTest() : ReadTest("AT24C02") {}
};

TEST_F(ReadTest, WholeChipLandsInTheChipDataFileAndIsShown) {
  LoadUserImage();
  ASSERT_TRUE(ReadChip(f.ctx));

  EXPECT_EQ(ReadFile(f.state.paths.chip_data), chip_);
  EXPECT_TRUE(f.image.CurrentIsChipData());
  EXPECT_EQ(f.image.Size(), capacity_);
  EXPECT_EQ(f.ImageBytes(0, static_cast<std::size_t>(capacity_)), chip_);
  EXPECT_EQ(f.image.PathBoxText(), "unsaved chip datas!");

  const auto code13 = f.traffic.Commands();
  ASSERT_FALSE(code13.empty());
  EXPECT_EQ(code13.front().code, 13);
  EXPECT_EQ(code13.front().timeout_ms, 5000);
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 8u);
  for (const UsbTransfer& r : reads) {
    EXPECT_EQ(r.size, 8192);
    EXPECT_EQ(r.timeout_ms, 5000);
  }

  EXPECT_EQ(f.host.StatusTexts(), (std::vector<std::string>{"read succeed! ", "Read succeed.0:0"}));
  EXPECT_FALSE(f.host.LastStatus().red);
  std::vector<std::string> captions;
  for (const HostRecord& r : f.host.RecordsOf(HostRecord::Kind::kProgress))
    captions.push_back(r.text);
  EXPECT_EQ(captions,
            (std::vector<std::string>{"Read0%", "Read12%", "Read25%", "Read37%", "Read50%",
                                      "Read62%", "Read75%", "Read87%", "Read100%"}));
  EXPECT_FALSE(f.host.Progress().visible);
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kSound), 1u);
  ExpectControlsRestored();
}

TEST_F(ReadTest, ControlsAreGrayedWhileReading) {
  bool checked = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change != HostModel::Change::kProgress || checked || f.host.Progress().position == 0)
      return;
    checked = true;
    const CommandState& c = f.host.Commands();
    for (const int id : {control_id::kVerify, control_id::kErase, control_id::kAuto,
                         control_id::kTest, control_id::kWrite, control_id::kBlank})
      EXPECT_FALSE(c.IsEnabled(id)) << id;
    for (const int id : {control_id::kChipFill, control_id::kViewData, control_id::kFirmwareVersion,
                         control_id::kFileFill, control_id::kMoveTo, control_id::kFirmwareUpgrade})
      EXPECT_TRUE(c.IsMenuGrayed(id)) << id;
    EXPECT_EQ(c.Caption(control_id::kRead), "Stop read(F7)");
    EXPECT_EQ(f.state.busy_reading.load(), 1);
  });
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_TRUE(checked);
}

TEST_F(SmallReadTest, ChipBelowOneChunkIsOneRequestOfItsCapacity) {
  ASSERT_TRUE(ReadChip(f.ctx));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].size, 256);
  EXPECT_EQ(f.ImageBytes(0, 300), chip_);
  // A 5 V 24-series part gets the version notice first.
  EXPECT_EQ(f.host.StatusTexts().front(),
            "******only version 2.0 and above device supports this chip******");
}

TEST_F(ReadTest, StopKeepsAndShowsWhatArrived) {
  ASSERT_TRUE(ReadChip(f.ctx));  // a whole chip in the file before
  f.host.ClearRecords();
  StopWhenProgressReaches(50, f.state.stop_read);
  // Half a chip is no success, and is never shown as the chip's data.
  EXPECT_FALSE(ReadChip(f.ctx));
  EXPECT_EQ(std::filesystem::file_size(f.state.paths.chip_data), 32768u);
  EXPECT_EQ(f.image.Size(), 32768u);
  EXPECT_EQ(f.ImageBytes(0, 40000),
            std::vector<std::uint8_t>(chip_.begin(), chip_.begin() + 32768));
  EXPECT_EQ(f.host.LastStatus().text, "Read stopped,32768 of 65536 bytes read,0:0");
  EXPECT_TRUE(f.host.LastStatus().red);
  for (const std::string& text : f.host.StatusTexts())
    EXPECT_EQ(text.find("succeed"), std::string::npos) << text;
  EXPECT_EQ(f.image.PathBoxText(), "partial chip datas! 32768 of 65536 bytes");
  ExpectControlsRestored();
}

TEST_F(ReadTest, AbandonedReadLoadsThePartAsAPart) {
  StopWhenProgressReaches(25, f.state.read_abandoned);
  EXPECT_FALSE(ReadChip(f.ctx));
  EXPECT_EQ(f.image.Size(), 16384u);
  EXPECT_EQ(f.host.LastStatus().text, "Read stopped,16384 of 65536 bytes read,0:0");
}

TEST_F(ReadTest, StartAgainClearsTheStopRequest) {
  f.state.stop_read = 1;
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_EQ(f.image.Size(), capacity_);
}

TEST_F(ReadTest, EditModeIsLeftForScanMode) {
  LoadUserImage();
  f.hex.ToggleModeFromMenu();
  ASSERT_TRUE(f.hex.EditMode());
  f.host.ClearRecords();
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_FALSE(f.hex.EditMode());
  EXPECT_EQ(f.host.StatusTexts().front(), "scan mode selected");
  EXPECT_TRUE(f.host.Commands().IsMenuGrayed(control_id::kFileFill));
}

TEST_F(ReadTest, SecondReadReplacesAnEarlierChipRead) {
  ASSERT_TRUE(ReadChip(f.ctx));
  FillChip(OtherPattern);
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_EQ(f.ImageBytes(0, static_cast<std::size_t>(capacity_)), chip_);
  EXPECT_EQ(ReadFile(f.state.paths.chip_data), chip_);
}

TEST_F(ReadTest, ZeroCapacityLoadsAnEmptyFile) {
  f.state.chip_capacity = 0;
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_TRUE(DataReads().empty());
  EXPECT_TRUE(f.image.Loaded());
  EXPECT_EQ(f.image.Size(), 0u);
  EXPECT_EQ(f.host.LastStatus().text, "Read succeed.0:0");
}

TEST_F(ReadTest, ElapsedTimeIsMinutesAndSeconds) {
  bool advanced = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && !advanced && f.host.Progress().position > 0) {
      advanced = true;
      f.clock.Advance(59'000);
    }
  });
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_EQ(f.host.LastStatus().text, "Read succeed.0:59");
  EXPECT_EQ(ReadSucceedText(65), "Read succeed.1:5");
}

TEST_F(ReadTest, PartialRepliesAreAppendedAsTheyCome) {
  f.programmer.AddLinkFault({sim::Pipe::kBulkIn, sim::LinkFault::Action::kPartial, 1000, 1, -1});
  ASSERT_TRUE(ReadChip(f.ctx));
  EXPECT_EQ(DataReads().size(), 66u);  // 65536 bytes, 1000 at a time
  EXPECT_EQ(f.ImageBytes(0, static_cast<std::size_t>(capacity_)), chip_);
}

TEST_F(ReadTest, ProgrammerAbsentAtTheStart) {
  LoadUserImage();
  f.bus.Unplug();
  EXPECT_FALSE(ReadChip(f.ctx));
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"device is unconnected!"}));
  EXPECT_EQ(f.traffic.CountCommand(13), 0u);
  EXPECT_FALSE(std::filesystem::exists(f.state.paths.chip_data));
  ExpectUserImageKept();
}

TEST_F(ReadTest, CodeNotSentLeavesTheChipDataFileAlone) {
  LoadUserImage();
  std::ofstream(f.state.paths.chip_data) << "earlier read";
  f.programmer.AddLinkFault({sim::Pipe::kInterruptOut, sim::LinkFault::Action::kFail, 0, 0, 1});
  EXPECT_FALSE(ReadChip(f.ctx));
  const HostRecord last = f.host.LastStatus();
  EXPECT_EQ(last.text, "device connect error");
  EXPECT_TRUE(last.red);
  EXPECT_TRUE(last.beep);
  EXPECT_FALSE(f.host.Progress().visible);
  const auto kept = ReadFile(f.state.paths.chip_data);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "earlier read");
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kDisableCommand), 0u);
  ExpectUserImageKept();
}

TEST_F(ReadTest, UnpluggedInTheMiddleShowsNothingOfTheChip) {
  LoadUserImage();
  const auto before = FilesBeside(f.state.paths.chip_data);
  f.programmer.FailLinkAfterBytes(20 + 3 * 8192 + 100);
  EXPECT_FALSE(ReadChip(f.ctx));
  EXPECT_EQ(f.host.LastStatus().text, "device connect error");
  // Half a chip is kept nowhere: no chip data file, nothing else left behind.
  EXPECT_FALSE(std::filesystem::exists(f.state.paths.chip_data));
  EXPECT_EQ(FilesBeside(f.state.paths.chip_data), before);
  EXPECT_FALSE(f.host.Progress().visible);
  ExpectControlsRestored();
  ExpectUserImageKept();
}

// The image on screen came from an earlier chip read, so its source is the chip data
// file itself. A read that fails must leave both as they were: the view compares the
// image with that file, and Save writes the image.
TEST_F(ReadTest, AFailedReadLeavesAnEarlierChipReadAndItsFileIntact) {
  ASSERT_TRUE(ReadChip(f.ctx));
  const std::vector<std::uint8_t> first = chip_;
  FillChip(OtherPattern);
  f.programmer.FailLinkAfterBytes(20 + 3 * 8192 + 100);
  f.host.ClearRecords();
  EXPECT_FALSE(ReadChip(f.ctx));

  EXPECT_EQ(ReadFile(f.state.paths.chip_data), first);
  EXPECT_TRUE(f.image.CurrentIsChipData());
  EXPECT_EQ(f.ImageBytes(0, first.size()), first);
  std::vector<std::uint8_t> source(first.size());
  EXPECT_EQ(f.image.ReadSource(0, source), static_cast<std::int64_t>(first.size()));
  EXPECT_EQ(source, first);
  // Not one byte shows as changed.
  f.hex.Refresh();
  for (int row = 1; row <= 20; ++row)
    for (int column = 1; column <= 16; ++column)
      ASSERT_EQ(f.hex.CellState(row, column), kCellSame) << row << "," << column;

  // Save writes the first chip's bytes.
  const auto saved = f.scratch.path / "saved.bin";
  f.files.SetSavePathChooser([saved] { return std::optional<std::filesystem::path>(saved); });
  ASSERT_TRUE(f.files.Save());
  EXPECT_EQ(ReadFile(saved), first);
}

TEST_F(ReadTest, AStoppedReadAfterAnEarlierOneShowsAndSavesExactlyWhatArrived) {
  ASSERT_TRUE(ReadChip(f.ctx));
  FillChip(OtherPattern);
  StopWhenProgressReaches(25, f.state.stop_read);
  EXPECT_FALSE(ReadChip(f.ctx));
  const std::vector<std::uint8_t> part(chip_.begin(), chip_.begin() + 16384);
  EXPECT_EQ(f.ImageBytes(0, 20000), part);
  EXPECT_EQ(ReadFile(f.state.paths.chip_data), part);
  f.hex.Refresh();
  EXPECT_EQ(f.hex.CellState(1, 1), kCellSame);
  const auto saved = f.scratch.path / "saved.bin";
  f.files.SetSavePathChooser([saved] { return std::optional<std::filesystem::path>(saved); });
  ASSERT_TRUE(f.files.Save());
  EXPECT_EQ(ReadFile(saved), part);
}

TEST_F(ReadTest, TimeOutIsALinkError) {
  LoadUserImage();
  f.programmer.AddLinkFault({sim::Pipe::kBulkIn, sim::LinkFault::Action::kTimeOut, 0, 2, 1});
  const std::int64_t start = f.clock.NowMs();
  EXPECT_FALSE(ReadChip(f.ctx));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_LT(reads[1].result, 0);
  EXPECT_GE(f.clock.NowMs() - start, 5000);
  EXPECT_EQ(f.host.LastStatus().text, "device connect error");
  ExpectControlsRestored();
  ExpectUserImageKept();
}

TEST_F(ReadTest, ChipDataFileThatCannotBeCreatedIsReported) {
  LoadUserImage();
  std::filesystem::create_directories(f.state.paths.chip_data);  // a folder in its place
  EXPECT_FALSE(ReadChip(f.ctx));
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(f.host.LastStatus().text, "read failed! ");
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"read failed!  "}));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kDisableCommand), 0u);
  ExpectUserImageKept();
}

}  // namespace
}  // namespace tarvix::testing
