// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/database_codec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "catalogue/chip_catalogue.h"

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

TEST(DatabaseCodec, LineFeedOnlyTextIsStoredWithCarriageReturns) {
  // The loader drops the last byte of every line, its carriage return: a text written
  // with line feeds only must not lose the last letter of each line.
  const ScrambleResult lf =
      Scramble(Bytes("$25 SPI FLASH\n#Winbond:\n@W25X05:1:N:1KB:N:000:EF3010:00EF05:3.3:060\n"));
  const ScrambleResult crlf = Scramble(
      Bytes("$25 SPI FLASH\r\n#Winbond:\r\n@W25X05:1:N:1KB:N:000:EF3010:00EF05:3.3:060\r\n"));
  ASSERT_TRUE(lf.error.empty()) << lf.error;
  EXPECT_EQ(lf.bytes, crlf.bytes);
  // Mixed line ends come out the same way; a lone line feed at the very start too.
  EXPECT_EQ(Unscramble(Scramble(Bytes("\na\r\nb\n")).bytes), Bytes("\r\na\r\nb\r\n"));
  // Errors still name the right line.
  EXPECT_NE(Scramble(Bytes("ok\nok\n!\n")).error.find("line 3"), std::string::npos);
}

TEST(DatabaseCodec, OnlyAChipDatabaseIsTakenForOne) {
  const std::string text =
      "$24 EEPROM\r\n#Atmel:\r\n@AT24C02:8:N:256B:A0:100:000000:000000:5:100\r\n";
  EXPECT_EQ(DatabaseProblem(Scramble(Bytes(text)).bytes), "");
  // Plain text, a binary file, and a database without a single chip are not.
  EXPECT_NE(DatabaseProblem(Bytes(text)), "");
  std::vector<std::uint8_t> binary(512);
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 37);
  EXPECT_NE(DatabaseProblem(binary), "");
  EXPECT_NE(DatabaseProblem(Scramble(Bytes("; nothing here\r\n")).bytes), "");
  EXPECT_NE(DatabaseProblem({}), "");
  // The reason names the first byte at fault.
  std::vector<std::uint8_t> spoilt = Scramble(Bytes(text)).bytes;
  spoilt[20] = 0xE4;
  EXPECT_NE(DatabaseProblem(spoilt).find("byte 20"), std::string::npos) << DatabaseProblem(spoilt);
}

// The stored form is a file format: databases written by earlier versions must keep
// reading. Any change to the substitution table, even one that still round-trips,
// changes these bytes.
TEST(DatabaseCodec, StoredBytesArePinned) {
  const ScrambleResult packed = Scramble(Bytes("@W25Q:abKm7j\r\n"));
  ASSERT_TRUE(packed.error.empty()) << packed.error;
  EXPECT_EQ(packed.bytes, (std::vector<std::uint8_t>{0x0C, 0x7D, 0x43, 0x45, 0x1D, 0x23, 0x1A, 0x2A,
                                                     0x42, 0x53, 0x37, 0x4F, 0x50, 0x20}));
}

// A database.dat kept as bytes in the tree. Its text holds every partner character
// of the substitution, so a changed partner shows up in the unpacked text.
const char kFixtureText[] =
    "; every partner character of the substitution appears below\r\n"
    "$25 SPI FLASH\r\n"
    "#Winbond:\r\n"
    "@W25X05:256:4KB:64KB:N:000:EF3010:00EF05:3.3:060\r\n"
    "@Gqmbopt7J:256:4KB:128KB:N:000:EF3011:00EF10:3.3:060\r\n"
    "$24 EEPROM\r\n"
    "#Atmel:\r\n"
    "@AT24C02:8:N:256B:A0:100:000000:000000:5:100\r\n"
    "#abcdefghijklmnopqrstUZ:\r\n"
    "@SCsklTdFRiEIrh3j46259:16:N:512B:A0:102:000000:000000:5:100\r\n";

TEST(DatabaseCodec, ADatabaseWrittenByAnEarlierVersionStillReads) {
  const std::filesystem::path fixture =
      std::filesystem::path(TARVIX_SOURCE_DIR) / "tests/catalogue/fixtures/database.dat";
  std::ifstream in(fixture, std::ios::binary);
  ASSERT_TRUE(in) << fixture;
  const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(in), {}};
  const std::vector<std::uint8_t> text = Unscramble(stored);
  EXPECT_EQ(std::string(text.begin(), text.end()), kFixtureText);
  // And the writer still produces the same bytes.
  EXPECT_EQ(Scramble(Bytes(kFixtureText)).bytes, stored);

  ChipCatalogue catalogue;
  ASSERT_EQ(
      catalogue.Load(fixture, [](std::string_view m, std::string_view) { ADD_FAILURE() << m; }),
      4u);
  EXPECT_EQ(catalogue.Record(1).model, "Gqmbopt7J");
  EXPECT_EQ(catalogue.Record(3).manufacturer, "abcdefghijklmnopqrstUZ");
  EXPECT_EQ(catalogue.Record(3).model, "SCsklTdFRiEIrh3j46259");
  EXPECT_EQ(catalogue.Record(3).capacity, "512B");
}

}  // namespace
}  // namespace tarvix
