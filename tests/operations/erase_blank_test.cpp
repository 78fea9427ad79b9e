// SPDX-License-Identifier: GPL-3.0-or-later
// Erase and blank check on the simulated programmer: the chip's contents, what the
// user is told, the controls while and after they run, and the wire traffic.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "state/command_state.h"
#include "device/command_protocol.h"
#include "device/version_notice.h"
#include "operations/blank_check.h"
#include "operations/erase.h"
#include "operations/operation_fixture.h"

namespace tarvix::testing {
namespace {

using Kind = HostRecord::Kind;
namespace id = control_id;

const std::set<int> kEraseGrayed{id::kRead, id::kVerify, id::kAuto,
                                 id::kTest, id::kWrite,  id::kBlank};
const std::set<int> kBlankGrayed{id::kWrite, id::kRead, id::kVerify,
                                 id::kErase, id::kTest, id::kAuto};
const std::set<int> kMenuGrayed{id::kChipFill, id::kViewData, id::kFirmwareVersion,
                                id::kFirmwareUpgrade};
const std::set<int> kMenuEnabled{id::kSaveAs,   id::kFindData,        id::kChipFill,
                                 id::kViewData, id::kFirmwareVersion, id::kFirmwareUpgrade};

std::set<int> IdsOf(const RecordingHost& host, Kind kind) {
  std::set<int> ids;
  for (const HostRecord& r : host.RecordsOf(kind)) ids.insert(r.id);
  return ids;
}

// The operation grayed its set, showed its busy caption, and gave everything back.
void ExpectControlsRestored(OperationFixture& f, int button, const std::set<int>& grayed,
                            const char* idle_caption) {
  EXPECT_EQ(IdsOf(f.host, Kind::kDisableCommand), grayed);
  EXPECT_EQ(IdsOf(f.host, Kind::kEnableCommand), grayed);
  std::set<int> menu_grayed = IdsOf(f.host, Kind::kGrayMenuItem);
  for (const int m : kMenuGrayed) EXPECT_TRUE(menu_grayed.count(m)) << m;
  EXPECT_EQ(IdsOf(f.host, Kind::kEnableMenuItem), kMenuEnabled);
  const auto captions = f.host.RecordsOf(Kind::kBusyCaption);
  ASSERT_EQ(captions.size(), 2u);
  EXPECT_EQ(captions[0].id, button);
  EXPECT_TRUE(captions[0].flag);
  EXPECT_EQ(captions[1].id, button);
  EXPECT_FALSE(captions[1].flag);
  const CommandState& commands = f.host.Commands();
  for (const int c : grayed) EXPECT_TRUE(commands.IsEnabled(c)) << c;
  for (const int m : kMenuEnabled) EXPECT_FALSE(commands.IsMenuGrayed(m)) << m;
  EXPECT_EQ(commands.Caption(button), idle_caption);
  EXPECT_FALSE(commands.IsBusy(button));
  EXPECT_EQ(f.state.busy_erasing.load(), 0);
}

// Codes sent from the first code `from` on.
std::vector<std::uint8_t> CodesFrom(const OperationFixture& f, std::uint8_t from) {
  const auto codes = f.traffic.CommandCodes();
  const auto it = std::find(codes.begin(), codes.end(), from);
  return {it, codes.end()};
}

// One-byte reads that wait a second for the done mark.
std::vector<UsbTransfer> DoneMarkReads(const OperationFixture& f) {
  std::vector<UsbTransfer> out;
  for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead))
    if (t.size == 1 && t.timeout_ms == 1000) out.push_back(t);
  return out;
}

sim::ReplyFault Delay(sim::ReplyKind kind, std::uint64_t ms) {
  sim::ReplyFault fault;
  fault.kind = kind;
  fault.action = sim::ReplyFault::Action::kDelay;
  fault.size = ms;
  return fault;
}

// A W25Q32BV in the socket and selected, with data at its start.
struct ProgrammedFlash : OperationFixture {
  ProgrammedFlash() : OperationFixture("W25Q32BV") {
    EXPECT_TRUE(Select("W25Q32BV"));
    FillChip(0, {0x12, 0x34, 0x56});
    FillChip(0x3FFFFF, {0x00});
    host.ClearRecords();
    traffic.Clear();
  }
};

TEST(Erase, ErasesTheChipAfterTheTestAndTheQuestion) {
  ProgrammedFlash f;
  EXPECT_TRUE(EraseChip(f.ctx, true));

  EXPECT_EQ(f.ChipMemory(0, 3), std::vector<std::uint8_t>(3, 0xFF));
  EXPECT_EQ(f.ChipMemory(0x3FFFFF, 1), std::vector<std::uint8_t>(1, 0xFF));
  const auto confirms = f.host.RecordsOf(Kind::kConfirm);
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].text, "This chip will be erased! continue ?");
  EXPECT_EQ(f.host.StatusTexts(),
            (std::vector<std::string>{"chip is erasing...", "erase succeed.0:0"}));
  EXPECT_FALSE(f.host.LastStatus().red);
  const auto sounds = f.host.RecordsOf(Kind::kSound);
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].text, f.state.paths.delete_sound.string());
  ExpectControlsRestored(f, id::kErase, kEraseGrayed, "Erase(F4)");

  EXPECT_EQ(CodesFrom(f, command_code::kErase),
            (std::vector<std::uint8_t>{command_code::kErase, command_code::kEndOperation}));
  for (const SentCommand& c : f.traffic.Commands()) {
    if (c.code == command_code::kErase || c.code == command_code::kEndOperation) {
      EXPECT_EQ(c.timeout_ms, 1000);
    }
  }
  // Stale bytes are drained with 10 ms reads before code 5 goes out.
  const auto reads = f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead);
  const auto drain = std::find_if(reads.begin(), reads.end(), [](const UsbTransfer& t) {
    return t.size == 1 && t.timeout_ms == 10;
  });
  ASSERT_NE(drain, reads.end());
  EXPECT_LT(drain->result, 0);
}

TEST(Erase, DrainsStaleBytesBeforeWaitingForTheMark) {
  ProgrammedFlash f;
  f.SetAutoRecognize(false);
  ASSERT_EQ(f.link.CheckDeviceOpen(), kDeviceReady);
  // A stale 6 must not be taken for the done mark of this erase.
  f.programmer.QueueStaleBytes({6, 6, 0});
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kEraseDone, 3000));
  f.host.QueueConfirm(true);
  const std::int64_t start = f.clock.NowMs();
  EXPECT_TRUE(EraseChip(f.ctx, false));
  EXPECT_EQ(f.LastStatusText(), "erase succeed.0:3");
  EXPECT_GE(f.clock.NowMs() - start, 3000);
  EXPECT_EQ(DoneMarkReads(f).size(), 3u);
  EXPECT_TRUE(f.host.RecordsOf(Kind::kConfirm).empty());  // no pre-check, no question
}

TEST(Erase, LongEraseWaitsInOneSecondReads) {
  ProgrammedFlash f;
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kEraseDone, 400'000));
  EXPECT_TRUE(EraseChip(f.ctx, true));
  EXPECT_EQ(f.LastStatusText(), "erase succeed.6:40");
  const auto reads = DoneMarkReads(f);
  EXPECT_EQ(reads.size(), 400u);
  EXPECT_TRUE(std::all_of(reads.begin(), reads.end() - 1,
                          [](const UsbTransfer& t) { return t.result < 0; }));
  EXPECT_EQ(reads.back().result, 1);
  EXPECT_EQ(f.ChipMemory(0, 1), std::vector<std::uint8_t>(1, 0xFF));
}

TEST(Erase, MissingDoneMarkEndsAfter601Reads) {
  ProgrammedFlash f;
  f.programmer.DropReply(sim::ReplyKind::kEraseDone);
  const std::int64_t start = f.clock.NowMs();
  EXPECT_FALSE(EraseChip(f.ctx, true));
  EXPECT_EQ(DoneMarkReads(f).size(), 601u);
  EXPECT_GE(f.clock.NowMs() - start, 601'000);
  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, "device connect error");
  EXPECT_TRUE(status.red);
  EXPECT_TRUE(status.beep);
  EXPECT_TRUE(f.host.RecordsOf(Kind::kSound).empty());
  ExpectControlsRestored(f, id::kErase, kEraseGrayed, "Erase(F4)");
  EXPECT_EQ(CodesFrom(f, command_code::kErase), std::vector<std::uint8_t>{command_code::kErase});
}

TEST(Erase, AnswersOtherThanTheMarkAreNotASuccess) {
  // The programmer keeps answering, but never with 6: the chip was not erased.
  ProgrammedFlash f;
  f.programmer.ReplaceReply(sim::ReplyKind::kEraseDone, std::vector<std::uint8_t>(700, 0x07));
  EXPECT_FALSE(EraseChip(f.ctx, true));
  EXPECT_EQ(DoneMarkReads(f).size(), 601u);
  EXPECT_EQ(f.LastStatusText(), "device connect error");
  EXPECT_TRUE(f.host.RecordsOf(Kind::kSound).empty());
}

TEST(Erase, StopRequestEndsTheWaitAndResetsTheProgrammer) {
  ProgrammedFlash f;
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kEraseDone, 400'000));
  f.bus.At(100'000, [&f](sim::SimBus&) { f.state.stop_erase = 1; });
  EXPECT_TRUE(EraseChip(f.ctx, true));  // so an Auto run goes on
  EXPECT_EQ(f.LastStatusText(), "erase finished");
  EXPECT_FALSE(f.host.LastStatus().red);
  EXPECT_LT(DoneMarkReads(f).size(), 110u);
  EXPECT_LT(f.clock.NowMs(), 110'000);
  EXPECT_TRUE(f.host.RecordsOf(Kind::kSound).empty());
  ExpectControlsRestored(f, id::kErase, kEraseGrayed, "Erase(F4)");

  const auto commands = f.traffic.Commands();
  std::vector<std::pair<int, int>> tail;
  bool seen = false;
  for (const SentCommand& c : commands) {
    seen = seen || c.code == command_code::kErase;
    if (seen) tail.emplace_back(c.code, c.timeout_ms);
  }
  const std::vector<std::pair<int, int>> expected{
      {5, 1000}, {9, 1000}, {9, 1000}, {25, 1000}, {0, 1000}};
  EXPECT_EQ(tail, expected);
  // The last code 0 carries the selected chip's parameters again.
  ASSERT_TRUE(f.programmer.StoredParameters().has_value());
  EXPECT_EQ(f.programmer.StoredParameters()->capacity, 4u << 20);
}

TEST(Erase, CodeFiveIsSentUpToElevenTimes) {
  using Action = sim::LinkFault::Action;
  for (const Action action : {Action::kFail, Action::kTimeOut}) {
    for (const int failures : {10, 11}) {
      SCOPED_TRACE(::testing::Message()
                   << "timed out: " << (action == Action::kTimeOut) << ", failures: " << failures);
      ProgrammedFlash f;
      f.SetAutoRecognize(false);
      sim::LinkFault fault;
      fault.pipe = sim::Pipe::kInterruptOut;
      fault.action = action;
      fault.times = failures;
      f.programmer.AddLinkFault(fault);
      const std::int64_t start = f.clock.NowMs();
      const bool ok = EraseChip(f.ctx, true);
      EXPECT_EQ(f.traffic.CountCommand(command_code::kErase), 11u);
      if (action == Action::kTimeOut) {
        EXPECT_GE(f.clock.NowMs() - start, failures * 1000);
      }
      if (failures == 10) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(f.LastStatusText(),
                  "erase succeed." + std::string(action == Action::kTimeOut ? "0:10" : "0:0"));
        EXPECT_EQ(f.ChipMemory(0, 1), std::vector<std::uint8_t>(1, 0xFF));
      } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(f.LastStatusText(), "device connect error");
        EXPECT_TRUE(f.host.LastStatus().beep);
        EXPECT_TRUE(DoneMarkReads(f).empty());
        EXPECT_EQ(f.ChipMemory(0, 1), std::vector<std::uint8_t>{0x12});
        ExpectControlsRestored(f, id::kErase, kEraseGrayed, "Erase(F4)");
      }
    }
  }
}

TEST(Erase, UnpluggedWhileErasing) {
  ProgrammedFlash f;
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kEraseDone, 400'000));
  f.bus.At(20'000, [](sim::SimBus& bus) { bus.Unplug(); });
  EXPECT_FALSE(EraseChip(f.ctx, true));
  EXPECT_EQ(f.LastStatusText(), "device connect error");
  EXPECT_TRUE(f.host.LastStatus().red);
  EXPECT_EQ(DoneMarkReads(f).size(), 601u);
  ExpectControlsRestored(f, id::kErase, kEraseGrayed, "Erase(F4)");
}

TEST(Erase, RefusalsBeforeAnythingIsSent) {
  {
    ProgrammedFlash f;
    f.state.dfu_mode = 1;
    f.state.stop_erase = 1;
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.state.stop_erase.load(), 0);
    EXPECT_EQ(f.LastStatusText(), "device is in dfu mode");
    EXPECT_TRUE(f.host.LastStatus().red);
    EXPECT_TRUE(f.host.LastStatus().beep);
    EXPECT_TRUE(f.traffic.Transfers().empty());
  }
  {
    ProgrammedFlash f;
    f.state.busy_erasing = 1;  // an erase already runs
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_TRUE(f.host.Records().empty());
    EXPECT_TRUE(f.traffic.Transfers().empty());
  }
  {
    ProgrammedFlash f;
    f.host.QueueConfirm(false);
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.traffic.CountCommand(command_code::kErase), 0u);
    EXPECT_TRUE(f.host.RecordsOf(Kind::kDisableCommand).empty());
    EXPECT_EQ(f.ChipMemory(0, 1), std::vector<std::uint8_t>{0x12});
  }
  {
    // The test moved the selection to another record: the user must look first.
    OperationFixture f("W25X05CL");
    ASSERT_TRUE(f.Select("W25X80"));
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.SelectedModel(), "W25X05");
    EXPECT_TRUE(f.host.RecordsOf(Kind::kConfirm).empty());
    EXPECT_EQ(f.traffic.CountCommand(command_code::kErase), 0u);
  }
  {
    ProgrammedFlash f;
    f.EmptySocket();
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.traffic.CountCommand(command_code::kErase), 0u);
  }
}

TEST(Erase, MissingProgrammer) {
  {
    ProgrammedFlash f;
    f.bus.Unplug();
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.LastStatusText(), "device is unconnected");
    EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"device is unconnected     "});
  }
  {
    ProgrammedFlash f;
    f.SetAutoRecognize(false);
    f.bus.Unplug();
    EXPECT_FALSE(EraseChip(f.ctx, true));
    EXPECT_EQ(f.LastStatusText(), "device is unconnected!");
    EXPECT_EQ(f.host.BoxTexts().size(), 1u);
    EXPECT_TRUE(f.host.RecordsOf(Kind::kDisableCommand).empty());
  }
}

TEST(Erase, BulkModeAsksNothingAndFiveVoltEepromsGetTheNotice) {
  OperationFixture f("AT24C02");
  ASSERT_TRUE(f.Select("AT24C02"));
  f.FillChip(0, {0x00, 0x01});
  f.state.bulk_mode = 1;
  f.host.ClearRecords();
  EXPECT_TRUE(EraseChip(f.ctx, true));
  EXPECT_TRUE(f.host.RecordsOf(Kind::kConfirm).empty());
  const auto texts = f.host.StatusTexts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0], kVersionNoticeText);  // the test of a shown family says nothing
  EXPECT_EQ(texts[1], "chip is erasing...");
  EXPECT_EQ(f.ChipMemory(0, 2), std::vector<std::uint8_t>(2, 0xFF));
}

TEST(Erase, NoSoundWithRemindSoundOff) {
  ProgrammedFlash f;
  f.SetSetting(SettingItem::kRemindSound, false);
  EXPECT_TRUE(EraseChip(f.ctx, true));
  EXPECT_TRUE(f.host.RecordsOf(Kind::kSound).empty());
}

TEST(BlankCheck, BlankChip) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.host.ClearRecords();
  EXPECT_TRUE(BlankCheck(f.ctx));
  // The test keeps the selection among the chip's three records without a word.
  EXPECT_EQ(f.host.StatusTexts(),
            (std::vector<std::string>{"chip blank checking", "blank check succeed.0:0"}));
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "chip is blank    ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  EXPECT_TRUE(f.host.RecordsOf(Kind::kConfirm).empty());
  ExpectControlsRestored(f, id::kBlank, kBlankGrayed, "Blank(F3)");

  const auto commands = f.traffic.Commands();
  const auto check = std::find_if(commands.begin(), commands.end(), [](const SentCommand& c) {
    return c.code == command_code::kBlankCheck;
  });
  ASSERT_NE(check, commands.end());
  EXPECT_EQ(check->timeout_ms, 1000);
  std::size_t polls = 0;
  for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead)) {
    if (t.size != 64 || t.timeout_ms != 1000) continue;
    ++polls;
    EXPECT_EQ(t.result, 6);
    EXPECT_EQ(t.data.at(0), 0x0F);
  }
  EXPECT_EQ(polls, 1u);  // a full reply ends the poll at once
}

TEST(BlankCheck, NotBlankChipShowsWhereAndWhat) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.FillChip(0x1234, {0x5A});
  f.host.ClearRecords();
  EXPECT_FALSE(BlankCheck(f.ctx));
  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, "blank check failed.0:0");
  EXPECT_TRUE(status.red);
  EXPECT_FALSE(status.beep);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "chip is not blank\r\nAddr:00001234\r\nData:5A           ");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
  ExpectControlsRestored(f, id::kBlank, kBlankGrayed, "Blank(F3)");
}

TEST(BlankCheck, NotBlankTextKeepsLeadingZeros) {
  const std::uint8_t high[6] = {0x10, 0xAB, 0xCD, 0xEF, 0x01, 0x00};
  EXPECT_EQ(NotBlankText(high), "chip is not blank\r\nAddr:ABCDEF01\r\nData:00           ");
  const std::uint8_t low[6] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(NotBlankText(low), "chip is not blank\r\nAddr:00000000\r\nData:0A           ");
}

TEST(BlankCheck, SlowAnswerWithinThirtyPolls) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kBlankCheck, 25'000));
  EXPECT_TRUE(BlankCheck(f.ctx));
  EXPECT_EQ(f.LastStatusText(), "blank check succeed.0:25");
}

TEST(BlankCheck, NoAnswerFailsAfterThirtyPolls) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.programmer.DropReply(sim::ReplyKind::kBlankCheck);
  f.host.ClearRecords();
  const std::int64_t start = f.clock.NowMs();
  EXPECT_FALSE(BlankCheck(f.ctx));
  EXPECT_GE(f.clock.NowMs() - start, 30'000);
  EXPECT_LT(f.clock.NowMs() - start, 32'000);
  EXPECT_EQ(f.LastStatusText(), "blank check failed!");
  EXPECT_TRUE(f.host.LastStatus().red);
  const auto boxes = f.host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "blank check failed!");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  ExpectControlsRestored(f, id::kBlank, kBlankGrayed, "Blank(F3)");
}

TEST(BlankCheck, ShortReplyIsNotTakenWhileMorePollsFollow) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  sim::ReplyFault shorter;
  shorter.kind = sim::ReplyKind::kBlankCheck;
  shorter.action = sim::ReplyFault::Action::kTruncate;
  shorter.size = 3;
  f.programmer.AddReplyFault(shorter);
  EXPECT_FALSE(BlankCheck(f.ctx));
  EXPECT_EQ(f.LastStatusText(), "blank check failed!");
}

TEST(BlankCheck, StopRequest) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kBlankCheck, 20'000));
  f.bus.At(5'000, [&f](sim::SimBus&) { f.state.stop_blank = 1; });
  f.host.ClearRecords();
  EXPECT_FALSE(BlankCheck(f.ctx));
  EXPECT_EQ(f.LastStatusText(), "blank check finished!");
  EXPECT_FALSE(f.host.LastStatus().red);
  EXPECT_TRUE(f.host.BoxTexts().empty());
  EXPECT_LT(f.clock.NowMs(), 10'000);
  ExpectControlsRestored(f, id::kBlank, kBlankGrayed, "Blank(F3)");
}

TEST(BlankCheck, UnpluggedWhileChecking) {
  OperationFixture f("W25Q32BV");
  ASSERT_TRUE(f.Select("W25Q32BV"));
  f.programmer.AddReplyFault(Delay(sim::ReplyKind::kBlankCheck, 20'000));
  f.bus.At(5'000, [](sim::SimBus& bus) { bus.Unplug(); });
  f.host.ClearRecords();
  EXPECT_FALSE(BlankCheck(f.ctx));
  EXPECT_EQ(f.LastStatusText(), "blank check failed!");
  EXPECT_EQ(f.host.BoxTexts(), std::vector<std::string>{"blank check failed!"});
  ExpectControlsRestored(f, id::kBlank, kBlankGrayed, "Blank(F3)");
}

TEST(BlankCheck, RefusalsAndDeviceOpenCheck) {
  {
    OperationFixture f("W25Q32BV");
    f.state.dfu_mode = 1;
    f.state.stop_blank = 1;
    f.host.ClearRecords();
    EXPECT_FALSE(BlankCheck(f.ctx));
    EXPECT_EQ(f.state.stop_blank.load(), 0);
    EXPECT_EQ(f.LastStatusText(), "device is in dfu mode");
    EXPECT_TRUE(f.host.LastStatus().beep);
    EXPECT_TRUE(f.traffic.Transfers().empty());
  }
  {
    OperationFixture f("");
    f.host.ClearRecords();
    EXPECT_FALSE(BlankCheck(f.ctx));  // the test found no chip
    EXPECT_EQ(f.traffic.CountCommand(command_code::kBlankCheck), 0u);
  }
  {
    // Without "Auto Recognize" only the link is checked, and the selection is trusted.
    OperationFixture f("W25Q32BV");
    ASSERT_TRUE(f.Select("W25Q32BV"));
    f.SetAutoRecognize(false);
    f.state.selection_changed = 1;
    f.host.ClearRecords();
    EXPECT_TRUE(BlankCheck(f.ctx));
    EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 0u);
    EXPECT_EQ(f.LastStatusText(), "blank check succeed.0:0");
  }
}

}  // namespace
}  // namespace tarvix::testing
