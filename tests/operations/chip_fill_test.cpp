// SPDX-License-Identifier: GPL-3.0-or-later
// Chip fill on the simulated programmer: which blocks are rewritten and how, what the
// chip holds afterwards, the dialog's checks and state line, and every refusal.
#include "operations/chip_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "operations/operation_fixture.h"

namespace tarvix::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = HostRecord::Kind;
using sim::ReplyFault;
using sim::ReplyKind;

constexpr std::uint64_t k4K = 4096;
constexpr std::uint64_t kW25Q32Capacity = 4 * 1024 * 1024;

Bytes Pattern(std::uint64_t from, std::size_t count) {
  Bytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = PatternByte(from + i);
  return b;
}

class ChipFillTest : public ::testing::Test {
 protected:
  // A W25Q32BV selected and in the socket, patterned over its first 64 KiB and its
  // last 8 KiB; blocks of 4096 bytes (sector code 2); the device-open check only.
  ChipFillTest() {
    EXPECT_TRUE(f.Select("W25Q32BV"));
    f.packet.SetByte(5, 2);
    f.SetAutoRecognize(false);
    f.FillChip(0, Pattern(0, 65536));
    f.FillChip(kW25Q32Capacity - 8192, Pattern(kW25Q32Capacity - 8192, 8192));
    dialog.SetListener([this] {
      const std::string line = dialog.StateLine();
      if (lines.empty() || lines.back() != line) lines.push_back(line);
      cancel.push_back(dialog.CancelEnabled());
    });
  }

  bool Fill(const std::string& address, const std::string& length, const std::string& data) {
    FillFields fields;
    fields.address = address;
    fields.length = length;
    fields.data_byte = data;
    fields.data_word = data;
    dialog.SetFields(fields);
    f.traffic.Clear();
    return RunChipFill(f.ctx, dialog);
  }

  // Block addresses sent with code 19, in order.
  std::vector<std::uint32_t> FillAddresses() const {
    std::vector<std::uint32_t> out;
    for (const SentCommand& c : f.traffic.Commands())
      if (c.code == 19) out.push_back(ReadBigEndian32(c.bytes.data() + kPayloadOffset));
    return out;
  }
  std::size_t UsbCalls() const { return f.traffic.Transfers().size(); }
  // A link failure: the state line and red status, and Cancel given back.
  void ExpectLinkError() {
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "device connect error!");
    EXPECT_EQ(f.host.LastStatus().text, "device connect error!");
    EXPECT_TRUE(f.host.LastStatus().red);
    EXPECT_TRUE(f.host.LastStatus().beep);
    EXPECT_TRUE(dialog.CancelEnabled());
  }

  OperationFixture f;
  ChipFillDialog dialog;
  std::vector<std::string> lines;
  std::vector<bool> cancel;
};

TEST_F(ChipFillTest, RangeInsideOneBlockRewritesThatBlockWithTheExchangeAsAgreed) {
  ASSERT_TRUE(Fill("100", "32", "5A"));
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{0}));

  Bytes expected = Pattern(0, 2 * k4K);
  std::fill(expected.begin() + 0x100, expected.begin() + 0x120, 0x5A);
  EXPECT_EQ(f.ChipMemory(0, 2 * k4K), expected);

  // Code 19 (5000 ms), four 1024-byte pieces (5000 ms), the status byte (50000 ms), the
  // block back in one 4096-byte transfer (60000 ms), code 2 (5000 ms), its byte (60000 ms).
  const auto commands = f.traffic.Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].code, 19);
  EXPECT_EQ(commands[0].timeout_ms, 5000);
  EXPECT_EQ(commands[1].code, 2);
  EXPECT_EQ(commands[1].timeout_ms, 5000);
  std::vector<std::pair<int, int>> reads;
  for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead))
    if (t.size != 64) reads.emplace_back(t.size, t.timeout_ms);  // 64: the drain at open
  const std::vector<std::pair<int, int>> expected_reads{{1024, 5000}, {1024, 5000}, {1024, 5000},
                                                        {1024, 5000}, {1, 50000},   {1, 60000}};
  EXPECT_EQ(reads, expected_reads);
  const auto writes = f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].size, 4096);
  EXPECT_EQ(writes[0].timeout_ms, 60000);

  EXPECT_EQ(lines, (std::vector<std::string>{"chip filling...", "Fill succeed"}));
  // Cancel is grayed while blocks are written and given back at the end.
  EXPECT_NE(std::find(cancel.begin(), cancel.end(), false), cancel.end());
  EXPECT_TRUE(dialog.CancelEnabled());
  EXPECT_EQ(f.host.LastStatus().text, "Fill succeed");
  EXPECT_FALSE(f.host.LastStatus().red);
}

TEST_F(ChipFillTest, RangeTouchingTheNextBlocksFirstByteRewritesTwo) {
  ASSERT_TRUE(Fill("F00", "257", "00"));
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{0, 0x1000}));
  Bytes expected = Pattern(0, 3 * k4K);
  std::fill(expected.begin() + 0xF00, expected.begin() + 0x1001, 0x00);
  EXPECT_EQ(f.ChipMemory(0, 3 * k4K), expected);

  ASSERT_TRUE(Fill("F00", "256", "00"));
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{0}));
}

TEST_F(ChipFillTest, OneByteAtSixteenChangesExactlyOneByteOfBlockZero) {
  const Bytes before = f.ChipMemory(0, k4K);
  ASSERT_TRUE(Fill("10", "1", "C3"));
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{0}));
  const Bytes after = f.ChipMemory(0, k4K);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < k4K; ++i) changed += before[i] != after[i];
  EXPECT_EQ(changed, 1u);
  EXPECT_EQ(after[0x10], 0xC3);
}

TEST_F(ChipFillTest, RangeEndingAtTheCapacityIsAcceptedOneMoreByteIsNot) {
  const std::uint64_t start = kW25Q32Capacity - 16;
  char address[16];
  std::snprintf(address, sizeof address, "%llX", static_cast<unsigned long long>(start));
  ASSERT_TRUE(Fill(address, "16", "11"));
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{kW25Q32Capacity - k4K}));
  EXPECT_EQ(f.ChipMemory(start, 16), Bytes(16, 0x11));
  EXPECT_EQ(f.ChipMemory(start - 1, 1), Pattern(start - 1, 1));

  lines.clear();
  EXPECT_FALSE(Fill(address, "17", "22"));
  EXPECT_TRUE(FillAddresses().empty());
  EXPECT_EQ(lines.back(), "the address is out of chip range");
  const HostRecord status = f.host.LastStatus();
  EXPECT_EQ(status.text, "chip fill failed");
  EXPECT_TRUE(status.red);
  EXPECT_TRUE(status.beep);
  EXPECT_EQ(f.ChipMemory(start, 16), Bytes(16, 0x11));
  EXPECT_TRUE(dialog.CancelEnabled());
}

TEST_F(ChipFillTest, HighestAddressDoesNotWrapPastTheCheck) {
  // FFFFFFFF + 2 in 32 bits would be 1, well inside the chip.
  EXPECT_FALSE(Fill("FFFFFFFF", "2", "00"));
  EXPECT_EQ(lines.back(), "the address is out of chip range");
  EXPECT_TRUE(FillAddresses().empty());
}

TEST_F(ChipFillTest, UnsupportedChipIsRefusedBeforeAnyTraffic) {
  for (const bool auto_recognize : {false, true}) {
    f.SetAutoRecognize(auto_recognize);
    f.packet.SetByte(5, 0xFF);
    lines.clear();
    EXPECT_FALSE(Fill("0", "1", "00"));
    EXPECT_EQ(UsbCalls(), 0u);
    EXPECT_EQ(lines, (std::vector<std::string>{"this chip is not support this function"}));
    EXPECT_EQ(f.host.LastStatus().text, "chip fill failed");
    EXPECT_TRUE(f.host.LastStatus().red);
    EXPECT_TRUE(f.host.LastStatus().beep);
  }
}

TEST_F(ChipFillTest, DfuModeIsRefusedBeforeAnyTraffic) {
  f.state.dfu_mode = 1;
  EXPECT_FALSE(Fill("0", "1", "00"));
  EXPECT_EQ(UsbCalls(), 0u);
  EXPECT_EQ(f.host.LastStatus().text, "device is in dfu mode");
  EXPECT_TRUE(f.host.LastStatus().beep);
}

TEST_F(ChipFillTest, LengthZeroRewritesNoBlock) {
  for (const char* address : {"0", "10"}) {
    ASSERT_TRUE(Fill(address, "0", "00")) << address;
    EXPECT_TRUE(FillAddresses().empty()) << address;
  }
  EXPECT_EQ(f.ChipMemory(0, k4K), Pattern(0, k4K));
  EXPECT_EQ(dialog.StateLine(), "Fill succeed");
}

TEST_F(ChipFillTest, ProgressAddsADotEverySecondBlockAndStartsAgainPast16) {
  ASSERT_TRUE(Fill("0", "24576", "AA"));  // six blocks
  EXPECT_EQ(FillAddresses().size(), 6u);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"chip filling...", "chip filling....", "chip filling...",
                                      "chip filling....", "Fill succeed"}));
  EXPECT_EQ(f.ChipMemory(0, 6 * k4K), Bytes(6 * k4K, 0xAA));
  EXPECT_EQ(f.ChipMemory(6 * k4K, k4K), Pattern(6 * k4K, k4K));
}

TEST_F(ChipFillTest, PartiallyAcceptedWritesAreCompleted) {
  f.programmer.AcceptPartialBulkWrites(1000, 2);
  ASSERT_TRUE(Fill("0", "4096", "77"));
  EXPECT_EQ(f.ChipMemory(0, k4K), Bytes(k4K, 0x77));
}

TEST_F(ChipFillTest, CodeNineteenNotSentStopsAtOnce) {
  f.programmer.AddLinkFault({sim::Pipe::kInterruptOut, sim::LinkFault::Action::kFail, 0, 0, 1});
  EXPECT_FALSE(Fill("0", "10", "00"));
  ExpectLinkError();
  EXPECT_TRUE(f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead).size() <= 1u);  // the drain
  EXPECT_EQ(f.ChipMemory(0, k4K), Pattern(0, k4K));
}

TEST_F(ChipFillTest, MissingBlockStatusWritesNothingBack) {
  f.programmer.DropReply(ReplyKind::kFillBlockStatus);
  EXPECT_FALSE(Fill("0", "10", "00"));
  ExpectLinkError();
  EXPECT_TRUE(f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite).empty());
  EXPECT_EQ(f.ChipMemory(0, k4K), Pattern(0, k4K));
}

TEST_F(ChipFillTest, BlockThatArrivesShortIsNotWrittenBack) {
  ReplyFault cut;
  cut.kind = ReplyKind::kFillBlock;
  cut.action = ReplyFault::Action::kTruncate;
  cut.size = 3000;
  f.programmer.AddReplyFault(cut);
  EXPECT_FALSE(Fill("0", "10", "00"));
  ExpectLinkError();
  EXPECT_TRUE(f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite).empty());
  EXPECT_EQ(f.ChipMemory(0, k4K), Pattern(0, k4K));
}

TEST_F(ChipFillTest, BlockReadBrokenOffIsNotWrittenBackEvenWhenBytesFollow) {
  // The second piece fails once; the rest of the block is still on its way and would
  // pass for the status bytes, so a partial block would go back as if whole.
  f.programmer.AddLinkFault({sim::Pipe::kBulkIn, sim::LinkFault::Action::kFail, 0, 2, 1});
  EXPECT_FALSE(Fill("800", "16", "00"));
  ExpectLinkError();
  EXPECT_TRUE(f.traffic.TransfersOf(UsbTransfer::Kind::kBulkWrite).empty());
  EXPECT_EQ(f.ChipMemory(0, k4K), Pattern(0, k4K));
}

TEST_F(ChipFillTest, MissingEndStatusLeavesTheLaterBlocksUntouched) {
  f.programmer.DropReply(ReplyKind::kFillEnd);
  EXPECT_FALSE(Fill("0", "8192", "00"));
  ExpectLinkError();
  EXPECT_EQ(FillAddresses(), (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(f.ChipMemory(k4K, k4K), Pattern(k4K, k4K));
}

TEST_F(ChipFillTest, FailedPreCheckSaysChipFillFailed) {
  f.bus.Unplug();
  EXPECT_FALSE(Fill("0", "1", "00"));
  EXPECT_EQ(lines, (std::vector<std::string>{"chip fill failed"}));
  EXPECT_EQ(f.host.LastStatus().text, "device is unconnected!");

  f.bus.Replug();
  f.EmptySocket();
  f.SetAutoRecognize(true);
  lines.clear();
  EXPECT_FALSE(Fill("0", "1", "00"));
  EXPECT_EQ(lines, (std::vector<std::string>{"chip fill failed"}));
  EXPECT_TRUE(FillAddresses().empty());
}

TEST(ChipFillWords, AddressTenAndLengthTwoMeanBytes20To23) {
  OperationFixture f("AT93C46(16bit)");
  ASSERT_TRUE(f.Select("AT93C46(16bit)"));
  f.SetAutoRecognize(false);
  f.FillChip(0, Pattern(0, 128));
  ChipFillDialog dialog;
  dialog.Open(f.packet);
  EXPECT_TRUE(dialog.ShowsWordField());
  FillFields fields;
  fields.address = "10";
  fields.length = "2";
  fields.data_word = "ABCD";
  dialog.SetFields(fields);
  ASSERT_TRUE(RunChipFill(f.ctx, dialog));
  Bytes expected = Pattern(0, 128);
  const Bytes fill{0xAB, 0xCD, 0xAB, 0xCD};
  std::copy(fill.begin(), fill.end(), expected.begin() + 0x20);
  EXPECT_EQ(f.ChipMemory(0, 128), expected);
  // Page "N" gives 256-byte blocks, more than this chip holds: one block.
  EXPECT_EQ(f.traffic.CountCommand(19), 1u);

  fields.data_word = "F";  // a short field is a number: 0x000F
  fields.address = "0";
  fields.length = "1";
  dialog.SetFields(fields);
  ASSERT_TRUE(RunChipFill(f.ctx, dialog));
  EXPECT_EQ(f.ChipMemory(0, 3), (Bytes{0x00, 0x0F, PatternByte(2)}));
}

TEST(ChipFillRecognition, BlocksAreThoseOfTheChipTheTestSelected) {
  // AT24C02 selected (8-byte blocks); the socket holds a W25X80, which the test
  // recognises uniquely: the programmer now works in the W25X80's blocks.
  OperationFixture f("W25X80");
  ASSERT_TRUE(f.Select("AT24C02"));
  f.FillChip(0, Pattern(0, 4096));
  ChipFillDialog dialog;
  FillFields fields;
  fields.address = "10";
  fields.length = "1";
  fields.data_byte = "00";
  dialog.SetFields(fields);
  ASSERT_TRUE(RunChipFill(f.ctx, dialog));
  EXPECT_EQ(f.SelectedModel(), "W25X80");
  Bytes expected = Pattern(0, 4096);
  expected[0x10] = 0x00;
  EXPECT_EQ(f.ChipMemory(0, 4096), expected);
  std::uint64_t read = 0;
  for (const UsbTransfer& t : f.traffic.TransfersOf(UsbTransfer::Kind::kBulkRead))
    if (t.size == 1024 && t.result > 0) read += static_cast<std::uint64_t>(t.result);
  EXPECT_EQ(read, 4096u);  // its "4KB" sector: one 4 KiB block
}

TEST(ChipFillPlan, BlockSizeFromTheSectorOrPageCode) {
  EXPECT_EQ(FillBlockSize(2, 8, false), 4096u);
  EXPECT_EQ(FillBlockSize(12, 8, false), 4u << 20);
  EXPECT_EQ(FillBlockSize(0, 0xFF, false), 256u);
  EXPECT_EQ(FillBlockSize(0, 0xFF, true), 256u);
  EXPECT_EQ(FillBlockSize(0, 3, false), 8u);
  EXPECT_EQ(FillBlockSize(0, 3, true), 16u);
  EXPECT_FALSE(FillBlockSize(0xFF, 8, false));
  EXPECT_FALSE(FillBlockSize(40, 8, false));   // past what 32-bit addresses reach
  EXPECT_FALSE(FillBlockSize(0, 100, false));  // a page text that was no power of two
}

TEST(ChipFillPlan, BlocksOfARange) {
  EXPECT_EQ(BlocksOfRange(0x10, 1, 4096).Count(4096), 1u);
  EXPECT_EQ(BlocksOfRange(0xFFF, 2, 4096).first, 0u);
  EXPECT_EQ(BlocksOfRange(0xFFF, 2, 4096).end, 0x2000u);
  EXPECT_EQ(BlocksOfRange(0x1000, 0x1000, 4096).Count(4096), 1u);
  EXPECT_EQ(BlocksOfRange(0x1234, 0, 4096).Count(4096), 0u);
}

TEST(ChipFillDialogFields, TypingKeepsDigitsUpperCasesHexAndRefusesTheRest) {
  auto e = CheckFillFieldEdit(FillField::kAddress, "1ag", 3);
  EXPECT_EQ(e.text, "1A");
  EXPECT_EQ(e.caret, 2u);
  EXPECT_TRUE(e.rejected);
  e = CheckFillFieldEdit(FillField::kAddress, "ff0", 3);
  EXPECT_EQ(e.text, "FF0");
  EXPECT_FALSE(e.rejected);
  e = CheckFillFieldEdit(FillField::kLength, "1A2", 2);
  EXPECT_EQ(e.text, "12");
  EXPECT_EQ(e.caret, 1u);
  EXPECT_TRUE(e.rejected);
  e = CheckFillFieldEdit(FillField::kDataByte, "ABC", 3);
  EXPECT_EQ(e.text, "AB");
  EXPECT_EQ(FillFieldLimit(FillField::kDataWord), 4u);

  RecordingHost host;
  ChipFillDialog dialog;
  dialog.Edit(FillField::kDataByte, "x", 1, host);
  const auto boxes = host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "please input hex data!    ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
  EXPECT_EQ(dialog.Fields().data_byte, "");
}

TEST(ChipFillDialogFields, OkChecksAddressLengthAndDataInThatOrder) {
  RecordingHost host;
  ChipFillDialog dialog;
  EXPECT_TRUE(dialog.Accept(host));  // "0", "1", "FF"
  const struct {
    FillFields fields;
    const char* line;
    const char* box;
  } cases[] = {
      {{"", "", "", "FFFF"}, "please input fill address", "please input fill address!   "},
      {{"0", "", "", "FFFF"}, "please input fill length", "please input fill length!   "},
      {{"0", "1", "", "FFFF"}, "please input fill data", "please input fill data!   "},
  };
  for (const auto& c : cases) {
    host.ClearRecords();
    dialog.SetFields(c.fields);
    EXPECT_FALSE(dialog.Accept(host));
    EXPECT_EQ(dialog.StateLine(), c.line);
    ASSERT_EQ(host.BoxTexts().size(), 1u);
    EXPECT_EQ(host.BoxTexts()[0], c.box);
  }
  // On a 16-bit chip the word field is the one that must not be empty.
  CommandPacket words;
  words.SetByte(1, 0x40);
  dialog.Open(words);
  dialog.SetFields({"0", "1", "", "12"});
  EXPECT_TRUE(dialog.Accept(host));
  dialog.SetFields({"0", "1", "FF", ""});
  EXPECT_FALSE(dialog.Accept(host));
  EXPECT_EQ(dialog.StateLine(), "please input fill data");
}

TEST(ChipFillDialogTest, OpeningStartsAfreshExceptWhileAFillRuns) {
  ChipFillDialog dialog;
  CommandPacket bytes;
  dialog.Open(bytes);
  dialog.SetFields({"1F", "300", "00", "ABCD"});
  dialog.SetStateLine("Fill succeed");
  dialog.Open(bytes);
  const FillFields f = dialog.Fields();
  EXPECT_EQ(f.address, "0");
  EXPECT_EQ(f.length, "1");
  EXPECT_EQ(f.data_byte, "FF");
  EXPECT_EQ(f.data_word, "FFFF");
  EXPECT_EQ(dialog.StateLine(), "");
  // The worker is writing blocks: what it reads and writes stays put.
  dialog.SetFields({"10", "2", "55", "FFFF"});
  dialog.SetStateLine("chip filling...");
  dialog.EnableCancel(false);
  CommandPacket words;
  words.SetByte(1, 0x40);
  dialog.Open(words);
  EXPECT_FALSE(dialog.ShowsWordField());
  EXPECT_EQ(dialog.Fields().address, "10");
  EXPECT_EQ(dialog.StateLine(), "chip filling...");
}

}  // namespace
}  // namespace tarvix::testing
