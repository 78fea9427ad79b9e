// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer's side of the firmware update: re-enumeration into the loader, the
// 4-byte frames, the scrambled transfer, read-back, the loader's own image check,
// and a knob for each way the exchange can fail.
#include <gtest/gtest.h>

#include "firmware/firmware_scramble.h"
#include "sim_test_support.h"

namespace tarvix::sim {
namespace {

using testing::Bytes;
using testing::SimFixture;

Bytes FirmwareFile(std::size_t size, std::uint8_t seed = 1) {
  Bytes file(size);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 3 < size; ++i) {
    file[i] = static_cast<std::uint8_t>((i * 31 + seed) & 0x3F);
    sum += file[i];
  }
  file[size - 3] = static_cast<std::uint8_t>(sum >> 16);
  file[size - 2] = static_cast<std::uint8_t>(sum >> 8);
  file[size - 1] = static_cast<std::uint8_t>(sum);
  return file;
}

class FirmwareUpdateTest : public SimFixture {
 protected:
  bool TryOpen() {
    usb.Rescan();
    const auto devices = usb.Devices();
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (devices[i].vendor_id != kProgrammerVendorId ||
          devices[i].product_id != kProgrammerProductId)
        continue;
      handle = usb.Open(i);
      if (handle == kNoUsbHandle) return false;
      if (usb.SetConfiguration(handle, 1) < 0 || usb.ClaimInterface(handle, 0) < 0) {
        usb.Close(handle);
        return false;
      }
      Read(64, 100);  // the drain after configure
      return true;
    }
    return false;
  }

  // The host's upgrade from the moment the file was found good; 0 on success,
  // otherwise the number of the failure it reports.
  int Upgrade(const Bytes& file, bool already_in_dfu = false) {
    if (!already_in_dfu) {
      Send(21, {}, 100);
      usb.Close(handle);
      clock.SleepMs(1000);
      bool open = false;
      for (int i = 0; i < 100 && !open; ++i) {
        clock.SleepMs(100);
        open = TryOpen();
      }
      if (!open) return 2;
      bool shaken = false;
      for (int i = 0; i < 20 && !shaken; ++i) {
        Frame(8);
        shaken = Read(2, 50) == Bytes{0x5A, 0xA5};
      }
      if (!shaken) {
        Frame(1);
        return 3;
      }
      Frame(1);
    }
    Frame(1);
    Frame(13);
    Bytes r = Read(1, 1000);
    if (r.empty()) return 5;
    if (r[0] != 13) return 4;
    const std::size_t n = file.size();
    const std::size_t blocks = (n + 1023) / 1024;
    for (std::size_t b = 0; b < blocks; ++b) {
      Frame(2, static_cast<std::uint8_t>(b));
      clock.SleepMs(15);
      if (Read(1, 1000).empty()) {
        Frame(1);
        return 6;
      }
    }
    Frame(1);
    Frame(4);
    for (std::size_t off = 0;; off += 64) {
      const std::size_t len = std::min<std::size_t>(64, n - off);
      if (len == 0) break;
      Bytes piece(file.begin() + static_cast<std::ptrdiff_t>(off),
                  file.begin() + static_cast<std::ptrdiff_t>(off + len));
      ScrambleFirmware(piece, off);
      if (Write(piece, 2000) < 0) {
        Frame(1);
        return 7;
      }
      if (len < 64) break;
    }
    Frame(5);
    Frame(1);
    Frame(9);
    clock.SleepMs(5);
    for (std::size_t b = 0; b < blocks; ++b) {
      Frame(6);
      const Bytes got = Read(1024, 1000);
      if (got.size() != 1024) {
        Frame(1);
        return 9;
      }
      for (std::size_t i = 0; i < 1024 && b * 1024 + i < n; ++i) {
        if (ScrambleFirmwareByte(file[b * 1024 + i], b * 1024 + i) != got[i]) {
          Frame(1);
          return 8;
        }
      }
    }
    Frame(1);
    Frame(12, file[n - 4]);
    r = Read(1, 1000);
    if (r.empty() || r[0] != 12) {
      Frame(10);
      Frame(1);
      return r.empty() ? 11 : 10;
    }
    Frame(10);
    return 0;
  }
};

TEST(FirmwareScramble, OneTableUndoesItself) {
  Bytes data(600, 0x3C);
  ScrambleFirmware(data, 10);
  EXPECT_EQ(data[0], 0x3C ^ kFirmwareScrambleTable[10]);
  EXPECT_EQ(data[300], 0x3C ^ kFirmwareScrambleTable[310 & 0xFF]);
  ScrambleFirmware(data, 10);
  EXPECT_EQ(data, Bytes(600, 0x3C));
}

TEST_F(FirmwareUpdateTest, UpgradeReenumeratesTransfersReadsBackAndIsAcceptedOnRestart) {
  Open();
  const UsbHandle before = handle;
  const std::uint64_t notices = bus.DeviceChangeCount();
  int seen = 0;
  usb.SetDeviceChangeHandler([&] { ++seen; });
  ASSERT_EQ(Send(21, {}, 100), 20);
  EXPECT_EQ(bus.DeviceChangeCount(), notices + 2);  // left, then back as the loader
  EXPECT_EQ(seen, 2);
  std::uint8_t b[4];
  EXPECT_EQ(usb.BulkRead(before, kBulkInEndpoint, b, 4, 100), kResultNoDevice);
  EXPECT_TRUE(programmer->InDfuMode());

  const Bytes file = FirmwareFile(5000);
  ASSERT_EQ(Upgrade(file, /*already_in_dfu=*/false), 0);
  EXPECT_EQ(programmer->FirmwareImage(), file);
  EXPECT_TRUE(programmer->FirmwareValid());
  EXPECT_EQ(programmer->FrameCount(2), 5u);  // one erase per 1024-byte block
  EXPECT_TRUE(programmer->InDfuMode());      // until the user restarts it
  bus.Replug();
  EXPECT_FALSE(programmer->InDfuMode());
}

TEST_F(FirmwareUpdateTest, BlockCountsAndPieceBoundaries) {
  for (const std::size_t size :
       {std::size_t{2048}, std::size_t{2049}, std::size_t{300 * 1024 + 7}}) {
    bus.Replug();
    Open();
    const Bytes file = FirmwareFile(size, static_cast<std::uint8_t>(size));
    const std::uint64_t erases = programmer->FrameCount(2);
    EXPECT_EQ(Upgrade(file), 0) << size;  // past 256 blocks the index wraps in the frame
    EXPECT_EQ(programmer->FrameCount(2) - erases, (size + 1023) / 1024);
    EXPECT_EQ(programmer->FirmwareImage(), file) << size;
  }
}

TEST_F(FirmwareUpdateTest, RealisticReenumerationTakesTheProgrammerOffTheBusForAWhile) {
  bus.SetTiming(Timing::kRealistic);
  Open();
  const std::uint64_t notices = bus.DeviceChangeCount();
  ASSERT_EQ(Send(21, {}, 100), 20);
  EXPECT_EQ(bus.DeviceChangeCount(), notices + 1);
  EXPECT_FALSE(bus.IsPresent());
  usb.Rescan();
  EXPECT_TRUE(usb.Devices().empty());
  clock.SleepMs(kReenumerationMs);
  usb.Rescan();
  EXPECT_EQ(usb.Devices().size(), 1u);
  EXPECT_EQ(bus.DeviceChangeCount(), notices + 2);
  ASSERT_TRUE(TryOpen());
  EXPECT_EQ(Upgrade(FirmwareFile(3000), /*already_in_dfu=*/true), 0);
}

TEST_F(FirmwareUpdateTest, TheLoaderRefusesAnImageThatFailsItsCheckAndStaysAfterReplug) {
  Open();
  Bytes file = FirmwareFile(3000);
  file.back() ^= 1;
  EXPECT_EQ(Upgrade(file), 10);
  EXPECT_FALSE(programmer->FirmwareValid());
  bus.Replug();
  EXPECT_TRUE(programmer->InDfuMode());
  ASSERT_TRUE(TryOpen());
  SetParameters(testing::ParametersFor(testing::SpiFlash()));
  ASSERT_EQ(Send(7, {}, 5000), 20);
  EXPECT_EQ(Read(3, 5000), (Bytes{0, 0, 4}));
  // A good image then brings it back.
  EXPECT_EQ(Upgrade(FirmwareFile(3000), /*already_in_dfu=*/true), 0);
  bus.Replug();
  EXPECT_FALSE(programmer->InDfuMode());
}

TEST_F(FirmwareUpdateTest, EachFaultKnobReachesItsFailure) {
  using Action = ReplyFault::Action;
  struct Case {
    int failure;
    std::function<void(VirtualProgrammer&)> knob;
  };
  const Case cases[] = {
      {2, [](VirtualProgrammer& p) { p.FailReenumeration(true); }},
      {3, [](VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuHandshake, -1); }},
      {3, [](VirtualProgrammer& p) { p.DelayReply(ReplyKind::kDfuHandshake, 10000, -1); }},
      {4, [](VirtualProgrammer& p) { p.ReplaceReply(ReplyKind::kDfuStart, {0x00}); }},
      {5, [](VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuStart); }},
      {6,
       [](VirtualProgrammer& p) {
         p.AddReplyFault({ReplyKind::kDfuErase, Action::kDrop, {}, 0, 2, 1});
       }},
      {7,
       [](VirtualProgrammer& p) {
         p.AddLinkFault({Pipe::kBulkOut, LinkFault::Action::kFail, 0, 10, 1});
       }},
      {8,
       [](VirtualProgrammer& p) {
         p.AddReplyFault({ReplyKind::kDfuReadBack, Action::kCorrupt, {}, 100, 1, 1});
       }},
      {8, [](VirtualProgrammer& p) { p.WrongFirmwareReadBack(4095); }},
      {9, [](VirtualProgrammer& p) { p.TruncateReply(ReplyKind::kDfuReadBack, 1000); }},
      {10, [](VirtualProgrammer& p) { p.ReplaceReply(ReplyKind::kDfuFinish, {0x0B}); }},
      {11, [](VirtualProgrammer& p) { p.DropReply(ReplyKind::kDfuFinish); }},
  };
  for (const Case& c : cases) {
    programmer->ClearFaults();
    bus.Replug();  // a fresh start, whatever the last case left
    if (programmer->InDfuMode()) {
      programmer->SetFirmwareImage(FirmwareFile(1024));
      bus.Replug();
    }
    Open();
    c.knob(*programmer);
    EXPECT_EQ(Upgrade(FirmwareFile(4096)), c.failure) << "failure #" << c.failure;
  }
  // With the knobs gone the same programmer upgrades again.
  programmer->ClearFaults();
  bus.Replug();
  ASSERT_TRUE(TryOpen());
  EXPECT_EQ(Upgrade(FirmwareFile(4096), programmer->InDfuMode()), 0);
}

}  // namespace
}  // namespace tarvix::sim
