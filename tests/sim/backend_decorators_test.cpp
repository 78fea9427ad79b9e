// SPDX-License-Identifier: GPL-3.0-or-later
// The tracing and fault-injecting wrappers, in front of the simulated programmer.
#include <gtest/gtest.h>

#include <sstream>

#include "device/fault_injecting_backend.h"
#include "device/tracing_backend.h"
#include "sim_test_support.h"

namespace tarvix::sim {
namespace {

using testing::Bytes;
using testing::SimFixture;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(TracingFormat, TransferLinesShowDirectionEndpointSizesAndBytes) {
  const std::uint8_t packet[20] = {0xA5, 0x07, 0, 0, 8, 12, 0, 0x10, 0, 0,
                                   0,    0,    0, 0, 0, 0,  0, 0,    0, 0x5A};
  EXPECT_EQ(TracingBackend::FormatTransfer("INT-OUT", 2, 20, 100, 20, packet, 20),
            "INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 07 00 00 08 0C 00 10 00 00 00 00 "
            "00 00 00 00 00 00 00 5A");
  EXPECT_EQ(TracingBackend::FormatTransfer("BULK-IN", 0x83, 64, 10, -110, nullptr, 0),
            "BULK-IN  ep=0x83 len=64 timeout=10 result=-110");
  const Bytes big(4096, 0xAB);
  const std::string line =
      TracingBackend::FormatTransfer("BULK-OUT", 1, 4096, 60000, 4096, big.data(), 4096);
  EXPECT_EQ(line.rfind("BULK-OUT ep=0x01 len=4096 timeout=60000 result=4096 | AB AB", 0), 0u);
  EXPECT_NE(line.find(" ... (+4032 more)"), std::string::npos);
  EXPECT_EQ(line.size(),
            std::string("BULK-OUT ep=0x01 len=4096 timeout=60000 result=4096 |").size() + 64 * 3 +
                std::string(" ... (+4032 more)").size());
}

class DecoratorTest : public SimFixture {};

TEST_F(DecoratorTest, TracingPassesEverythingThroughAndLogsEachCall) {
  std::ostringstream log;
  TracingBackend trace(usb, log, &clock);
  int notices = 0;
  trace.SetDeviceChangeHandler([&] { ++notices; });
  trace.Rescan();
  ASSERT_EQ(trace.Devices().size(), 1u);
  const UsbHandle h = trace.Open(0);
  ASSERT_EQ(trace.SetConfiguration(h, 1), 0);
  ASSERT_EQ(trace.ClaimInterface(h, 0), 0);
  const PacketBytes p = packet.Prepare(18, {});
  ASSERT_EQ(trace.InterruptWrite(h, kCommandEndpoint, p.data(), 20, 100), 20);
  std::uint8_t reply[64];
  ASSERT_EQ(trace.BulkRead(h, kBulkInEndpoint, reply, 64, 100), 1);
  EXPECT_EQ(trace.BulkRead(h, kBulkInEndpoint, reply, 64, 100), kResultTimeout);
  bus.Unplug();
  EXPECT_EQ(notices, 1);
  trace.Close(h);
  const auto lines = Lines(log.str());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "t=0 RESCAN");
  EXPECT_EQ(lines[1], "t=0 DEVICES 1 0716:5017@0.1");
  EXPECT_EQ(lines[5].rfind("t=0 INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 12 ", 0), 0u);
  EXPECT_EQ(lines[6], "t=0 BULK-IN  ep=0x83 len=64 timeout=100 result=1 | 12");
  EXPECT_EQ(lines[7], "t=0 BULK-IN  ep=0x83 len=64 timeout=100 result=-110");
  EXPECT_EQ(lines[8], "t=100 DEVICE-CHANGE");
  EXPECT_EQ(lines[9], "t=100 CLOSE handle=" + std::to_string(h) + " result=0");
}

TEST_F(DecoratorTest, NoticesAfterTheTraceIsGoneStillReachTheHandlerSafely) {
  int notices = 0;
  std::ostringstream log;
  {
    TracingBackend trace(usb, log);
    trace.SetDeviceChangeHandler([&] { ++notices; });
  }
  bus.Unplug();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(log.str(), "");
}

TEST_F(DecoratorTest, FaultInjectionShortReadsFailingLyingAndTimedOutTransfers) {
  VirtualChip& chip = Insert(testing::SpiFlash(1 << 16));
  Open();
  FaultInjectingBackend faulty(usb, &clock);
  const PacketBytes read_cmd = packet.Prepare(13, {});
  ASSERT_EQ(faulty.InterruptWrite(handle, kCommandEndpoint, read_cmd.data(), 20, 100), 20);

  faulty.ShortReadsAfter(/*after=*/2, /*max_bytes=*/100, /*times=*/1);
  Bytes buf(8192);
  EXPECT_EQ(faulty.BulkRead(handle, kBulkInEndpoint, buf.data(), 8192, 5000), 8192);
  EXPECT_EQ(faulty.BulkRead(handle, kBulkInEndpoint, buf.data(), 8192, 5000), 100);
  EXPECT_EQ(faulty.BulkRead(handle, kBulkInEndpoint, buf.data(), 8192, 5000), 8192);
  EXPECT_EQ(faulty.TransferCount(), 4u);

  // A lying write says everything went while the chip got only the first 10 bytes.
  const PacketBytes write_cmd = packet.Prepare(1, {});
  ASSERT_EQ(faulty.InterruptWrite(handle, kCommandEndpoint, write_cmd.data(), 20, 100), 20);
  faulty.LyingWritesAfter(faulty.TransferCount(), 10, 1);
  const Bytes data(64, 0x00);
  EXPECT_EQ(faulty.BulkWrite(handle, kBulkOutEndpoint, data.data(), 64, 1000), 64);
  EXPECT_EQ(chip.FirstNonBlank(chip.capacity()), 0u);
  EXPECT_EQ(chip.ReadByte(9), 0x00);
  EXPECT_EQ(chip.ReadByte(10), 0xFF);

  faulty.FailWritesAfter(0, 1);
  EXPECT_EQ(faulty.BulkWrite(handle, kBulkOutEndpoint, data.data(), 64, 1000), -5);
  EXPECT_EQ(chip.ReadByte(20), 0xFF);

  faulty.TimeOutAfter(0, 1);
  const std::int64_t t0 = clock.NowMs();
  EXPECT_EQ(faulty.InterruptWrite(handle, kCommandEndpoint, write_cmd.data(), 20, 700),
            FaultInjectingBackend::kTimeoutResult);
  EXPECT_EQ(clock.NowMs() - t0, 700);
  EXPECT_EQ(programmer->CommandCount(1), 1u);  // the lost packet never arrived
  faulty.ClearFaults();
  EXPECT_EQ(faulty.BulkWrite(handle, kBulkOutEndpoint, data.data(), 64, 1000), 64);
}

}  // namespace
}  // namespace tarvix::sim
