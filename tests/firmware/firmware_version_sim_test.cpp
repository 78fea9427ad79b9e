// SPDX-License-Identifier: GPL-3.0-or-later
// The link and the firmware version against the simulated programmer, on virtual time.
#include <gtest/gtest.h>

#include "device/clock.h"
#include "device/recording_host.h"
#include "firmware/firmware_version.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"

namespace tarvix {
namespace {

struct SimLinkTest : ::testing::Test {
  VirtualClock clock;
  sim::SimBus bus{clock};
  sim::SimBackend usb{bus};
  MainState state;
  RecordingHost host{&state};
  UsbLink link{usb, host, state};
  CommandPacket packet;

  void SetUp() override { packet.SetMarks(); }
  sim::VirtualProgrammer& Add(std::uint32_t serial, std::uint8_t version, int on_bus) {
    sim::ProgrammerConfig config;
    config.serial = serial;
    config.firmware_version = version;
    return bus.AddProgrammer(config, on_bus);
  }
};

TEST_F(SimLinkTest, TheProgrammerOnTheFirstBusAnswers) {
  bus.AddForeignDevice(0x1234, 0x0001, 0);
  Add(222222, 0x12, 1);
  Add(111111, 0x12, 0);  // plugged in later, but on an earlier bus
  ASSERT_EQ(link.CheckDeviceOpen(), kDeviceReady);
  EXPECT_EQ(ReadProgrammerSerial(link, packet), 111111u);
}

TEST_F(SimLinkTest, StaleBytesDoNotReachTheFirstReply) {
  sim::VirtualProgrammer& p = Add(1234, 0x1F, 0);
  p.QueueStaleBytes({6, 6, 6, 6, 6, 6, 6, 6});
  ASSERT_TRUE(link.ConnectDevice(false));
  EXPECT_EQ(ReadProgrammerSerial(link, packet), 1234u);
}

TEST_F(SimLinkTest, FirmwareVersionBox) {
  Add(1234, 0x1F, 0);
  const FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"\r\nfirmware SN:001234\r\nfirmware "
                                                      "version:VRNT_Tarvix FirmWare V2.F     "});
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(SimLinkTest, FirmwareVersionWithLostOrBadReplies) {
  sim::VirtualProgrammer& p = Add(130000, 0x00, 0);
  p.DropReply(sim::ReplyKind::kVersion);
  const std::int64_t before = clock.NowMs();
  FirmwareVersionResult r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_TRUE(r.ok);
  EXPECT_GE(clock.NowMs() - before, 100);  // the version read waited out its 100 ms
  EXPECT_EQ(host.BoxTexts().back(), "\r\nfirmware SN:130000");

  p.ReplaceReply(sim::ReplyKind::kVersion, {0xFF});
  r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host.BoxTexts().back(), "firmware version access failed  ");

  p.DropReply(sim::ReplyKind::kIdentity);
  r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host.BoxTexts().back(), "firmware version access failed!  ");

  bus.Unplug();
  r = ShowFirmwareVersion(link, packet, host, state);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host.BoxTexts().back(), "device is unconnected!       ");
}

}  // namespace
}  // namespace tarvix
