// SPDX-License-Identifier: GPL-3.0-or-later
// Serial numbers: the bytes of each encoding in both byte orders, values that do not
// fit, the patch over data pieces, and the counter's rules across restarts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "production/serial_counter.h"
#include "production/serial_number.h"

namespace tarvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

SerialSettings Settings(SerialEncoding encoding, int width, bool little = false) {
  SerialSettings s;
  s.encoding = encoding;
  s.width = width;
  s.little_endian = little;
  return s;
}

TEST(SerialNumberTest, EachEncodingInBothByteOrders) {
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kBinary, 4), 0x12345),
            (Bytes{0, 1, 0x23, 0x45}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kBinary, 3, true), 0x12345),
            (Bytes{0x45, 0x23, 1}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kBcd, 3), 12345), (Bytes{0x01, 0x23, 0x45}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kBcd, 3, true), 12345),
            (Bytes{0x45, 0x23, 0x01}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kAsciiDecimal, 6), 12345),
            (Bytes{'0', '1', '2', '3', '4', '5'}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kAsciiHex, 4), 0xBEEF),
            (Bytes{'B', 'E', 'E', 'F'}));
  EXPECT_EQ(*EncodeSerial(Settings(SerialEncoding::kAsciiHex, 4, true), 0xBEEF),
            (Bytes{'F', 'E', 'E', 'B'}));
  // One past the largest value of the width does not fit.
  EXPECT_FALSE(EncodeSerial(Settings(SerialEncoding::kBinary, 2), 0x10000));
  EXPECT_FALSE(EncodeSerial(Settings(SerialEncoding::kBcd, 2), 10000));
  EXPECT_TRUE(EncodeSerial(Settings(SerialEncoding::kBcd, 2), 9999));
  EXPECT_FALSE(EncodeSerial(Settings(SerialEncoding::kAsciiDecimal, 3), 1000));
  EXPECT_FALSE(EncodeSerial(Settings(SerialEncoding::kBinary, 9), 1));

  SerialSettings s = Settings(SerialEncoding::kBcd, 4, true);
  s.address = 0x1FFE;
  s.step = 7;
  s.start = 99;
  EXPECT_EQ(ParseSerialSettings(SerialSettingsText(s)), s);
  EXPECT_EQ(SerialSettingsProblem(s, 0x2002), "");
  EXPECT_NE(SerialSettingsProblem(s, 0x2001), "");  // the field's last byte is past the chip

  // A patch across the ends of the pieces it meets.
  const SerialPatch patch(10, {0xA1, 0xA2, 0xA3, 0xA4});
  Bytes data(12, 0);
  patch.Apply(4, std::span(data.data(), 7));       // bytes 4..10: the patch's first byte
  patch.Apply(11, std::span(data.data() + 7, 5));  // bytes 11..15: the rest
  EXPECT_EQ(data, (Bytes{0, 0, 0, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4, 0, 0}));
}

TEST(SerialNumberTest, CounterNeverHandsOutAValueTwiceAcrossRestartsAndNewStarts) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tarvix-serial-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  std::string error;
  SerialSettings s = Settings(SerialEncoding::kAsciiDecimal, 2);
  s.start = 95;
  s.step = 2;
  {
    auto db = LogDatabase::Open(path, &error);
    ASSERT_TRUE(db) << error;
    SerialCounter counter(*db);
    EXPECT_FALSE(counter.Reserve("L", &error).has_value());  // no counter set yet
    ASSERT_TRUE(counter.Configure(s, &error)) << error;
    EXPECT_EQ(*counter.Reserve("L", &error), 95u);
    EXPECT_EQ(*counter.Reserve("L", &error), 97u);
  }
  auto db = LogDatabase::Open(path, &error);
  SerialCounter counter(*db);
  EXPECT_EQ(counter.Stored(&error), s);
  ASSERT_TRUE(counter.Configure(s, &error));  // the same settings carry on
  EXPECT_EQ(*counter.Reserve("L", &error), 99u);
  // Two digits are used up.
  EXPECT_FALSE(counter.Reserve("L", &error).has_value());
  EXPECT_NE(error.find("used up"), std::string::npos) << error;
  // Starting again lower skips what was handed out already.
  s.start = 93;
  ASSERT_TRUE(counter.Configure(s, &error));
  EXPECT_EQ(*counter.Reserve("L", &error), 93u);
  EXPECT_FALSE(counter.Reserve("L", &error).has_value());  // 95, 97, 99 are taken
  EXPECT_EQ(counter.StateOf(95, &error), "reserved");
  ASSERT_TRUE(counter.Spoil(95, &error));
  EXPECT_EQ(counter.StateOf(95, &error), "spoiled");
  db.reset();
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tarvix
