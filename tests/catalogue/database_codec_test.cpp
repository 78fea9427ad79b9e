#include "catalogue/database_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(DatabaseCodec, BitStepSwapsNibbleBitsInvertsBit3AndClearsBit7) {
  // 0b1010'0101: bits 0-2 = 101, bit 3 = 0, bits 4-6 = 010, bit 7 = 1.
  EXPECT_EQ(UnscrambleBits(0xA5), 0b0101'1010);
  EXPECT_EQ(UnscrambleBits(0x00), 0x08);
  EXPECT_EQ(UnscrambleBits(0xFF), 0x77);
  for (int b = 0; b < 128; ++b)
    EXPECT_EQ(UnscrambleBits(ScrambleBits(static_cast<std::uint8_t>(b))), b);
}

TEST(DatabaseCodec, SubstitutionIsOneToOneOverThirtyNineCharacters) {
  int replaced = 0;
  std::array<int, 256> seen{};
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t to = Substitute(static_cast<std::uint8_t>(b));
    if (to != b) {
      ++replaced;
      EXPECT_GE(b, 0x20);
      EXPECT_LT(b, 0x7F) << "substitution characters are printable";
      EXPECT_EQ(Unsubstitute(to), b);
      ++seen[to];
    }
  }
  EXPECT_EQ(replaced, 39);
  for (int n : seen) EXPECT_LE(n, 1);
}

TEST(DatabaseCodec, PackThenUnpackGivesTheTextBackByteForByte) {
  const std::string text =
      "$25 SPI FLASH\r\n#Winbond:\r\n@W25Q128FV:256:4096:16MB:N:000:EF4018:00EF17:3.3:000\r\n"
      "; lower case and (brackets) / plus+ under_score *\r\n";
  const ScrambleResult packed = Scramble(Bytes(text));
  ASSERT_TRUE(packed.error.empty()) << packed.error;
  EXPECT_NE(packed.bytes, Bytes(text));
  EXPECT_EQ(Unscramble(packed.bytes), Bytes(text));
  // And the stored form survives a second round.
  EXPECT_EQ(Scramble(Unscramble(packed.bytes)).bytes, packed.bytes);
}

TEST(DatabaseCodec, PackRefusesCharactersTheFormatCannotCarryNamingTheLine) {
  const ScrambleResult bad = Scramble(Bytes("$24 EEPROM\r\n@A!B\r\n"));
  EXPECT_TRUE(bad.bytes.empty());
  EXPECT_NE(bad.error.find("line 2"), std::string::npos) << bad.error;
  const ScrambleResult high = Scramble(Bytes("ok\r\n\xE4\xB8\xAD\r\n"));
  EXPECT_NE(high.error.find("line 2"), std::string::npos) << high.error;
}

}  // namespace
}  // namespace tarvix
