// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/usb_link.h"

#include <gtest/gtest.h>

#include "device/command_protocol.h"
#include "device/fake_usb_backend.h"
#include "device/recording_host.h"

namespace tarvix {
namespace {

using testing::FakeUsbBackend;
using Kind = HostRecord::Kind;

struct LinkFixture : ::testing::Test {
  FakeUsbBackend usb;
  MainState state;
  RecordingHost host{&state};
  UsbLink link{usb, host, state};
};

using UsbLinkTest = LinkFixture;

TEST_F(UsbLinkTest, OpensTheFirstProgrammerInBusThenDeviceOrder) {
  usb.AddOther(0, 1);
  usb.AddProgrammer(1, 2);  // index 1: first programmer in list order
  usb.AddOther(1, 3);
  usb.AddProgrammer(1, 5);
  EXPECT_TRUE(link.IsDevicePresent());
  const UsbHandle h = link.OpenDeviceByIds(0x0716, 0x5017);
  ASSERT_NE(h, kNoUsbHandle);
  EXPECT_EQ(usb.DeviceOf(h), 1);
  EXPECT_EQ(usb.CallsNamed("open").size(), 1u);  // no other device was touched

  ASSERT_TRUE(link.ConfigureDevice(h, kLinkConfiguration, kLinkInterface));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Handle(), h);
  const auto config = usb.CallsNamed("config");
  const auto claim = usb.CallsNamed("claim");
  ASSERT_EQ(config.size(), 1u);
  ASSERT_EQ(claim.size(), 1u);
  EXPECT_EQ(config[0].endpoint, 1);  // configuration value
  EXPECT_EQ(claim[0].endpoint, 0);   // interface number
}

TEST_F(UsbLinkTest, NoProgrammerMeansAbsentAndNoHandle) {
  usb.AddOther(0, 1);
  EXPECT_FALSE(link.IsDevicePresent());
  EXPECT_EQ(link.OpenDeviceByIds(0x0716, 0x5017), kNoUsbHandle);
  EXPECT_TRUE(usb.CallsNamed("open").empty());
  EXPECT_GE(usb.rescans, 2);  // both walks look at a fresh bus list
}

TEST_F(UsbLinkTest, RefusedConfigurationOrInterfaceClosesTheHandleAndStaysClosed) {
  for (const bool refuse_config : {true, false}) {
    SCOPED_TRACE(refuse_config ? "configuration" : "interface");
    FakeUsbBackend local;
    RecordingHost local_host{&state};
    UsbLink local_link{local, local_host, state};
    local.AddProgrammer(0, 1);
    (refuse_config ? local.devices[0].set_configuration_result : local.devices[0].claim_result) =
        -5;
    EXPECT_FALSE(local_link.OpenSequence());
    EXPECT_FALSE(local_link.IsOpen());
    EXPECT_EQ(local_link.Handle(), kNoUsbHandle);
    ASSERT_EQ(local.CallsNamed("close").size(), 1u);
    EXPECT_EQ(local.CallsNamed("close")[0].handle,
              local.CallsNamed(refuse_config ? "config" : "claim")[0].handle);
    // The closed handle is never used for a transfer afterwards.
    std::uint8_t byte = 0;
    EXPECT_LT(local_link.BulkRead(&byte, 1, 100), 0);
    EXPECT_TRUE(local.CallsNamed("bulk_read").empty());
    EXPECT_EQ(local_host.StatusTexts(), std::vector<std::string>{"device is unconnected! "});
    EXPECT_TRUE(local_host.LastStatus().red);
    EXPECT_FALSE(local_host.LastStatus().beep);
  }
}

TEST_F(UsbLinkTest, ConfigureFailureIsSilentInDfuMode) {
  state.dfu_mode = 1;
  EXPECT_FALSE(link.ConfigureDevice(kNoUsbHandle, 1, 0));
  usb.AddProgrammer(0, 1);
  usb.devices[0].claim_result = -1;
  EXPECT_FALSE(link.OpenSequence());
  EXPECT_TRUE(host.Records().empty());
  state.dfu_mode = 0;
  EXPECT_FALSE(link.ConfigureDevice(kNoUsbHandle, 1, 0));
  EXPECT_EQ(host.StatusTexts(), std::vector<std::string>{"device is unconnected! "});
}

TEST_F(UsbLinkTest, ConfigureDrainsStaleReplyBeforeTheFirstCommand) {
  usb.AddProgrammer(0, 1);
  usb.replies.push_back(std::vector<std::uint8_t>(40, 0x06));  // left over from an old run
  ASSERT_TRUE(link.OpenSequence());
  const auto names = usb.CallNames();
  ASSERT_EQ(names, (std::vector<std::string>{"open", "config", "claim", "bulk_read"}));
  const auto drain = usb.CallsNamed("bulk_read")[0];
  EXPECT_EQ(drain.endpoint, 0x83);
  EXPECT_EQ(drain.size, 64);
  EXPECT_EQ(drain.timeout_ms, 100);
  EXPECT_TRUE(usb.replies.empty());
  // A drain that finds nothing still leaves the link open.
  ASSERT_TRUE(link.OpenSequence());
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(UsbLinkTest, EveryOpenIsFreshAndCloseReleasesFirst) {
  usb.AddProgrammer(0, 1);
  ASSERT_TRUE(link.OpenSequence());
  const UsbHandle first = link.Handle();
  usb.calls.clear();
  ASSERT_TRUE(link.OpenSequence());
  const auto names = usb.CallNames();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "release");
  EXPECT_EQ(names[1], "close");
  EXPECT_EQ(usb.calls[1].handle, first);
  EXPECT_EQ(names[2], "open");
  EXPECT_NE(link.Handle(), first);

  EXPECT_TRUE(link.CloseDevice());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.Handle(), kNoUsbHandle);
  // Closing a closed link touches nothing and still succeeds.
  usb.calls.clear();
  EXPECT_TRUE(link.CloseDevice());
  EXPECT_TRUE(usb.calls.empty());
}

TEST_F(UsbLinkTest, ASecondHandleThatFailsLeavesTheOpenLinkAlone) {
  usb.AddProgrammer(0, 1);
  usb.AddProgrammer(0, 2);
  ASSERT_TRUE(link.OpenSequence());
  const UsbHandle first = link.Handle();
  usb.devices[1].claim_result = -16;
  const UsbHandle second = usb.Open(1);
  EXPECT_FALSE(link.ConfigureDevice(second, 1, 0));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Handle(), first);
  // A second handle that configures replaces the first, which is closed, not leaked.
  usb.devices[1].claim_result = 0;
  const UsbHandle third = usb.Open(1);
  usb.calls.clear();
  ASSERT_TRUE(link.ConfigureDevice(third, 1, 0));
  EXPECT_EQ(link.Handle(), third);
  EXPECT_EQ(usb.DeviceOf(first), -1);
  EXPECT_EQ(usb.CallsNamed("close").size(), 1u);
}

TEST_F(UsbLinkTest, ZeroTimeOutMeans500ForReadsAndInterruptWrites) {
  usb.AddProgrammer(0, 1);
  ASSERT_TRUE(link.OpenSequence());
  usb.calls.clear();
  std::uint8_t buffer[8] = {};
  usb.replies.push_back({1, 2, 3});
  EXPECT_EQ(link.BulkRead(buffer, 8, 0), 3);  // fewer than asked is passed back as is
  EXPECT_EQ(link.BulkRead(buffer, 8, 0), -110);
  EXPECT_TRUE(link.InterruptWrite(2, buffer, 4, 0));
  EXPECT_EQ(link.BulkWrite(buffer, 8, 60000), 8);
  ASSERT_EQ(usb.calls.size(), 4u);
  EXPECT_EQ(usb.calls[0].timeout_ms, 500);
  EXPECT_EQ(usb.calls[1].timeout_ms, 500);
  EXPECT_EQ(usb.calls[2].timeout_ms, 500);
  EXPECT_EQ(usb.calls[2].endpoint, 2);
  EXPECT_EQ(usb.calls[3].endpoint, 1);
  EXPECT_EQ(usb.calls[3].timeout_ms, 60000);
  // Only a negative answer is a failed interrupt write.
  usb.interrupt_result = -7;
  EXPECT_FALSE(link.InterruptWrite(2, buffer, 4, 0));
}

TEST_F(UsbLinkTest, CheckDeviceOpenWithoutProgrammer) {
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceRefused);
  const auto records = host.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].kind, Kind::kGrayMenuItem);
  EXPECT_EQ(records[0].id, 32804);
  EXPECT_EQ(records[1].kind, Kind::kStatus);
  EXPECT_EQ(records[1].text, "device is unconnected!");
  EXPECT_TRUE(records[1].red);
  EXPECT_FALSE(records[1].beep);
  EXPECT_EQ(records[2].kind, Kind::kMessageBox);
  EXPECT_EQ(records[2].text, "device is unconnected!");
  EXPECT_EQ(records[2].title, "info");
  EXPECT_EQ(records[2].icon, BoxIcon::kWarning);
  EXPECT_TRUE(host.Commands().IsMenuGrayed(32804));
  EXPECT_EQ(state.red_flag.load(), 1);
}

TEST_F(UsbLinkTest, CheckDeviceOpenWhenTheProgrammerWillNotOpen) {
  usb.AddProgrammer(0, 1);
  usb.devices[0].opens = false;
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_EQ(host.StatusTexts(),
            (std::vector<std::string>{"device is unconnected! ", "device open failed!"}));
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"device open failed!"});
  EXPECT_EQ(host.RecordsOf(Kind::kGrayMenuItem).size(), 1u);
  EXPECT_EQ(host.Status().text, "device open failed!");
}

TEST_F(UsbLinkTest, AnInterfaceHeldElsewhereIsNamedAsTheCause) {
  usb.AddProgrammer(0, 1);
  usb.devices[0].claim_result = kUsbBusy;
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_EQ(link.OpenFailureReason(), kDeviceInUseText);
  EXPECT_EQ(host.StatusTexts(),
            (std::vector<std::string>{"device is unconnected! ", kDeviceInUseText,
                                      "device open failed!"}));
  EXPECT_EQ(host.BoxTexts(),
            std::vector<std::string>{std::string("device open failed!\r\n") + kDeviceInUseText});
  host.ClearRecords();
  EXPECT_FALSE(link.ConnectDevice(true, "device is unconnected!       "));
  EXPECT_EQ(host.BoxTexts(),
            std::vector<std::string>{std::string("device is unconnected!       \r\n") +
                                     kDeviceInUseText});

  // Any other refusal keeps the plain texts, and a later success forgets the cause.
  host.ClearRecords();
  usb.devices[0].claim_result = kUsbIoError;
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceRefused);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"device open failed!"});
  EXPECT_TRUE(link.OpenFailureReason().empty());
  usb.devices[0].claim_result = kUsbBusy;
  EXPECT_FALSE(link.OpenSequence());
  usb.devices[0].claim_result = 0;
  EXPECT_TRUE(link.OpenSequence());
  EXPECT_TRUE(link.OpenFailureReason().empty());
}

TEST_F(UsbLinkTest, CheckDeviceOpenReadyLeavesNoMessages) {
  usb.AddProgrammer(0, 1);
  host.EnableMenuItem(32804);
  host.ClearRecords();
  EXPECT_EQ(link.CheckDeviceOpen(), kDeviceReady);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_TRUE(host.Records().empty());
}

TEST_F(UsbLinkTest, ConnectDeviceShowsItsBoxOnlyWhenAsked) {
  EXPECT_FALSE(link.ConnectDevice(false));
  EXPECT_TRUE(host.Records().empty());
  EXPECT_FALSE(link.ConnectDevice(true));
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"device is unconnected!"});
  EXPECT_EQ(host.RecordsOf(Kind::kMessageBox)[0].icon, BoxIcon::kWarning);
  usb.AddProgrammer(0, 1);
  EXPECT_TRUE(link.ConnectDevice(true));
  EXPECT_EQ(host.BoxTexts().size(), 1u);
}

TEST_F(UsbLinkTest, SetLinkParametersForgetsTheHandle) {
  usb.AddProgrammer(0, 1);
  ASSERT_TRUE(link.OpenSequence());
  link.SetLinkParameters();
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.Handle(), kNoUsbHandle);
  EXPECT_EQ(link.VendorId(), 0x0716);
  EXPECT_EQ(link.ProductId(), 0x5017);
}

using CommandProtocolTest = LinkFixture;

TEST_F(CommandProtocolTest, EveryPacketIsTwentyBytesFramedOnEndpointTwo) {
  usb.AddProgrammer(0, 1);
  ASSERT_TRUE(link.OpenSequence());
  usb.calls.clear();
  CommandPacket packet;
  packet.SetMarks();
  packet.SetByte(1, 0xC0);  // voltage and organisation bits of the chip
  const std::uint8_t count[4] = {0x00, 0x01, 0x02, 0x03};
  EXPECT_TRUE(SendCommand(link, packet, command_code::kEndOfData, 1000, count));
  EXPECT_TRUE(SendCommand(link, packet, command_code::kEndOperation, 0));
  const auto sent = usb.CallsNamed("interrupt_write");
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& s : sent) {
    EXPECT_EQ(s.endpoint, 2);
    ASSERT_EQ(s.data.size(), 20u);
    EXPECT_EQ(s.data.front(), 0xA5);
    EXPECT_EQ(s.data.back(), 0x5A);
  }
  EXPECT_EQ(sent[0].data[1], 0xC2);
  EXPECT_EQ(sent[0].timeout_ms, 1000);
  EXPECT_EQ(sent[1].data[1], 0xC9);
  EXPECT_EQ(sent[1].timeout_ms, 500);
  // Code 9 without payload still carries the byte count of the code 2 before it.
  EXPECT_EQ(std::vector<std::uint8_t>(sent[1].data.begin() + 13, sent[1].data.begin() + 17),
            (std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0x03}));
}

TEST_F(CommandProtocolTest, SendFailsWhenTheWriteFailsOrTheLinkIsClosed) {
  CommandPacket packet;
  packet.SetMarks();
  EXPECT_FALSE(SendCommand(link, packet, 18, 100));  // never opened
  usb.AddProgrammer(0, 1);
  ASSERT_TRUE(link.OpenSequence());
  usb.interrupt_result = -110;
  EXPECT_FALSE(SendCommand(link, packet, 18, 100));
  EXPECT_FALSE(SendShortFrame(link, 3, 100, 0x44));
  usb.interrupt_result = 0;
  EXPECT_TRUE(SendShortFrame(link, 3, 0, 0x44));
  const auto frame = usb.CallsNamed("interrupt_write").back();
  EXPECT_EQ(frame.endpoint, 2);
  EXPECT_EQ(frame.timeout_ms, 500);
  EXPECT_EQ(frame.data, (std::vector<std::uint8_t>{0xA5, 0x03, 0x44, 0x5A}));
}

}  // namespace
}  // namespace tarvix
