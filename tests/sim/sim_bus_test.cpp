// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated bus and backend: bus order, arrivals and departures, scheduled events,
// virtual time, and the link-level fault knobs.
#include "sim/sim_bus.h"

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace tarvix::sim {
namespace {

using testing::Bytes;
using testing::SimFixture;

class SimBusTest : public SimFixture {};

std::uint32_t SerialOf(SimFixture& f) {
  EXPECT_EQ(f.Send(22), 20);
  const Bytes id = f.Read(7);
  return id.size() == 7 ? (std::uint32_t{id[4]} << 16) | (id[5] << 8) | id[6] : 0;
}

TEST_F(SimBusTest, DevicesAreListedInBusOrderThenDeviceOrder) {
  programmer->SetSerial(1);
  ProgrammerConfig c;
  c.serial = 2;
  bus.AddProgrammer(c, /*bus=*/2);
  bus.AddForeignDevice(0x046D, 0xC077, /*bus=*/1);
  c.serial = 3;
  bus.AddProgrammer(c, /*bus=*/1);
  usb.Rescan();
  const auto devices = usb.Devices();
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].bus, 0);
  EXPECT_EQ(devices[1].vendor_id, 0x046D);
  EXPECT_EQ(devices[2].bus, 1);
  EXPECT_EQ(devices[3].bus, 2);
  Open(0);
  EXPECT_EQ(SerialOf(*this), 1u);
  Open(2);
  EXPECT_EQ(SerialOf(*this), 3u);
  Open(3);
  EXPECT_EQ(SerialOf(*this), 2u);
  // A device that is not a programmer never answers.
  Open(1);
  int r = 0;
  EXPECT_EQ(Send(22), kResultTimeout);
  Read(7, 100, &r);
  EXPECT_EQ(r, kResultTimeout);
}

TEST_F(SimBusTest, UnplugAndReplugRaiseNoticesAndKillOpenHandles) {
  int notices = 0;
  usb.SetDeviceChangeHandler([&] { ++notices; });
  Open();
  usb.Rescan();  // the list as the host last saw it
  bus.Unplug();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(Send(18), kResultNoDevice);
  EXPECT_EQ(usb.ReleaseInterface(handle, 0), kResultNoDevice);
  EXPECT_EQ(usb.Close(handle), 0);
  EXPECT_EQ(usb.Open(0), kNoUsbHandle);  // stale list: the device is gone
  usb.Rescan();
  EXPECT_TRUE(usb.Devices().empty());
  bus.Unplug();  // already out: nothing happens
  EXPECT_EQ(notices, 1);
  bus.Replug();
  EXPECT_EQ(notices, 2);
  Open();
  EXPECT_EQ(Send(18), 20);
  EXPECT_EQ(Read(1), (Bytes{0x12}));
  bus.Replug();  // while plugged in: a power cycle, out and in
  EXPECT_EQ(notices, 4);
  EXPECT_EQ(Send(18), kResultNoDevice);
}

TEST_F(SimBusTest, AddingAProgrammerIsADeviceChange) {
  int notices = 0;
  bus.SetDeviceChangeHandler([&] { ++notices; });
  bus.AddProgrammer();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(bus.ProgrammerCount(), 2u);
}

TEST_F(SimBusTest, ReadsWithNothingPendingWaitTheirWholeTimeOutInVirtualTime) {
  Open();
  const std::int64_t t0 = clock.NowMs();
  int r = 0;
  Read(64, 5000, &r);
  EXPECT_EQ(r, kResultTimeout);
  EXPECT_EQ(clock.NowMs() - t0, 5000);
  // A pending reply comes at once in instant timing.
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(Read(64, 5000).size(), 1u);
  EXPECT_EQ(clock.NowMs() - t0, 5000);
  // A time-out of 0 is "no limit" to the library: a reply that never comes costs an hour.
  Read(64, 0, &r);
  EXPECT_EQ(r, kResultTimeout);
  EXPECT_EQ(clock.NowMs() - t0, 5000 + kUnlimitedWaitMs);
}

TEST_F(SimBusTest, RealisticTimingMovesAboutAMegabytePerSecond) {
  bus.SetTiming(Timing::kRealistic);
  Insert(testing::SpiFlash(1 << 20));
  Open();
  const std::int64_t t0 = clock.NowMs();
  ASSERT_EQ(Send(13, {}, 5000), 20);
  ASSERT_EQ(ReadStream(1 << 20).size(), std::size_t{1} << 20);
  const std::int64_t ms = clock.NowMs() - t0;
  EXPECT_GE(ms, 1000);
  EXPECT_LE(ms, 1200);
  // Writing a 24-series chip is paced by its 5 ms page cycles.
  Insert(testing::Eeprom(ChipFamily::kEeprom24, 4096, false, 32));
  const std::int64_t t1 = clock.NowMs();
  ASSERT_EQ(Send(1), 20);
  ASSERT_EQ(Write(Bytes(4096, 0)), 4096);
  EXPECT_NEAR(clock.NowMs() - t1, 4096 / 32 * 5, 10);
}

TEST_F(SimBusTest, ScheduledEventsRunWhenVirtualTimeReachesThem) {
  Insert(testing::Eeprom(ChipFamily::kEeprom24, 256));
  Open();
  bus.At(3000, [](SimBus& b) { b.Programmer().RemoveChip(); });
  bus.At(6000, [](SimBus& b) {
    b.Programmer().InsertChip(
        std::make_unique<VirtualChip>(testing::Eeprom(ChipFamily::kEeprom24, 256)));
  });
  auto probe = [&] {
    EXPECT_EQ(Send(7, {}, 5000), 20);
    return Read(3, 5000);
  };
  EXPECT_EQ(probe(), (Bytes{0, 0, 1}));
  clock.SleepMs(3000);
  EXPECT_EQ(probe(), (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(programmer->chip(), nullptr);
  clock.SleepMs(3000);
  EXPECT_EQ(probe(), (Bytes{0, 0, 1}));
}

TEST_F(SimBusTest, TimeOutOnTheNextTransferLosesItAndCostsItsTimeOut) {
  Open();
  programmer->TimeOutNextTransfer(Pipe::kInterruptOut);
  const std::int64_t t0 = clock.NowMs();
  EXPECT_EQ(Send(18, {}, 100), kResultTimeout);
  EXPECT_EQ(clock.NowMs() - t0, 100);
  EXPECT_EQ(programmer->CommandCount(18), 0u);
  EXPECT_EQ(Send(18, {}, 100), 20);
  // On a read the reply stays and comes with the next one.
  programmer->TimeOutNextTransfer(Pipe::kBulkIn);
  int r = 0;
  Read(1, 100, &r);
  EXPECT_EQ(r, kResultTimeout);
  EXPECT_EQ(Read(1, 100), (Bytes{0x12}));
}

TEST_F(SimBusTest, PartialBulkAcceptanceTakesOnlyPartOfAWrite) {
  VirtualChip& chip = Insert(testing::Eeprom(ChipFamily::kEeprom25, 8192));
  Open();
  ASSERT_EQ(Send(1), 20);
  programmer->AcceptPartialBulkWrites(1000, 1);
  Bytes data(4096, 0x77);
  EXPECT_EQ(Write(data), 1000);
  EXPECT_EQ(chip.ReadByte(999), 0x77);
  EXPECT_EQ(chip.ReadByte(1000), 0xFF);
  EXPECT_EQ(Write(data), 4096);  // the knob was for one transfer
  EXPECT_EQ(chip.ReadByte(5095), 0x77);
}

TEST_F(SimBusTest, LinkFailureAfterSomeBytesBreaksEverythingUntilReplug) {
  Insert(testing::SpiFlash(1 << 16));
  Open();
  programmer->FailLinkAfterBytes(20 + 8192 + 100);
  ASSERT_EQ(Send(13), 20);
  EXPECT_EQ(Read(8192, 5000).size(), 8192u);
  int r = 0;
  Read(8192, 5000, &r);
  EXPECT_EQ(r, kResultIoError);
  EXPECT_EQ(Send(18), kResultIoError);
  bus.Replug();
  Open();
  EXPECT_EQ(Send(18), 20);
}

TEST_F(SimBusTest, OpenConfigurationAndInterfaceCanBeRefused) {
  usb.Rescan();
  programmer->RefuseOpen(true);
  EXPECT_EQ(usb.Open(0), kNoUsbHandle);
  programmer->RefuseOpen(false);
  handle = usb.Open(0);
  ASSERT_NE(handle, kNoUsbHandle);
  programmer->RefuseConfiguration(true);
  EXPECT_LT(usb.SetConfiguration(handle, 1), 0);
  programmer->RefuseConfiguration(false);
  EXPECT_LT(usb.SetConfiguration(handle, 2), 0);  // only configuration 1 exists
  EXPECT_EQ(usb.SetConfiguration(handle, 1), 0);
  programmer->RefuseInterface(true);
  EXPECT_LT(usb.ClaimInterface(handle, 0), 0);
  programmer->ClearFaults();
  EXPECT_LT(usb.ClaimInterface(handle, 1), 0);
  EXPECT_EQ(usb.ClaimInterface(handle, 0), 0);
  EXPECT_EQ(usb.Close(handle), 0);
  EXPECT_LT(usb.Close(handle), 0);
  EXPECT_LT(usb.BulkRead(12345, kBulkInEndpoint, nullptr, 0, 10), 0);
}

TEST_F(SimBusTest, StaleBytesWaitAtOpenUntilDrained) {
  programmer->QueueStaleBytes({1, 2, 3});
  Open();
  EXPECT_EQ(programmer->PendingReplyBytes(), 3u);
  EXPECT_EQ(Read(64, 100), (Bytes{1, 2, 3}));
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(Read(64, 100), (Bytes{0x12}));
}

TEST_F(SimBusTest, ReplyFaultsDropReplaceTruncateAndDelayTheChosenReplies) {
  VirtualChip& chip = Insert(testing::SpiFlash(4096));
  Open();
  programmer->DropReply(ReplyKind::kVersion);
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(programmer->PendingReplyBytes(), 0u);
  ASSERT_EQ(Send(18), 20);
  EXPECT_EQ(Read(1), (Bytes{0x12}));  // only the first was dropped

  programmer->ReplaceReply(ReplyKind::kChipId, {0x00, 0x1F, 0x00});
  ASSERT_EQ(Send(7), 20);
  EXPECT_EQ(Read(3), (Bytes{0x00, 0x1F, 0x00}));

  programmer->AddReplyFault({ReplyKind::kChipData, ReplyFault::Action::kTruncate, {}, 100, 0, 1});
  ASSERT_EQ(Send(13), 20);
  EXPECT_EQ(ReadStream(4096).size(), 100u);

  const std::uint8_t byte[1] = {0x00};
  chip.Load(7, byte, 1);
  programmer->AddReplyFault({ReplyKind::kChipData, ReplyFault::Action::kCorrupt, {}, 7, 0, 1});
  ASSERT_EQ(Send(13), 20);
  EXPECT_EQ(ReadStream(4096)[7], 0xFF);

  programmer->AddReplyFault({ReplyKind::kAny, ReplyFault::Action::kDelay, {}, 2500, 0, 1});
  ASSERT_EQ(Send(18), 20);
  int r = 0;
  Read(1, 1000, &r);
  EXPECT_EQ(r, kResultTimeout);
  const std::int64_t t0 = clock.NowMs();
  EXPECT_EQ(Read(1, 5000), (Bytes{0x12}));
  EXPECT_EQ(clock.NowMs() - t0, 1500);

  // Every matching reply, with the first ones let through.
  programmer->AddReplyFault({ReplyKind::kIdentity, ReplyFault::Action::kDrop, {}, 0, 1, -1});
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(22), 20);
  EXPECT_EQ(programmer->PendingReplyBytes(), 7u);
}

}  // namespace
}  // namespace tarvix::sim
