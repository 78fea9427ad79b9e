// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/command_packet.h"

#include <gtest/gtest.h>

#include "catalogue/chip_catalogue.h"

namespace tarvix {
namespace {

ChipRecord Record(std::string page, std::string sector, std::string capacity,
                  std::string voltage = "3.3", std::string op = "000", std::string main = "N",
                  std::string slave = "000") {
  ChipRecord r;
  r.page_size = std::move(page);
  r.sector_size = std::move(sector);
  r.capacity = std::move(capacity);
  r.voltage = std::move(voltage);
  r.operation_type = std::move(op);
  r.main_address = std::move(main);
  r.slave_address = std::move(slave);
  return r;
}

TEST(ChipParameters, PageAndSectorCodes) {
  EXPECT_EQ(ParseChipParameters(Record("256", "4096", "1MB")).page_size_code, 8);
  EXPECT_EQ(ParseChipParameters(Record("N", "4096", "1MB")).page_size_code, 0xFF);
  EXPECT_EQ(ParseChipParameters(Record("1", "N", "1MB")).page_size_code, 0);
  EXPECT_EQ(ParseChipParameters(Record("65536", "N", "1MB")).page_size_code, 16);
  EXPECT_EQ(ParseChipParameters(Record("300", "N", "1MB")).page_size_code, 300 & 0xFF);
  EXPECT_EQ(ParseChipParameters(Record("256", "4096", "1MB")).sector_size_code, 12);
  EXPECT_EQ(ParseChipParameters(Record("256", "N", "1MB")).sector_size_code, 0);
  EXPECT_EQ(ParseChipParameters(Record("256", "F", "1MB")).sector_size_code, 0xFF);
  // Only the leading digits of the sector text count.
  EXPECT_EQ(ParseChipParameters(Record("256", "64K", "1MB")).sector_size_code, 6);
}

TEST(ChipParameters, CapacityTexts) {
  EXPECT_EQ(ParseCapacity("128KB"), 131072u);
  EXPECT_EQ(ParseCapacity("256B"), 256u);
  EXPECT_EQ(ParseCapacity("16MB"), 16u << 20);
  EXPECT_EQ(ParseCapacity("1GB"), 1u << 30);
  EXPECT_EQ(ParseCapacity("64*16"), 128u);  // 16-bit words
  EXPECT_EQ(ParseCapacity("1024*16"), 2048u);
  EXPECT_EQ(ParseCapacity("128"), 0u);       // neither "*" nor "B"
  EXPECT_EQ(ParseCapacity("2KB*"), 2048u);   // "*" after the "B" does not count
  EXPECT_EQ(ParseCapacity("64*16B"), 128u);  // nothing after the "*" is read
  const ChipParameters kb = ParseChipParameters(Record("N", "N", "128KB"));
  EXPECT_FALSE(kb.word_organisation);
  const ChipParameters words = ParseChipParameters(Record("N", "N", "64*16"));
  EXPECT_TRUE(words.word_organisation);
  EXPECT_EQ(words.capacity, 128u);
}

TEST(ChipParameters, VoltageAddressesAndOperationType) {
  EXPECT_TRUE(ParseChipParameters(Record("8", "N", "256B", "5")).five_volt);
  EXPECT_FALSE(ParseChipParameters(Record("8", "N", "256B", "3.3")).five_volt);
  const ChipParameters p = ParseChipParameters(Record("8", "N", "256B", "5", "31A", "A0", "20E"));
  EXPECT_EQ(p.operation_type_high, 3);
  EXPECT_EQ(p.operation_type_low, 0x1A);
  EXPECT_EQ(p.main_address, 0xA0);
  EXPECT_EQ(p.slave_address_high, 2);
  EXPECT_EQ(p.slave_address_low, 0x0E);
}

TEST(CommandPacket, LoadFillsParameterBytesAndMarks) {
  ChipCatalogue c;
  const std::string text =
      "$24 EEPROM\r\n#Atmel:\r\n@AT24C512:128:N:64KB:A0:200:000000:000000:5:110\r\n";
  ASSERT_TRUE(c.Parse({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                      [](std::string_view, std::string_view) {}));
  CommandPacket packet;
  std::uint32_t capacity = 0;
  ASSERT_TRUE(packet.LoadChipParameters(c, 0, &capacity));
  EXPECT_EQ(capacity, 65536u);
  const PacketBytes b = packet.Bytes();
  const PacketBytes expected{0xA5, 0x80, 0x01, 0x10, 7, 0, 0x00, 0x01, 0x00, 0x00,
                             0xA0, 0x02, 0x00, 0,    0, 0, 0,    0,    0,    0x5A};
  EXPECT_EQ(b, expected);
  EXPECT_EQ(packet.DetailsText(), "A5|80|0110|07|00|00010000|A0|0200|000000000000|5A");
  // An index at or past the count changes nothing.
  EXPECT_FALSE(packet.LoadChipParameters(c, 1, &capacity));
  EXPECT_EQ(packet.Bytes(), expected);
}

TEST(CommandPacket, CodeKeepsFlagBitsAndPayloadPersists) {
  CommandPacket packet;
  packet.SetByte(1, 0xC0);
  const std::array<std::uint8_t, 4> count = BigEndian32(0x01020304);
  PacketBytes b = packet.Prepare(2, count);
  EXPECT_EQ(b[1], 0xC2);
  EXPECT_EQ(b[13], 1);
  EXPECT_EQ(b[16], 4);
  // Code 9 after a write still carries the write's byte count.
  b = packet.Prepare(9, {});
  EXPECT_EQ(b[1], 0xC9);
  EXPECT_EQ(ReadBigEndian32(&b[13]), 0x01020304u);
}

}  // namespace
}  // namespace tarvix
