// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/firmware_version.h"

#include <gtest/gtest.h>

#include "device/fake_usb_backend.h"
#include "device/recording_host.h"

namespace tarvix {
namespace {

using testing::FakeUsbBackend;
using Kind = HostRecord::Kind;

// A programmer that answers code 18 with `version` and code 22 with `identity`.
struct FirmwareVersionTest : ::testing::Test {
  FakeUsbBackend usb;
  MainState state;
  RecordingHost host{&state};
  UsbLink link{usb, host, state};
  CommandPacket packet;
  std::vector<std::uint8_t> version{0x12};
  std::vector<std::uint8_t> identity{0, 0, 0, 0, 0x00, 0x04, 0xD2};  // serial 1234

  void SetUp() override {
    packet.SetMarks();
    usb.AddProgrammer(0, 1);
    usb.on_command = [this](FakeUsbBackend& b, const std::vector<std::uint8_t>& frame) {
      if ((frame[1] & 0x3F) == 18 && !version.empty()) b.replies.push_back(version);
      if ((frame[1] & 0x3F) == 22 && !identity.empty()) b.replies.push_back(identity);
    };
  }
};

TEST(FirmwareVersionText, MajorIsHighNibblePlusOneInHex) {
  EXPECT_EQ(FirmwareVersionText(0x00), "V1.0");
  EXPECT_EQ(FirmwareVersionText(0x1F), "V2.F");
  EXPECT_EQ(FirmwareVersionText(0x12), "V2.2");
  EXPECT_EQ(FirmwareVersionText(0x9A), "VA.A");
  EXPECT_EQ(FirmwareVersionText(0xF0), "V10.0");
}

TEST(FirmwareVersionText, SerialIsSixDigitsWithLeadingZeros) {
  EXPECT_EQ(SerialText(1234), "001234");
  EXPECT_EQ(SerialText(0), "000000");
  EXPECT_EQ(SerialText(999999), "999999");
  EXPECT_EQ(SerialText(0xFFFFFF), "16777215");
}

TEST(FirmwareVersionText, SecondPictureFollowsTheSerialSeries) {
  EXPECT_EQ(SecondPictureForSerial(130000), 227);
  EXPECT_EQ(SecondPictureForSerial(139999), 227);
  EXPECT_EQ(SecondPictureForSerial(129999), 208);
  EXPECT_EQ(SecondPictureForSerial(140000), 208);
}

TEST_F(FirmwareVersionTest, ShowsSerialAndVersionInOneBox) {
  for (auto [byte, text] : {std::pair<std::uint8_t, const char*>{0x00, "V1.0"},
                            std::pair<std::uint8_t, const char*>{0x1F, "V2.F"}}) {
    version = {byte};
    host.ClearRecords();
    const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.serial, 1234u);
    EXPECT_EQ(r.version_byte, byte);
    const std::string expected = std::string(
                                     "\r\nfirmware SN:001234\r\nfirmware version:"
                                     "VRNT_Tarvix FirmWare ") +
                                 text + "     ";
    EXPECT_EQ(r.box_text, expected);
    const auto boxes = host.RecordsOf(Kind::kMessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expected);
    EXPECT_EQ(boxes[0].title, "version information");
    EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
  }
  // Code 18 then code 22, each with 100 ms, each reply read with 100 ms.
  const auto sent = usb.CallsNamed("interrupt_write");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2].data[1] & 0x3F, 18);
  EXPECT_EQ(sent.back().data[1] & 0x3F, 22);
  EXPECT_EQ(sent.back().timeout_ms, 100);
  const auto reads = usb.CallsNamed("bulk_read");
  EXPECT_EQ(reads[reads.size() - 2].size, 1);
  EXPECT_EQ(reads.back().size, 7);
  EXPECT_EQ(reads.back().timeout_ms, 100);
}

TEST_F(FirmwareVersionTest, UnreadableVersionByteFails) {
  version = {0xFF};
  const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"firmware version access failed  "});
  EXPECT_EQ(host.RecordsOf(Kind::kMessageBox)[0].icon, BoxIcon::kNone);
  EXPECT_EQ(host.RecordsOf(Kind::kMessageBox)[0].title, "info");
}

TEST_F(FirmwareVersionTest, ShortIdentityFails) {
  identity = {1, 2, 3, 4, 5};
  const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"firmware version access failed!  "});
}

TEST_F(FirmwareVersionTest, MissingVersionReplyLeavesItsPartEmpty) {
  version.clear();
  const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.version_byte.has_value());
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"\r\nfirmware SN:001234"});
}

TEST_F(FirmwareVersionTest, FailedSendsLeaveBothPartsEmpty) {
  usb.interrupt_result = -1;
  const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"\r\nfirmware SN:"});
}

TEST_F(FirmwareVersionTest, RefusesInDfuModeAndWithoutProgrammer) {
  state.dfu_mode = 1;
  EXPECT_FALSE(ShowFirmwareVersion(link, packet, host, state).ok);
  ASSERT_EQ(host.StatusTexts(), std::vector<std::string>{"device is in dfu mode"});
  EXPECT_TRUE(host.LastStatus().red);
  EXPECT_TRUE(host.LastStatus().beep);
  EXPECT_TRUE(usb.calls.empty());

  state.dfu_mode = 0;
  usb.devices.clear();
  host.ClearRecords();
  EXPECT_FALSE(ShowFirmwareVersion(link, packet, host, state).ok);
  const auto boxes = host.RecordsOf(Kind::kMessageBox);
  ASSERT_EQ(boxes.size(), 1u);  // one box, not the link's and the command's
  EXPECT_EQ(boxes[0].text, "device is unconnected!       ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
}

TEST_F(FirmwareVersionTest, IdentityReadGivesTheSerialOrNothing) {
  ASSERT_TRUE(link.OpenSequence());
  identity = {9, 9, 9, 9, 0x01, 0xFB, 0xD0};  // 130000
  EXPECT_EQ(ReadProgrammerSerial(link, packet), 130000u);
  identity = {9, 9, 9};
  EXPECT_EQ(ReadProgrammerSerial(link, packet), std::nullopt);
  usb.interrupt_result = -1;
  const auto reads_before = usb.CallsNamed("bulk_read").size();
  EXPECT_EQ(ReadProgrammerSerial(link, packet), std::nullopt);
  EXPECT_EQ(usb.CallsNamed("bulk_read").size(), reads_before);  // nothing read after a failed send
  EXPECT_TRUE(host.Records().empty());
}

}  // namespace
}  // namespace tarvix
