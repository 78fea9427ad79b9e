// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/chip_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/database_codec.h"

namespace tarvix {
namespace {

struct Reports {
  std::vector<std::string> messages;
  ChipCatalogue::Reporter reporter() {
    return [this](std::string_view m, std::string_view) { messages.emplace_back(m); };
  }
};

bool Parse(ChipCatalogue& c, const std::string& text, Reports* r = nullptr) {
  Reports local;
  Reports& reports = r ? *r : local;
  return c.Parse({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                 reports.reporter());
}

const char kSample[] =
    "$25 SPI FLASH\r\n"
    "#Winbond:\r\n"
    "@W25Q80:256:4096:1MB:N:000:EF4014:00EF13:3.3:000\r\n"
    "; a comment does not count\r\n"
    "\r\n"
    "@W25Q16:256:4096:2MB:N:000:EF4015:00EF14:3.3:000\r\n"
    "#Macronix:\r\n"
    "@MX25L1606E:256:4096:2MB:N:000:C22015:00C214:3.3:000\r\n"
    "@MX25L8005:256:4096:1MB:N:000:c22014:0000A1:3.3:000\r\n"
    "$24 EEPROM\r\n"
    "#Atmel:\r\n"
    "@AT24C02:8::256B:A0:100:000000:000000:5:100\r\n"
    "@W25Q16:1:1:1B:N:000:EF4015:000000:5:100\r\n";

TEST(ChipCatalogue, ParsesLinesIntoRecordsInFileOrder) {
  ChipCatalogue c;
  ASSERT_TRUE(Parse(c, kSample));
  ASSERT_EQ(c.Count(), 6u);
  const ChipRecord& r = c.Record(1);
  EXPECT_EQ(r.type, "25 SPI FLASH");
  EXPECT_EQ(r.manufacturer, "Winbond");  // "#" name ":" keeps the name alone
  EXPECT_EQ(r.model, "W25Q16");
  EXPECT_EQ(r.main_id, "EF4015");
  EXPECT_EQ(r.voltage, "3.3");
  EXPECT_EQ(r.operation_type, "000");
  // Comments and blank lines do not advance the internal number.
  for (std::uint32_t i = 0; i < c.Count(); ++i) EXPECT_EQ(c.Record(i).internal_number, (int)i);
  // Empty fields between colons are empty texts; the record is still stored.
  EXPECT_EQ(c.Record(4).sector_size, "");
  EXPECT_EQ(c.Record(4).type, "24 EEPROM");
  EXPECT_EQ(c.Record(4).manufacturer, "Atmel");
}

TEST(ChipCatalogue, UnusedSlotsHoldBlanks) {
  ChipCatalogue c;
  ASSERT_TRUE(Parse(c, kSample));
  EXPECT_EQ(c.Record(599).model, std::string(31, ' '));
  EXPECT_EQ(c.Record(599).voltage, "");
  EXPECT_FALSE(c.IsValidIndex(6));
  EXPECT_FALSE(c.IsValidIndex(-1));
}

TEST(ChipCatalogue, LastLineWithoutLineFeedIsLost) {
  ChipCatalogue c;
  ASSERT_TRUE(
      Parse(c, "$T\r\n#M:\r\n@A:1:1:1B:N:000:000000:000000:5:100\r\n@B:1:1:1B:N:000:0:0:5:1"));
  EXPECT_EQ(c.Count(), 1u);
}

TEST(ChipCatalogue, ListsFollowTableOrderAndRepeatNonContiguousValues) {
  ChipCatalogue c;
  ASSERT_TRUE(Parse(c, kSample));
  EXPECT_EQ(c.TypeList(), (std::vector<std::string>{"25 SPI FLASH", "24 EEPROM"}));
  EXPECT_EQ(c.ManufacturerList("25 SPI FLASH"), (std::vector<std::string>{"Winbond", "Macronix"}));
  EXPECT_EQ(c.ModelList("25 SPI FLASH", "Winbond"), (std::vector<std::string>{"W25Q80", "W25Q16"}));
  EXPECT_TRUE(c.ModelList("24 EEPROM", "Winbond").empty());

  ChipCatalogue split;
  ASSERT_TRUE(Parse(
      split,
      "$A\r\n#M:\r\n@1:::::::::\r\n$B\r\n#M:\r\n@2:::::::::\r\n$A\r\n#M:\r\n@3:::::::::\r\n"));
  EXPECT_EQ(split.TypeList(), (std::vector<std::string>{"A", "B", "A"}));
}

TEST(ChipCatalogue, IdLookupsUseSixUpperCaseDigitsWithLeadingZeros) {
  ChipCatalogue c;
  ASSERT_TRUE(Parse(c, kSample));
  EXPECT_EQ(ChipCatalogue::IdText(0xA1), "0000A1");
  EXPECT_EQ(c.RecordsBySecondaryId(0xA1), (std::vector<std::int32_t>{3}));
  EXPECT_EQ(c.RecordsByMainId(0xEF4015), (std::vector<std::int32_t>{1, 5}));
  // The record written in lower case is never found.
  EXPECT_TRUE(c.RecordsByMainId(0xC22014).empty());
  EXPECT_EQ(c.RecordsByName("25 SPI FLASH", "Winbond", "W25Q16"), (std::vector<std::int32_t>{1}));
  EXPECT_TRUE(c.RecordsByName("25 SPI FLASH", "winbond", "W25Q16").empty());
}

TEST(ChipCatalogue, StopsAtSixHundredChipsWithAWarningNamingTheLine) {
  std::string text = "$T\r\n#M:\r\n";
  for (int i = 0; i < 605; ++i)
    text += "@C" + std::to_string(i) + ":1:N:1KB:N:000:000000:000000:5:100\r\n";
  ChipCatalogue c;
  Reports r;
  ASSERT_TRUE(Parse(c, text, &r));
  EXPECT_EQ(c.Count(), 600u);
  EXPECT_EQ(c.Record(599).model, "C599");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("line 603"), std::string::npos) << r.messages[0];
}

TEST(ChipCatalogue, RefusesMalformedFilesWholeNamingTheLine) {
  ChipCatalogue c;
  Reports r;
  EXPECT_FALSE(Parse(c, "$T\r\n#M:\r\n@A:1:1:1B:N:000:000000:000000:5:100\r\n@B:1:1:1B\r\n", &r));
  EXPECT_EQ(c.Count(), 0u);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("line 4"), std::string::npos);

  Reports r2;
  std::string longline = "$T\r\n;" + std::string(998, 'x') + "\r\n";  // 1000 bytes with its CR
  EXPECT_FALSE(Parse(c, longline, &r2));
  ASSERT_EQ(r2.messages.size(), 1u);
  EXPECT_NE(r2.messages[0].find("line 2"), std::string::npos);
  // 999 bytes with the carriage return is still fine.
  EXPECT_TRUE(Parse(c, "$T\r\n;" + std::string(997, 'x') + "\r\n"));
}

TEST(ChipCatalogue, MessagesNameTheFileThatWasRead) {
  const auto dir = std::filesystem::temp_directory_path() / "tarvix_catalogue_names";
  std::filesystem::create_directories(dir);
  const std::string text = "$T\r\n#M:\r\n@B:1:1:1B\r\n";
  const auto packed = Scramble({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  {
    std::ofstream out(dir / "other.dat", std::ios::binary);
    out.write(reinterpret_cast<const char*>(packed.bytes.data()), packed.bytes.size());
  }
  ChipCatalogue c;
  Reports r;
  EXPECT_EQ(c.Load(dir / "other.dat", r.reporter()), 0u);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("other.dat line 3"), std::string::npos) << r.messages[0];
  EXPECT_EQ(r.messages[0].find("database.dat"), std::string::npos) << r.messages[0];
  std::filesystem::remove_all(dir);
}

TEST(ChipCatalogue, ACutShortDatabaseSaysHowManyChipsWereLoaded) {
  std::string text = kSample;
  text.resize(text.size() - 20);  // the file ends inside its last chip line
  ChipCatalogue c;
  Reports r;
  EXPECT_TRUE(c.Parse({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                      r.reporter(), "short.dat"));
  EXPECT_EQ(c.Count(), 5u);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("short.dat"), std::string::npos) << r.messages[0];
  EXPECT_NE(r.messages[0].find("5 chips"), std::string::npos) << r.messages[0];

  // Blanks after the last line feed are no sign of a cut.
  Reports quiet;
  EXPECT_TRUE(Parse(c, std::string(kSample) + "  ", &quiet));
  EXPECT_TRUE(quiet.messages.empty());
}

TEST(ChipCatalogue, LoadUnscramblesAFileAndReportsAMissingOne) {
  const auto dir = std::filesystem::temp_directory_path() / "tarvix_catalogue_load";
  std::filesystem::create_directories(dir);
  const std::string text = kSample;
  const auto packed = Scramble({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  {
    std::ofstream out(dir / "database.dat", std::ios::binary);
    out.write(reinterpret_cast<const char*>(packed.bytes.data()), packed.bytes.size());
  }
  ChipCatalogue c;
  Reports r;
  EXPECT_EQ(c.Load(dir / "database.dat", r.reporter()), 6u);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(c.Record(2).model, "MX25L1606E");

  EXPECT_EQ(c.Load(dir / "absent.dat", r.reporter()), 0u);
  EXPECT_EQ(c.Count(), 0u);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0], ChipCatalogue::kCannotOpenMessage);

  // An empty file parses to an empty catalogue without complaint.
  std::ofstream(dir / "empty.dat").close();
  Reports r3;
  EXPECT_EQ(c.Load(dir / "empty.dat", r3.reporter()), 0u);
  EXPECT_TRUE(r3.messages.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvix
