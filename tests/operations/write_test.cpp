// SPDX-License-Identifier: GPL-3.0-or-later
// Scenario tests of the write: what goes over the wire, what the user sees, and how
// every failure leaves the controls, the busy flags and the image.
#include "operations/write.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "controls_check.h"
#include "operation_fixture.h"
#include "operations/pre_check.h"
#include "state/command_state.h"

namespace tarvix::testing {
namespace {

using Kind = UsbTransfer::Kind;

class WriteTest : public ::testing::Test {
 protected:
  explicit WriteTest(std::string_view model = "AT24C02") : f(model) {
    f.Select(model);
    f.SetAutoRecognize(false);
    f.state.command_code = 1;  // started by the Write button
    f.traffic.KeepBulkData(true);
  }

  void LoadPattern(std::uint64_t size) {
    ASSERT_TRUE(f.LoadImageOfSize(size));
    image_before_ = f.ImageBytes(0, static_cast<std::size_t>(size));
    f.host.ClearRecords();
    f.traffic.Clear();
  }

  // From the first code 1 on: the stream's own traffic.
  [[nodiscard]] std::vector<UsbTransfer> StreamTransfers() const {
    const auto all = f.traffic.Transfers();
    auto it = std::find_if(all.begin(), all.end(), [](const UsbTransfer& t) {
      return t.kind == Kind::kInterruptWrite && t.data.size() > 1 && (t.data[1] & 0x3F) == 1;
    });
    return {it, all.end()};
  }
  [[nodiscard]] std::vector<UsbTransfer> Chunks() const {
    std::vector<UsbTransfer> out;
    for (const UsbTransfer& t : f.traffic.TransfersOf(Kind::kBulkWrite)) out.push_back(t);
    return out;
  }
  // Codes sent from code 1 on.
  [[nodiscard]] std::vector<int> StreamCodes() const {
    std::vector<int> out;
    for (const UsbTransfer& t : StreamTransfers())
      if (t.kind == Kind::kInterruptWrite) out.push_back(t.data[1] & 0x3F);
    return out;
  }
  [[nodiscard]] std::vector<SentCommand> CommandsWith(std::uint8_t code) const {
    std::vector<SentCommand> out;
    for (const SentCommand& c : f.traffic.Commands())
      if (c.code == code) out.push_back(c);
    return out;
  }

  void ExpectControlsRestored() {
    ExpectStreamControlsRestored(f.host.Commands(), control_id::kWrite, "Write(F6)");
    EXPECT_EQ(f.state.busy_writing.load(), 0);
  }
  void ExpectImageUntouched() {
    EXPECT_EQ(f.ImageBytes(0, image_before_.size() + 16), image_before_);
  }
  [[nodiscard]] bool StatusShown(const std::string& text, bool red) const {
    for (const HostRecord& r : f.host.RecordsOf(HostRecord::Kind::kStatus))
      if (r.text == text && r.red == red) return true;
    return false;
  }

  OperationFixture f;
  std::vector<std::uint8_t> image_before_;
};

class SpiWriteTest : public WriteTest {
 protected:
  SpiWriteTest() : WriteTest("W25Q32BV") {}
};

class SmallChipWriteTest : public WriteTest {
 protected:
  SmallChipWriteTest() : WriteTest("AT24C04") {}
};

class SmallSpiWriteTest : public WriteTest {
 protected:
  SmallSpiWriteTest() : WriteTest("W25X05") {}
};

TEST_F(WriteTest, EepromGetsImageThenBlankBytesUpToItsCapacity) {
  LoadPattern(100);
  ASSERT_TRUE(WriteChip(f.ctx, true));

  const auto confirms = f.host.RecordsOf(HostRecord::Kind::kConfirm);
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].text, "datas will be overwritten ! continue ?");

  // The first chunk ends where the image ends; the rest of the chip gets 0xFF.
  const auto chunks = Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].size, 100);
  EXPECT_EQ(chunks[1].size, 156);
  EXPECT_TRUE(std::all_of(chunks[1].data.begin(), chunks[1].data.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
  for (const UsbTransfer& c : chunks) EXPECT_EQ(c.timeout_ms, 60000);
  std::vector<std::uint8_t> expected = image_before_;
  expected.resize(256, 0xFF);
  EXPECT_EQ(f.ChipMemory(0, 256), expected);

  EXPECT_EQ(StreamCodes(), (std::vector<int>{1, 2, 9}));
  const auto begin = CommandsWith(1);
  ASSERT_EQ(begin.size(), 1u);
  EXPECT_EQ(begin[0].timeout_ms, 5000);
  const auto end_of_data = CommandsWith(2);
  ASSERT_EQ(end_of_data.size(), 1u);
  EXPECT_EQ(end_of_data[0].timeout_ms, 1000);
  EXPECT_EQ(ReadBigEndian32(end_of_data[0].bytes.data() + kPayloadOffset), 256u);
  const auto end = CommandsWith(9);
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0].timeout_ms, 1000);
  // Code 9 carries the count of code 2 along: the payload is never cleared.
  EXPECT_EQ(ReadBigEndian32(end[0].bytes.data() + kPayloadOffset), 256u);

  // The end mark was read once, with one-byte reads of 6000 ms.
  const auto reads = f.traffic.TransfersOf(Kind::kBulkRead);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.back().size, 1);
  EXPECT_EQ(reads.back().timeout_ms, 6000);
  ASSERT_EQ(reads.back().data.size(), 1u);
  EXPECT_EQ(reads.back().data[0], 2);

  EXPECT_EQ(
      f.host.StatusTexts(),
      (std::vector<std::string>{"******only version 2.0 and above device supports this chip******",
                                "start write...", "write succeed,256 bytes,0:0"}));
  EXPECT_FALSE(f.host.LastStatus().red);
  const auto sounds = f.host.RecordsOf(HostRecord::Kind::kSound);
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].text, f.state.paths.finish_sound.string());
  EXPECT_TRUE(f.host.BoxTexts().empty());
  EXPECT_FALSE(f.host.Progress().visible);
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(WriteTest, ControlsAreGrayedAndCaptionBusyOnlyWhileStreaming) {
  LoadPattern(100);
  bool checked = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change != HostModel::Change::kProgress || checked) return;
    checked = true;
    const CommandState& c = f.host.Commands();
    for (const int id :
         {control_id::kBrowse, control_id::kRead, control_id::kVerify, control_id::kErase,
          control_id::kAuto, control_id::kTest, control_id::kBlank})
      EXPECT_FALSE(c.IsEnabled(id)) << id;
    for (const int id : {control_id::kSaveAs, control_id::kFindData, control_id::kFileFill,
                         control_id::kMoveTo, control_id::kChipFill, control_id::kViewData,
                         control_id::kFirmwareVersion, control_id::kFirmwareUpgrade})
      EXPECT_TRUE(c.IsMenuGrayed(id)) << id;
    EXPECT_TRUE(c.IsEnabled(control_id::kWrite));
    EXPECT_EQ(c.Caption(control_id::kWrite), "Stop Write(F6)");
    EXPECT_EQ(f.state.busy_writing.load(), 1);
    EXPECT_TRUE(f.host.Progress().visible);
  });
  ASSERT_TRUE(WriteChip(f.ctx, true));
  EXPECT_TRUE(checked);
  ExpectControlsRestored();
  // File Fill comes back only in edit mode.
  EXPECT_TRUE(f.host.Commands().IsMenuGrayed(control_id::kFileFill));
}

TEST_F(SpiWriteTest, SpiFlashGetsExactlyTheImage) {
  LoadPattern(100);
  ASSERT_TRUE(WriteChip(f.ctx, true));
  const auto chunks = Chunks();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].data, image_before_);
  EXPECT_EQ(ReadBigEndian32(CommandsWith(2).at(0).bytes.data() + kPayloadOffset), 100u);
  EXPECT_EQ(f.host.LastStatus().text, "write succeed,100 bytes,0:0");
  EXPECT_EQ(f.ChipMemory(0, 100), image_before_);
  EXPECT_EQ(f.ChipMemory(100, 4), std::vector<std::uint8_t>(4, 0xFF));
}

TEST_F(SpiWriteTest, ProgressRisesInWholePercentsOnly) {
  LoadPattern(3 * 4096 + 10);  // four chunks: 33%, 66%, 99%, 100%
  ASSERT_TRUE(WriteChip(f.ctx, true));
  std::vector<std::string> captions;
  for (const HostRecord& r : f.host.RecordsOf(HostRecord::Kind::kProgress))
    captions.push_back(r.text + "@" + std::to_string(r.value));
  EXPECT_EQ(captions,
            (std::vector<std::string>{"written0%@0", "written33%@33", "written66%@66",
                                      "written99%@99", "written100%@100", "written100%@0"}));
}

TEST_F(SmallChipWriteTest, OverflowAnsweredYesWritesTheCapacityAndSaysSo) {
  LoadPattern(1024);
  f.host.QueueConfirm(true);
  f.host.QueueAnswer(BoxAnswer::kYes);
  ASSERT_TRUE(WriteChip(f.ctx, true));

  const auto boxes = f.host.RecordsOf(HostRecord::Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "file length is out of the chip range!      \r\n       still write?");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(boxes[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(boxes[1].text, "    datas is overflow\r\noverflow part is unwritten.     ");
  EXPECT_EQ(boxes[1].icon, BoxIcon::kWarning);

  std::uint64_t sent = 0;
  for (const UsbTransfer& c : Chunks()) sent += static_cast<std::uint64_t>(c.result);
  EXPECT_EQ(sent, 512u);
  EXPECT_EQ(ReadBigEndian32(CommandsWith(2).at(0).bytes.data() + kPayloadOffset), 512u);
  EXPECT_TRUE(StatusShown("datas is overflow,overflow part is unwritten.512 bytes,0:0", true));
  EXPECT_EQ(f.ChipMemory(0, 512),
            std::vector<std::uint8_t>(image_before_.begin(), image_before_.begin() + 512));
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(SmallChipWriteTest, InsideAutoTheOverflowBoxAndFinishSoundStayAway) {
  LoadPattern(1024);
  f.state.command_code = 14;
  ASSERT_TRUE(WriteChip(f.ctx, true));      // unscripted: Yes to the length question
  EXPECT_EQ(f.host.BoxTexts().size(), 1u);  // only the question
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kSound), 0u);
  EXPECT_TRUE(StatusShown("datas is overflow,overflow part is unwritten.512 bytes,0:0", true));
}

TEST_F(SmallChipWriteTest, OverflowAnsweredNoWritesNothing) {
  LoadPattern(1024);
  f.host.QueueConfirm(true);
  f.host.QueueAnswer(BoxAnswer::kNo);
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.traffic.CountCommand(1), 0u);
  EXPECT_TRUE(Chunks().empty());
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kDisableCommand), 0u);
  EXPECT_EQ(f.ChipMemory(0, 4), std::vector<std::uint8_t>(4, 0xFF));
}

TEST_F(WriteTest, RefusalsBeforeTheStreamTouchNothing) {
  // Cancel at the question.
  LoadPattern(100);
  f.host.QueueConfirm(false);
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.traffic.CountCommand(1), 0u);

  // Update mode: refused at once, before any USB call.
  f.traffic.Clear();
  f.host.ClearRecords();
  f.state.dfu_mode = 1;
  f.state.stop_write = 1;
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.state.stop_write.load(), 0);  // cleared first
  EXPECT_TRUE(f.traffic.Transfers().empty());
  const HostRecord dfu = f.host.LastStatus();
  EXPECT_EQ(dfu.text, "device is in dfu mode");
  EXPECT_TRUE(dfu.red);
  EXPECT_TRUE(dfu.beep);
  f.state.dfu_mode = 0;

  // Without the pre-check nothing is asked, and no image means nothing is sent.
  f.image.Close();
  f.traffic.Clear();
  f.host.ClearRecords();
  EXPECT_FALSE(WriteChip(f.ctx, false));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kConfirm), 0u);
  EXPECT_TRUE(StatusShown("file is not opened!", true));
  ASSERT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"file is not opened!"}));
  EXPECT_TRUE(f.traffic.Transfers().empty());
}

TEST_F(WriteTest, InBulkModeNothingIsAsked) {
  LoadPattern(100);
  f.state.bulk_mode = 1;
  f.host.QueueConfirm(false);  // would refuse, if asked
  EXPECT_TRUE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kConfirm), 0u);
}

TEST_F(SpiWriteTest, AutoRecognizeRunsTheChipTestFirst) {
  f.SetAutoRecognize(true);
  LoadPattern(5000);
  ASSERT_TRUE(WriteChip(f.ctx, true));
  EXPECT_GT(f.traffic.CountCommand(7), 0u);  // the test's ID probes
  EXPECT_EQ(f.host.LastStatus().text, "write succeed,5000 bytes,0:0");
  EXPECT_EQ(f.ChipMemory(0, 5000), image_before_);
}

TEST_F(SpiWriteTest, RecognitionThatChangedTheSelectionStopsSilently) {
  f.SetAutoRecognize(true);
  LoadPattern(100);
  // The user picked a part whose ID is not the socket's: the test selects another.
  ASSERT_TRUE(f.Select("W25X05"));
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.state.selection_changed.load(), 1);
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kConfirm), 0u);
  EXPECT_EQ(f.traffic.CountCommand(1), 0u);
}

TEST_F(SpiWriteTest, PartialAcceptanceResendsTheRest) {
  LoadPattern(10000);
  f.programmer.AcceptPartialBulkWrites(1000);
  ASSERT_TRUE(WriteChip(f.ctx, true));
  const auto chunks = Chunks();
  ASSERT_GE(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].size, 4096);
  EXPECT_EQ(chunks[0].result, 1000);
  // The bytes the device did not take lead the next chunk.
  ASSERT_EQ(chunks[1].size, 4096);
  EXPECT_TRUE(
      std::equal(chunks[1].data.begin(), chunks[1].data.end(), image_before_.begin() + 1000));
  std::uint64_t accepted = 0;
  for (const UsbTransfer& c : chunks) accepted += static_cast<std::uint64_t>(c.result);
  EXPECT_EQ(ReadBigEndian32(CommandsWith(2).at(0).bytes.data() + kPayloadOffset), accepted);
  EXPECT_EQ(accepted, 10000u);
  EXPECT_EQ(f.ChipMemory(0, 10000), image_before_);
}

TEST_F(SpiWriteTest, StopInTheMiddleEndsWithBrokenTextAndNoEndOfData) {
  LoadPattern(64 * 1024);
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && f.host.Progress().position >= 25)
      f.state.stop_write = 1;
  });
  EXPECT_TRUE(WriteChip(f.ctx, true));  // a stopped write still counts as run
  std::uint64_t accepted = 0;
  for (const UsbTransfer& c : Chunks()) accepted += static_cast<std::uint64_t>(c.result);
  EXPECT_EQ(accepted, 4u * 4096);  // stopped after the chunk that reached 25%
  EXPECT_EQ(StreamCodes(), (std::vector<int>{1, 9}));
  const HostRecord last = f.host.LastStatus();
  EXPECT_EQ(last.text, "write is broken!16384 bytes,0:0");
  EXPECT_TRUE(last.red);
  EXPECT_FALSE(last.beep);
  EXPECT_TRUE(f.host.BoxTexts().empty());  // no overflow box after a stop
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(SpiWriteTest, ElapsedTimeIsMinutesAndSeconds) {
  LoadPattern(8192);
  // The first chunk takes 65 s of (virtual) time.
  bool advanced = false;
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && !advanced && f.host.Progress().position > 0) {
      advanced = true;
      f.clock.Advance(65'000);
    }
  });
  ASSERT_TRUE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.host.LastStatus().text, "write succeed,8192 bytes,1:5");
  EXPECT_EQ(WriteBrokenText(5, 600), "write is broken!5 bytes,10:0");
  EXPECT_EQ(WriteOverflowText(512, 59),
            "datas is overflow,overflow part is unwritten.512 bytes,0:59");
}

TEST_F(WriteTest, ProgrammerAbsentAtTheStart) {
  LoadPattern(100);
  f.bus.Unplug();
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_TRUE(StatusShown("device is unconnected!", true));
  EXPECT_EQ(f.host.BoxTexts(), (std::vector<std::string>{"device is unconnected!"}));
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kConfirm), 0u);
  EXPECT_EQ(f.host.Count(HostRecord::Kind::kDisableCommand), 0u);
  ExpectImageUntouched();
}

TEST_F(SpiWriteTest, UnpluggedInTheMiddle) {
  LoadPattern(64 * 1024);
  f.host.AddListener([&](HostModel::Change change) {
    if (change == HostModel::Change::kProgress && f.host.Progress().position >= 50 &&
        f.bus.IsPresent())
      f.bus.Unplug();
  });
  EXPECT_FALSE(WriteChip(f.ctx, true));
  const HostRecord last = f.host.LastStatus();
  EXPECT_EQ(last.text, "device connect error");
  EXPECT_TRUE(last.red);
  EXPECT_TRUE(last.beep);
  EXPECT_EQ(StreamCodes(), (std::vector<int>{1}));  // neither code 2 nor code 9
  EXPECT_LT(Chunks().back().result, 0);
  ExpectControlsRestored();
  ExpectImageUntouched();
}

TEST_F(SpiWriteTest, ChunkTimeOutIsALinkError) {
  LoadPattern(10000);
  f.programmer.AddLinkFault({sim::Pipe::kBulkOut, sim::LinkFault::Action::kTimeOut, 0, 1, 1});
  const std::int64_t start = f.clock.NowMs();
  EXPECT_FALSE(WriteChip(f.ctx, true));
  const auto chunks = Chunks();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[1].timeout_ms, 60000);
  EXPECT_LT(chunks[1].result, 0);
  EXPECT_GE(f.clock.NowMs() - start, 60000);
  EXPECT_EQ(f.host.LastStatus().text, "device connect error");
  ExpectControlsRestored();
}

TEST_F(WriteTest, DroppedEndMarkIsNotASuccess) {
  LoadPattern(100);
  f.programmer.DropReply(sim::ReplyKind::kWriteEnd);
  EXPECT_FALSE(WriteChip(f.ctx, true));
  // Ten one-byte reads of 6000 ms after code 2, then code 9.
  int end_reads = 0;
  bool after_code2 = false;
  for (const UsbTransfer& t : f.traffic.Transfers()) {
    if (t.kind == Kind::kInterruptWrite) after_code2 = (t.data[1] & 0x3F) == 2;
    if (after_code2 && t.kind == Kind::kBulkRead) {
      EXPECT_EQ(t.size, 1);
      EXPECT_EQ(t.timeout_ms, 6000);
      ++end_reads;
    }
  }
  EXPECT_EQ(end_reads, 10);
  EXPECT_EQ(StreamCodes(), (std::vector<int>{1, 2, 9}));
  const HostRecord last = f.host.LastStatus();
  EXPECT_EQ(last.text, kWriteNotConfirmed);
  EXPECT_TRUE(last.red);
  ExpectControlsRestored();
}

TEST_F(WriteTest, AWrongEndMarkIsNotASuccessButTheRightOneLateIs) {
  LoadPattern(100);
  // Replies that are not the end mark, as many as the host reads.
  f.programmer.ReplaceReply(sim::ReplyKind::kWriteEnd, std::vector<std::uint8_t>(10, 0x03));
  EXPECT_FALSE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.host.LastStatus().text, kWriteNotConfirmed);

  // Two stray bytes, then the end mark: the wait reads on and the write stands.
  f.programmer.ClearFaults();
  f.host.ClearRecords();
  f.programmer.ReplaceReply(sim::ReplyKind::kWriteEnd, {0x06, 0x00, kWriteEndMark});
  EXPECT_TRUE(WriteChip(f.ctx, true));
  EXPECT_EQ(f.host.LastStatus().text, "write succeed,256 bytes,0:0");
}

TEST_F(SmallSpiWriteTest, ImageLongerThanTheChipStopsAtItsEnd) {
  const std::uint64_t capacity = f.state.chip_capacity.load();
  LoadPattern(capacity + 5000);
  f.host.QueueConfirm(true);
  f.host.QueueAnswer(BoxAnswer::kYes);
  ASSERT_TRUE(WriteChip(f.ctx, true));
  std::uint64_t sent = 0;
  for (const UsbTransfer& c : Chunks()) sent += static_cast<std::uint64_t>(c.result);
  EXPECT_EQ(sent, capacity);
  EXPECT_EQ(ReadBigEndian32(CommandsWith(2).at(0).bytes.data() + kPayloadOffset), capacity);
  const std::string overflow =
      "datas is overflow,overflow part is unwritten." + std::to_string(capacity) + " bytes,0:0";
  EXPECT_TRUE(StatusShown(overflow, true));
  for (const std::string& text : f.host.StatusTexts())
    EXPECT_EQ(text.rfind("write succeed", 0), std::string::npos) << text;
  EXPECT_EQ(
      f.ChipMemory(0, static_cast<std::size_t>(capacity)),
      std::vector<std::uint8_t>(image_before_.begin(),
                                image_before_.begin() + static_cast<std::ptrdiff_t>(capacity)));
}

TEST_F(SpiWriteTest, EmptyImageOnSpiFlashSendsNoData) {
  LoadPattern(0);
  ASSERT_TRUE(WriteChip(f.ctx, true));
  EXPECT_TRUE(Chunks().empty());
  EXPECT_EQ(ReadBigEndian32(CommandsWith(2).at(0).bytes.data() + kPayloadOffset), 0u);
  EXPECT_EQ(f.host.LastStatus().text, "write succeed,0 bytes,0:0");
}

TEST_F(SpiWriteTest, WorkingCopyShortOnDiskEndsTheStreamInsteadOfSpinning) {
  LoadPattern(10000);
  std::filesystem::resize_file(f.state.paths.working_copy, 10);  // cut behind the buffer's back
  EXPECT_FALSE(WriteChip(f.ctx, true));
  const auto chunks = Chunks();
  ASSERT_EQ(chunks.size(), 1u);  // the 10 bytes there were, then nothing more to read
  EXPECT_EQ(chunks[0].size, 10);
  const HostRecord last = f.host.LastStatus();
  EXPECT_EQ(last.text, "file read failed!");
  EXPECT_TRUE(last.red);
  EXPECT_EQ(StreamCodes(), (std::vector<int>{1}));
  ExpectControlsRestored();
}

TEST_F(WriteTest, StreamNeedsAnOpenLink) {
  LoadPattern(100);
  ASSERT_FALSE(f.link.IsOpen());
  EXPECT_FALSE(WriteStream(f.ctx));
  EXPECT_TRUE(f.traffic.Transfers().empty());
  EXPECT_TRUE(f.host.StatusTexts().empty());
}

}  // namespace
}  // namespace tarvix::testing
