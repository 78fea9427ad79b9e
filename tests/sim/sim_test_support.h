// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the simulated programmer with raw packets, as the host would, over a
// SimBackend on a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <vector>

#include "device/clock.h"
#include "device/command_packet.h"
#include "sim/sim_backend.h"
#include "sim/sim_bus.h"
#include "sim/virtual_chip.h"

namespace tarvix::sim::testing {

using Bytes = std::vector<std::uint8_t>;

inline ChipDescription SpiFlash(std::uint64_t capacity = 1 << 20, std::uint32_t id = 0xEF4014) {
  ChipDescription d;
  d.model = "TEST-FLASH";
  d.family = ChipFamily::kSpiFlash;
  d.capacity = capacity;
  d.main_id = id;
  d.secondary_id = 0x00EF13;
  d.page_size = 256;
  d.sector_size = 4096;
  return d;
}

inline ChipDescription Eeprom(ChipFamily family, std::uint64_t capacity, bool words = false,
                              std::uint32_t page = 16) {
  ChipDescription d;
  d.model = "TEST-EEPROM";
  d.family = family;
  d.capacity = capacity;
  d.word_organisation = words;
  d.page_size = page;
  return d;
}

// Packet parameters matching a chip description, as a catalogue record would give.
inline ChipParameters ParametersFor(const ChipDescription& d) {
  ChipParameters p;
  p.word_organisation = d.word_organisation;
  p.operation_type_high = static_cast<std::uint8_t>(d.family);
  p.capacity = static_cast<std::uint32_t>(d.capacity);
  p.page_size_code = d.page_size ? SizeCode(d.page_size) : 0xFF;
  p.sector_size_code = d.sector_size ? SizeCode(d.sector_size) : 0;
  return p;
}

class SimFixture : public ::testing::Test {
 public:
  SimFixture() : bus(clock), usb(bus), programmer(&bus.AddProgrammer()) { packet.SetMarks(); }

  VirtualChip& Insert(const ChipDescription& d) {
    programmer->InsertChip(std::make_unique<VirtualChip>(d));
    SetParameters(ParametersFor(d));
    return *programmer->chip();
  }
  void SetParameters(const ChipParameters& p) {
    packet.ApplyChipParameters(p);
    packet.SetMarks();
  }

  // Rescans and opens the device at `index` of the list, configured and claimed.
  UsbHandle Open(std::size_t index = 0) {
    usb.Rescan();
    handle = usb.Open(index);
    EXPECT_NE(handle, kNoUsbHandle);
    EXPECT_EQ(usb.SetConfiguration(handle, 1), 0);
    EXPECT_EQ(usb.ClaimInterface(handle, 0), 0);
    return handle;
  }

  int Send(std::uint8_t code, std::span<const std::uint8_t> payload = {}, int timeout = 100) {
    const PacketBytes bytes = packet.Prepare(code, payload);
    return usb.InterruptWrite(handle, kCommandEndpoint, bytes.data(), kPacketSize, timeout);
  }
  int Send32(std::uint8_t code, std::uint32_t value, int timeout = 100) {
    const auto be = BigEndian32(value);
    return Send(code, be, timeout);
  }
  int Frame(std::uint8_t code, std::uint8_t value = 0) {
    const std::uint8_t frame[4] = {kPacketStart, code, value, kPacketEnd};
    return usb.InterruptWrite(handle, kCommandEndpoint, frame, 4, 500);
  }
  // One bulk read; the bytes received, or empty with `result` negative.
  Bytes Read(int size, int timeout = 100, int* result = nullptr) {
    Bytes out(static_cast<std::size_t>(size));
    const int r = usb.BulkRead(handle, kBulkInEndpoint, out.data(), size, timeout);
    if (result) *result = r;
    out.resize(r > 0 ? static_cast<std::size_t>(r) : 0);
    return out;
  }
  int Write(const Bytes& data, int timeout = 60000) {
    return usb.BulkWrite(handle, kBulkOutEndpoint, data.data(), static_cast<int>(data.size()),
                         timeout);
  }
  // Reads `count` bytes of a stream in pieces of `piece`; stops at the first failure.
  Bytes ReadStream(std::uint64_t count, int piece = 8192) {
    Bytes all;
    while (all.size() < count) {
      const int want = static_cast<int>(std::min<std::uint64_t>(piece, count - all.size()));
      int r = 0;
      Bytes got = Read(want, 5000, &r);
      if (r <= 0) break;
      all.insert(all.end(), got.begin(), got.end());
    }
    return all;
  }

  VirtualClock clock;
  SimBus bus;
  SimBackend usb;
  VirtualProgrammer* programmer;
  CommandPacket packet;
  UsbHandle handle = kNoUsbHandle;
};

}  // namespace tarvix::sim::testing
