// SPDX-License-Identifier: GPL-3.0-or-later
// Scenario tests of the verify: the compare against the image (0xFF past its end),
// the mismatch box and its three answers, the counts and texts, and the failures.
#include "operations/verify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "controls_check.h"
#include "operation_fixture.h"
#include "state/command_state.h"

namespace tarvix::testing {
namespace {

using Kind = UsbTransfer::Kind;

class VerifyTest : public ::testing::Test {
 protected:
  explicit VerifyTest(std::string_view model = "W25X05") : f(model) {
    f.Select(model);
    f.SetAutoRecognize(false);
    f.state.command_code = 8;
    capacity_ = f.state.chip_capacity.load();
  }

  // Loads a patterned image of `size` bytes and makes the chip hold the same, 0xFF
  // past the image.
  void LoadMatching(std::uint64_t size) {
    ASSERT_TRUE(f.LoadImageOfSize(size));
    image_ = f.ImageBytes(0, static_cast<std::size_t>(size));
    std::vector<std::uint8_t> chip(
        image_.begin(),
        image_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, capacity_)));
    chip.resize(capacity_, 0xFF);
    f.FillChip(0, chip);
    f.host.ClearRecords();
    f.traffic.Clear();
  }
  void Spoil(std::uint64_t address) {
    const std::uint8_t b = f.ChipMemory(address, 1)[0];
    f.FillChip(address, {static_cast<std::uint8_t>(~b)});
  }
  [[nodiscard]] std::uint8_t ImageByte(std::uint64_t address) const {
    return address < image_.size() ? image_[address] : 0xFF;
  }

  [[nodiscard]] std::vector<UsbTransfer> DataReads() const {
    std::vector<UsbTransfer> out;
    bool after_code8 = false;
    for (const UsbTransfer& t : f.traffic.Transfers()) {
      if (t.kind == Kind::kInterruptWrite) after_code8 = (t.data[1] & 0x3F) == 8;
      if (after_code8 && t.kind == Kind::kBulkRead) out.push_back(t);
    }
    return out;
  }
  // Code and time-out of every command from code 8 on.
  [[nodiscard]] std::vector<std::pair<int, int>> CommandsFromVerify() const {
    std::vector<std::pair<int, int>> out;
    bool seen = false;
    for (const SentCommand& c : f.traffic.Commands()) {
      seen = seen || c.code == 8;
      if (seen) out.emplace_back(c.code, c.timeout_ms);
    }
    return out;
  }
  [[nodiscard]] std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const HostRecord& r : f.host.RecordsOf(HostRecord::Kind::kProgress)) out.push_back(r.text);
    return out;
  }

  void ExpectControlsRestored() {
    ExpectStreamControlsRestored(f.host.Commands(), control_id::kVerify, "Verify(F8)");
    EXPECT_EQ(f.state.busy_verifying.load(), 0);
    EXPECT_FALSE(f.host.Progress().visible);
  }
  void ExpectImageUntouched() { EXPECT_EQ(f.ImageBytes(0, image_.size() + 16), image_); }
  void ExpectStatus(const std::string& text, bool red, bool beep) {
    const HostRecord last = f.host.LastStatus();
    EXPECT_EQ(last.text, text);
    EXPECT_EQ(last.red, red);
    EXPECT_EQ(last.beep, beep);
  }

  OperationFixture f;
  std::uint64_t capacity_ = 0;
  std::vector<std::uint8_t> image_;
};

class SmallVerifyTest : public VerifyTest {
 protected:
  SmallVerifyTest() : VerifyTest("AT24C02") {}
};

TEST_F(VerifyTest, MatchingChipVerifies) {
  LoadMatching(capacity_);
  ASSERT_TRUE(VerifyChip(f.ctx, true));

  const auto code8 = f.traffic.Commands().front();
  EXPECT_EQ(code8.code, 8);
  EXPECT_EQ(code8.timeout_ms, 5000);
  EXPECT_EQ(ReadBigEndian32(code8.bytes.data() + kPayloadOffset), capacity_);
  EXPECT_EQ(CommandsFromVerify(), (std::vector<std::pair<int, int>>{{8, 5000}, {9, 2000}}));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 8u);
  for (const UsbTransfer& r : reads) {
    EXPECT_EQ(r.size, 8192);
    EXPECT_EQ(r.timeout_ms, 5000);
  }
  EXPECT_EQ(f.host.StatusTexts(),
            (std::vector<std::string>{"Verify begin...", "verify succeed! 0:0"}));
  ExpectStatus("verify succeed! 0:0", false, false);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"verified0%", "verified12%", "verified25%",
                                                  "verified37%", "verified50%", "verified62%",
                                                  "verified75%", "verified87%", "verified100%"}));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kSound), 1u);
  EXPECT_TRUE(f.host.BoxTexts().empty());
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(VerifyTest, ControlsAreGrayedWhileVerifying) {
  LoadMatching(capacity_);
  bool checked = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change != HostModel::Change::kProgress || checked) return;
    checked = true;
    const CommandState& c = f.host.Commands();
    for (const int id :
         {control_id::kRead, control_id::kAuto, control_id::kTest, control_id::kWrite,
          control_id::kErase, control_id::kBrowse, control_id::kBlank})
      EXPECT_FALSE(c.IsEnabled(id)) << id;
    for (const int id : {control_id::kSaveAs, control_id::kFindData, control_id::kFileFill,
                         control_id::kMoveTo, control_id::kChipFill, control_id::kViewData,
                         control_id::kFirmwareVersion, control_id::kFirmwareUpgrade})
      EXPECT_TRUE(c.IsMenuGrayed(id)) << id;
    EXPECT_EQ(c.Caption(control_id::kVerify), "Stop verify(F8)");
    EXPECT_EQ(f.state.busy_verifying.load(), 1);
  });
  ASSERT_TRUE(VerifyChip(f.ctx, true));
  EXPECT_TRUE(checked);
}

TEST_F(VerifyTest, ShorterImageIsComparedWithBlankBytes) {
  LoadMatching(10000);
  EXPECT_TRUE(VerifyChip(f.ctx, true));  // a blank chip past the image is no error

  f.FillChip(20000, {0x00});
  f.host.QueueAnswer(BoxAnswer::kYes);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ASSERT_EQ(f.host.BoxTexts().size(), 1u);
  EXPECT_EQ(f.host.BoxTexts()[0], VerifyMismatchText(20000, 0xFF, 0x00));
  ExpectStatus("verify finished.1 error(s)! 0:0", true, true);
}

class MismatchTest : public VerifyTest {
 protected:
  void SetUp() override {
    LoadMatching(capacity_);
    for (const std::uint64_t a : kBad) Spoil(a);
  }
  static constexpr std::uint64_t kBad[] = {0x10, 0x2005, 0x9000};
};

TEST_F(MismatchTest, YesGoesOnAndAsksAgain) {
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  const auto boxes = f.host.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(boxes[i].text, VerifyMismatchText(kBad[i], ImageByte(kBad[i]),
                                                static_cast<std::uint8_t>(~ImageByte(kBad[i]))));
    EXPECT_EQ(boxes[i].title, "error ");
    EXPECT_EQ(boxes[i].buttons, BoxButtons::kYesNoCancel);
    EXPECT_EQ(boxes[i].icon, BoxIcon::kWarning);
  }
  ExpectStatus("verify finished.3 error(s)! 0:0", true, true);
  EXPECT_EQ(DataReads().size(), 8u);
  ExpectControlsRestored();
}

TEST_F(MismatchTest, NoStopsAskingButKeepsCounting) {
  f.host.QueueAnswer(BoxAnswer::kNo);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  EXPECT_EQ(f.host.BoxTexts().size(), 1u);
  ExpectStatus("verify finished.3 error(s)! 0:0", true, true);
}

TEST_F(MismatchTest, CancelEndsAtOnceWithTheErrorsSoFar) {
  f.host.QueueAnswer(BoxAnswer::kYes);
  f.host.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  EXPECT_EQ(f.host.BoxTexts().size(), 2u);
  EXPECT_EQ(DataReads().size(), 2u);  // nothing is read after the cancelled block
  EXPECT_EQ(CommandsFromVerify(),
            (std::vector<std::pair<int, int>>{{8, 5000}, {9, 1000}, {9, 2000}}));
  ExpectStatus("verify finished.2 error(s)! 0:0", true, true);
  ExpectControlsRestored();
}

TEST(VerifyText, MismatchBoxAndResultTexts) {
  EXPECT_EQ(VerifyMismatchText(0x1A2B, 0x0A, 0xFF),
            "1A2BH error! \r\nfile data:0AH chip data:FFH     "
            "\r\nno remind \"NO\",stop verify \"Cancel\"   ");
  EXPECT_EQ(VerifyMismatchText(0, 0x00, 0x5),
            "0H error! \r\nfile data:00H chip data:05H     "
            "\r\nno remind \"NO\",stop verify \"Cancel\"   ");
  EXPECT_EQ(VerifyMismatchText(0xFFFFFF, 0xAB, 0xCD).substr(0, 13), "FFFFFFH error");
  EXPECT_EQ(VerifyErrorsText(4, false, 65), "verify finished.4 error(s)! 1:5");
  EXPECT_EQ(VerifyErrorsText(1, true, 0),
            "verify finished.1 error(s)!overflow part not verified 0:0");
  EXPECT_EQ(VerifySucceedText(600), "verify succeed! 10:0");
}

TEST_F(SmallVerifyTest, ChipBelowOneBlockIsVerifiedInTheFinalPart) {
  LoadMatching(capacity_);
  ASSERT_TRUE(VerifyChip(f.ctx, true));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].size, 256);
  // Progress per byte, only when the whole percentage rises.
  const auto captions = Captions();
  ASSERT_EQ(captions.size(), 101u);
  EXPECT_EQ(captions[1], "verified1%");
  EXPECT_EQ(captions.back(), "verified100%");
}

TEST_F(SmallVerifyTest, CancelInTheFinalPartLeavesCodeNineToTheEnd) {
  LoadMatching(capacity_);
  Spoil(5);
  Spoil(6);
  f.host.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  EXPECT_EQ(CommandsFromVerify(), (std::vector<std::pair<int, int>>{{8, 5000}, {9, 2000}}));
  ExpectStatus("verify finished.1 error(s)! 0:0", true, true);
}

TEST_F(SmallVerifyTest, FinalPartBoxShowsTheFileByteThenTheChipByte) {
  LoadMatching(capacity_);
  const std::uint8_t file_byte = ImageByte(0x42);
  f.FillChip(0x42, {static_cast<std::uint8_t>(file_byte ^ 0x5A)});
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  char expected[64];
  std::snprintf(expected, sizeof expected, "42H error! \r\nfile data:%02XH chip data:%02XH",
                file_byte, file_byte ^ 0x5A);
  const auto boxes = f.host.BoxTexts();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].substr(0, std::strlen(expected)), expected);
}

TEST_F(VerifyTest, BlocksThenTheRest) {
  f.state.chip_capacity = 10000;  // one block and 1808 bytes
  capacity_ = 10000;
  LoadMatching(10000);
  Spoil(9000);
  f.host.QueueAnswer(BoxAnswer::kYes);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].size, 8192);
  EXPECT_EQ(reads[1].size, 1808);
  EXPECT_EQ(f.host.BoxTexts().at(0).substr(0, 13), "2328H error! ");
  const auto captions = Captions();
  // The block shows 81%; the final part counts its own rises from 0, so 81% again.
  EXPECT_EQ(captions[1], "verified81%");
  EXPECT_EQ(captions[2], "verified81%");
  EXPECT_EQ(captions[3], "verified82%");
  EXPECT_EQ(captions.back(), "verified100%");
  ExpectStatus("verify finished.1 error(s)! 0:0", true, true);
}

TEST_F(VerifyTest, LongerImageOnlyTheChipIsVerified) {
  LoadMatching(capacity_ + 5000);
  EXPECT_TRUE(VerifyChip(f.ctx, true));
  EXPECT_EQ(f.host.StatusTexts().back(), "verify succeed! overflow part not verified!");
  EXPECT_TRUE(f.host.LastStatus().red);
  const auto boxes = f.host.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "verify succeed!     \r\n   overflow part not verified!");
  EXPECT_EQ(boxes[0].title, "提示");

  Spoil(100);
  f.host.ClearRecords();
  f.host.QueueAnswer(BoxAnswer::kNo);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("verify finished.1 error(s)!overflow part not verified 0:0", true, true);
}

TEST_F(VerifyTest, StopReportsWhatWasComparedSoFar) {
  LoadMatching(capacity_);
  Spoil(0x9000);  // past the stop
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && f.host.Progress().position >= 25)
      f.state.stop_verify = 1;
  });
  // Half a chip compared is not a verified chip.
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  EXPECT_EQ(DataReads().size(), 2u);
  ExpectStatus("verify stopped.16384 bytes compared,0 error(s)! 0:0", true, false);
  for (const std::string& text : f.host.StatusTexts())
    EXPECT_EQ(text.find("succeed"), std::string::npos) << text;
  EXPECT_TRUE(f.host.BoxTexts().empty());
  ExpectControlsRestored();
}

TEST_F(VerifyTest, StopAfterAMismatchCountsIt) {
  LoadMatching(capacity_);
  Spoil(0x10);
  f.host.QueueAnswer(BoxAnswer::kNo);
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && f.host.Progress().position > 0)
      f.state.stop_verify = 1;
  });
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("verify stopped.8192 bytes compared,1 error(s)! 0:0", true, false);
}

TEST_F(VerifyTest, AStopThatComesAfterTheLastBlockChangesNothing) {
  LoadMatching(capacity_);
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && f.host.Progress().position == 100)
      f.state.stop_verify = 1;
  });
  EXPECT_TRUE(VerifyChip(f.ctx, true));
  ExpectStatus("verify succeed! 0:0", false, false);
}

TEST_F(VerifyTest, PartialRepliesAreCompletedBeforeComparing) {
  LoadMatching(capacity_);
  f.programmer.AddLinkFault({sim::Pipe::kBulkIn, sim::LinkFault::Action::kPartial, 1000, 1, -1});
  EXPECT_TRUE(VerifyChip(f.ctx, true));
  EXPECT_TRUE(f.host.BoxTexts().empty());
  ExpectStatus("verify succeed! 0:0", false, false);
}

TEST_F(VerifyTest, ElapsedTimeIsMinutesAndSeconds) {
  LoadMatching(capacity_);
  bool advanced = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && !advanced && f.host.Progress().position > 0) {
      advanced = true;
      f.clock.Advance(600'000);
    }
  });
  EXPECT_TRUE(VerifyChip(f.ctx, true));
  ExpectStatus("verify succeed! 10:0", false, false);
}

TEST_F(VerifyTest, InsideAutoNoFinishSound) {
  LoadMatching(capacity_);
  f.state.command_code = 14;
  ASSERT_TRUE(f.link.OpenSequence());  // an earlier Auto step opened it
  EXPECT_TRUE(VerifyChip(f.ctx, false));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kSound), 0u);
}

TEST_F(VerifyTest, RefusalsTouchNothing) {
  LoadMatching(capacity_);
  f.state.busy_verifying = 1;
  EXPECT_FALSE(VerifyChip(f.ctx, false));
  EXPECT_TRUE(f.traffic.Transfers().empty());
  EXPECT_TRUE(f.host.StatusTexts().empty());
  f.state.busy_verifying = 0;

  f.state.dfu_mode = 1;
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("device is in dfu mode", true, true);
  EXPECT_TRUE(f.traffic.Transfers().empty());
  f.state.dfu_mode = 0;

  f.image.Close();
  f.host.ClearRecords();
  EXPECT_FALSE(VerifyChip(f.ctx, false));
  ExpectStatus("file is not opened", true, false);
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"file is not opened!"}));
  EXPECT_TRUE(f.traffic.Transfers().empty());
}

TEST_F(VerifyTest, ProgrammerAbsentAtTheStart) {
  LoadMatching(capacity_);
  f.bus.Unplug();
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"device is unconnected!"}));
  EXPECT_EQ(f.traffic.CountCommand(8), 0u);
  ExpectImageUntouched();
}

TEST_F(VerifyTest, CodeNotSentEndsWithCodeNine) {
  LoadMatching(capacity_);
  f.programmer.AddLinkFault({sim::Pipe::kInterruptOut, sim::LinkFault::Action::kFail, 0, 0, 1});
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("device connect error", true, true);
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_FALSE(commands[0].sent);
  EXPECT_EQ(commands[1].code, 9);
  EXPECT_EQ(commands[1].timeout_ms, 1000);
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kDisableCommand), 0u);
}

TEST_F(VerifyTest, UnpluggedInTheMiddle) {
  LoadMatching(capacity_);
  f.programmer.FailLinkAfterBytes(20 + 3 * 8192 + 10);
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("device connect error", true, true);  // no result text after it
  EXPECT_EQ(CommandsFromVerify().back(), (std::pair<int, int>{9, 2000}));
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(VerifyTest, WorkingCopyShortOnDiskIsReportedNotCompared) {
  LoadMatching(capacity_);
  std::filesystem::resize_file(f.state.paths.working_copy, 10);  // cut behind the buffer's back
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  ExpectStatus("file read failed!", true, true);
  EXPECT_TRUE(f.host.BoxTexts().empty());
  ExpectControlsRestored();
}

TEST_F(VerifyTest, TimeOutIsALinkError) {
  LoadMatching(capacity_);
  f.programmer.AddLinkFault({sim::Pipe::kBulkIn, sim::LinkFault::Action::kTimeOut, 0, 1, 1});
  const std::int64_t start = f.clock.NowMs();
  EXPECT_FALSE(VerifyChip(f.ctx, true));
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_LT(reads[0].result, 0);
  EXPECT_GE(f.clock.NowMs() - start, 5000);
  ExpectStatus("device connect error", true, true);
  ExpectControlsRestored();
}

}  // namespace
}  // namespace tarvix::testing
