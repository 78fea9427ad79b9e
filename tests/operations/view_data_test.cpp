// SPDX-License-Identifier: GPL-3.0-or-later
// View Data on the simulated programmer: the dialog's texts, the recognition before
// the chip side, command 17 with its address and time-out, the 2-byte read, and every
// way the chip side can fail to show a byte.
#include "operations/view_data.h"

#include <gtest/gtest.h>

#include "buffer/hex_page.h"
#include "device/command_protocol.h"
#include "operation_fixture.h"

namespace tarvix::testing {
namespace {

using Kind = UsbTransfer::Kind;

class ViewDataTest : public ::testing::Test {
 protected:
  explicit ViewDataTest(std::string_view model = "W25Q32BV",
                        const sim::ProgrammerConfig& config = {})
      : f(model, config) {
    f.Select(model);
  }

  // Types the address, presses OK and runs the chip side as the worker would.
  ViewDataTexts View(std::string_view address) {
    dialog.SetAddressText(address);
    f.traffic.Clear();
    if (!dialog.Ok(f.image, f.hex, f.host, f.packet)) return dialog.Texts();
    f.state.command_code = kViewDataCommand;
    RunViewData(f.ctx, dialog);
    return dialog.Texts();
  }

  // The command-17 packets sent, and the bulk reads that followed the last of them.
  [[nodiscard]] std::vector<SentCommand> ReadAtCommands() const {
    std::vector<SentCommand> out;
    for (const SentCommand& c : f.traffic.Commands())
      if (c.code == command_code::kReadAtAddress) out.push_back(c);
    return out;
  }
  [[nodiscard]] std::vector<UsbTransfer> ReadsAfterReadAt() const {
    std::vector<UsbTransfer> out;
    bool after = false;
    for (const UsbTransfer& t : f.traffic.Transfers()) {
      if (t.kind == Kind::kInterruptWrite)
        after = t.data.size() == kPacketSize && (t.data[1] & 0x3F) == command_code::kReadAtAddress;
      else if (after && t.kind == Kind::kBulkRead)
        out.push_back(t);
    }
    return out;
  }

  void ExpectFinished() {
    EXPECT_EQ(f.host.LastStatus().text, "finished...");
    EXPECT_FALSE(f.host.LastStatus().red);
    EXPECT_FALSE(dialog.ChipReadPending());
  }

  OperationFixture f;
  ViewDataDialog dialog;
};

TEST_F(ViewDataTest, ShowsTheByteTheChipHoldsAfterARecognition) {
  f.FillChip(0x12345, {0xAB, 0xCD});
  const ViewDataTexts texts = View("12345");
  EXPECT_EQ(texts.file_data, "null");
  EXPECT_EQ(texts.chip_data, "AB");
  EXPECT_EQ(texts.state, "file unopened,chip read succeed...");
  ExpectFinished();

  // The recognition probed first; then code 17 carried the address, most significant
  // byte first, with a 100 ms time-out, and 2 bytes were read with 100 ms.
  EXPECT_GE(f.traffic.CountCommand(command_code::kReadChipId), 1u);
  const auto sent = ReadAtCommands();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].timeout_ms, 100);
  EXPECT_EQ((std::vector<std::uint8_t>(sent[0].bytes.begin() + 13, sent[0].bytes.begin() + 17)),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x23, 0x45}));
  EXPECT_EQ(sent[0].bytes[1] & 0x40, 0);
  const auto reads = ReadsAfterReadAt();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].size, 2);
  EXPECT_EQ(reads[0].timeout_ms, 100);
  EXPECT_EQ(reads[0].endpoint, 0x83);

  // The last byte of the chip is still on it.
  f.FillChip(0x3FFFFF, {0x5C});
  EXPECT_EQ(View("3FFFFF").chip_data, "5C");

  // At a real programmer's pace the reply still comes within the 100 ms.
  f.bus.SetTiming(sim::Timing::kRealistic);
  EXPECT_EQ(View("12346").chip_data, "CD");
}

TEST_F(ViewDataTest, AddressPastTheChipIsAnOverflowAndSendsNothing) {
  const ViewDataTexts texts = View("400000");
  EXPECT_EQ(texts.chip_data, "overflow");
  EXPECT_EQ(texts.state, "file unopened,chip overflow...");
  EXPECT_TRUE(ReadAtCommands().empty());
  ExpectFinished();
}

TEST_F(ViewDataTest, ImageAndChipSideBySideAndTheHexViewGoesThere) {
  ASSERT_TRUE(f.LoadImageOfSize(0x800));
  f.FillChip(0x7FF, {0x3E});
  const ViewDataTexts texts = View("7FF");
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02X", PatternByte(0x7FF));
  EXPECT_EQ(texts.file_data, expected);
  EXPECT_EQ(texts.chip_data, "3E");
  EXPECT_EQ(texts.state, "file read succeed,chip read succeed...");
  EXPECT_EQ(f.image.TopRow(), 0x80u - 20);  // the last page, full
  EXPECT_EQ(f.hex.FocusCell(), (GridCell{20, 16}));

  // Past the image but on the chip: each side says so on its own.
  f.FillChip(0x800, {0x77});
  const ViewDataTexts past = View("800");
  EXPECT_EQ(past.file_data, "overflow");
  EXPECT_EQ(past.chip_data, "77");
  EXPECT_EQ(past.state, "file overflow,chip read succeed...");
}

class ViewDataWordChip : public ViewDataTest {
 protected:
  ViewDataWordChip() : ViewDataTest("AT93C66(16bit)") {}
};

TEST_F(ViewDataWordChip, AWordAddressReadsBothBytesAtTwiceTheAddress) {
  std::vector<std::uint8_t> image(0x40, 0xEE);
  image[0x20] = 0x12;
  image[0x21] = 0x34;
  ASSERT_TRUE(f.LoadImage(f.WriteImageFile("words.bin", image)));
  f.FillChip(0x20, {0xBE, 0xEF});
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.file_data, "1234");
  EXPECT_EQ(texts.chip_data, "BEEF");
  EXPECT_EQ(texts.state, "file read succeed,chip read succeed...");
  // The recognition found the 93 family the user had chosen: the selection stays.
  EXPECT_EQ(f.SelectedModel(), "AT93C66(16bit)");
  const auto sent = ReadAtCommands();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes[16], 0x20);
  EXPECT_EQ(sent[0].bytes[1] & 0x40, 0x40);
  EXPECT_EQ(f.hex.FocusCell(), (GridCell{3, 1}));

  // The last word (255) lies at bytes 510 and 511 of a 512-byte chip; word 256 does not.
  f.FillChip(510, {0x0A, 0x0B});
  EXPECT_EQ(View("FF").chip_data, "0A0B");
  EXPECT_EQ(View("100").chip_data, "overflow");
  // Doubling the largest word address must not wrap onto the chip.
  EXPECT_EQ(View("FFFFFFFF").chip_data, "overflow");
  EXPECT_TRUE(ReadAtCommands().empty());
}

TEST_F(ViewDataWordChip, AReplyShorterThanTheWordIsNotShown) {
  f.programmer.TruncateReply(sim::ReplyKind::kReadAt, 1);
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "null");
  EXPECT_EQ(texts.state, "file unopened,device unconnected...");
}

class ViewDataDfu : public ViewDataTest {
 protected:
  static sim::ProgrammerConfig Dfu() {
    sim::ProgrammerConfig config;
    config.dfu_mode = true;
    return config;
  }
  ViewDataDfu() : ViewDataTest("W25Q32BV", Dfu()) {}
};

TEST_F(ViewDataDfu, TheUpdateModeIsReportedWithoutAsking) {
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "null");
  EXPECT_EQ(texts.state, "file unopened,device is in dfu mode...");
  EXPECT_EQ(f.state.dfu_mode.load(), 1);
  EXPECT_TRUE(ReadAtCommands().empty());
  ExpectFinished();
}

TEST_F(ViewDataTest, AnUnpluggedProgrammerIsUnconnected) {
  f.bus.Unplug();
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "null");
  EXPECT_EQ(texts.state, "file unopened,device unconnected...");
  EXPECT_TRUE(ReadAtCommands().empty());
  // The recognition's own report comes first, the dialog's end last.
  const auto statuses = f.host.StatusTexts();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], "device is unconnected");
  ExpectFinished();
}

TEST_F(ViewDataTest, ADroppedReplyTimesOutAfter100Ms) {
  f.FillChip(0x10, {0x42});
  f.programmer.DropReply(sim::ReplyKind::kReadAt);
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "null");
  EXPECT_EQ(texts.state, "file unopened,device unconnected...");
  const auto reads = ReadsAfterReadAt();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_LT(reads[0].result, 0);
  EXPECT_EQ(reads[0].timeout_ms, 100);
  ExpectFinished();
  // The next look gets its own reply, not a late one.
  EXPECT_EQ(View("10").chip_data, "42");
}

TEST_F(ViewDataTest, AnEmptySocketSendsTheCommandButReadsNoReply) {
  f.EmptySocket();
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "null");
  EXPECT_EQ(texts.state, "file unopened,device unconnected...");
  EXPECT_EQ(ReadAtCommands().size(), 1u);
  EXPECT_TRUE(ReadsAfterReadAt().empty());
}

TEST_F(ViewDataTest, WithoutAutoRecognizeAClosedLinkIsOpenedForTheRead) {
  f.SetAutoRecognize(false);
  ASSERT_FALSE(f.link.IsOpen());
  f.FillChip(0x10, {0x99});
  const ViewDataTexts texts = View("10");
  EXPECT_EQ(texts.chip_data, "99");
  EXPECT_EQ(texts.state, "file unopened,chip read succeed...");
  EXPECT_EQ(f.traffic.CountCommand(command_code::kReadChipId), 0u);

  // With the programmer gone as well, it is plainly unconnected.
  f.link.CloseDevice();
  f.bus.Unplug();
  EXPECT_EQ(View("10").state, "file unopened,device unconnected...");
}

TEST_F(ViewDataTest, TextsStartAsNullAndTheAddressBoxTakesHexOnly) {
  EXPECT_EQ(dialog.Texts().file_data, "null");
  EXPECT_EQ(dialog.Texts().chip_data, "null");
  EXPECT_EQ(dialog.Texts().state, "null");
  EXPECT_FALSE(dialog.ChipReadPending());

  KeystrokeResult r = dialog.EditAddress("1g", 2, f.host);
  EXPECT_EQ(r.text, "1");
  EXPECT_EQ(r.caret, 1u);
  EXPECT_EQ(f.host.BoxTexts().back(), "please input hex data!   ");
  EXPECT_EQ(dialog.EditAddress("1abc", 4, f.host).text, "1ABC");
  EXPECT_EQ(dialog.AddressText(), "1ABC");
  EXPECT_EQ(dialog.EditAddress("123456789", 9, f.host).text, "12345678");
  EXPECT_EQ(dialog.AddressText(), "12345678");

  // An empty box is refused before anything is read.
  dialog.SetAddressText("");
  f.traffic.Clear();
  EXPECT_FALSE(dialog.Ok(f.image, f.hex, f.host, f.packet));
  EXPECT_EQ(f.host.BoxTexts().back(), "please input the address!   ");
  EXPECT_EQ(f.host.RecordsOf(HostRecord::Kind::kMessageBox).back().title, "info");
  EXPECT_FALSE(dialog.ChipReadPending());
  EXPECT_FALSE(dialog.TakeRequest());
  EXPECT_TRUE(f.traffic.Transfers().empty());
  EXPECT_EQ(dialog.Texts().state, "null");
}

TEST_F(ViewDataTest, OkShowsTheFileSideAtOnceAndOnlyTheLatestChipResultLands) {
  f.FillChip(0x20, {0x21});
  dialog.SetAddressText("10");
  const auto first = dialog.Ok(f.image, f.hex, f.host, f.packet);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->address, 0x10u);
  EXPECT_TRUE(dialog.ChipReadPending());
  EXPECT_EQ(dialog.Texts().state, "file unopened");
  EXPECT_EQ(dialog.Texts().chip_data, "null");

  dialog.SetAddressText("20");
  const auto second = dialog.Ok(f.image, f.hex, f.host, f.packet);
  ASSERT_TRUE(second);
  // The first OK's answer arrives late: the dialog already shows the second address.
  dialog.FinishChipSide(*first, {"10", ",chip read succeed"}, f.host);
  EXPECT_EQ(dialog.Texts().chip_data, "null");
  EXPECT_TRUE(dialog.ChipReadPending());
  RunViewData(f.ctx, dialog);
  EXPECT_EQ(dialog.Texts().chip_data, "21");
  EXPECT_EQ(dialog.Texts().state, "file unopened,chip read succeed...");
  // Nothing is left for another run.
  f.traffic.Clear();
  RunViewData(f.ctx, dialog);
  EXPECT_TRUE(f.traffic.Transfers().empty());
}

TEST_F(ViewDataTest, ReopeningShowsNullAgainAndDropsTheLastDialogsChipRead) {
  f.FillChip(0x10, {0x5A});
  const ViewDataTexts shown = View("10");
  ASSERT_EQ(shown.chip_data, "5A");
  dialog.Open();
  EXPECT_EQ(dialog.AddressText(), "");
  EXPECT_EQ(dialog.Texts().file_data, "null");
  EXPECT_EQ(dialog.Texts().chip_data, "null");
  EXPECT_EQ(dialog.Texts().state, "null");

  // An OK whose chip side is still queued when the dialog closes and opens again.
  dialog.SetAddressText("10");
  const auto late = dialog.Ok(f.image, f.hex, f.host, f.packet);
  ASSERT_TRUE(late);
  dialog.Open();
  EXPECT_FALSE(dialog.ChipReadPending());
  f.traffic.Clear();
  RunViewData(f.ctx, dialog);  // the worker finds nothing to read
  EXPECT_TRUE(f.traffic.Transfers().empty());
  dialog.FinishChipSide(*late, {"5A", ",chip read succeed"}, f.host);
  EXPECT_EQ(dialog.Texts().chip_data, "null");
}

}  // namespace
}  // namespace tarvix::testing
