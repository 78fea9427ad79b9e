// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's judgement of what recognition found: settle on one record or
// refuse with the reason, never fall back to a guess.
#include "cli/chip_identification.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix::cli {
namespace {

// Two records sharing one ID, one with an ID of its own, and an EEPROM per family.
ChipCatalogue SmallCatalogue() {
  const std::string text =
      "$25 SPI FLASH\r\n#Winbond:\r\n"
      "@W25Q128BV:256:4KB:16MB:N:000:EF4018:00EF17:3.3:000\r\n"
      "@W25Q128FV:256:4KB:16MB:N:000:EF4018:00EF17:3.3:000\r\n"
      "@W25Q128JV-IM:256:4KB:16MB:N:000:EF7018:00EF17:3.3:000\r\n"
      "$24 EEPROM\r\n#Atmel:\r\n"
      "@AT24C02:8:N:256B:A0:000:000000:000000:5:100\r\n"
      "$93 EEPROM\r\n#Atmel:\r\n"
      "@AT93C46(8bit):N:N:128B:N:000:000000:000000:5:300\r\n";
  ChipCatalogue catalogue;
  EXPECT_TRUE(
      catalogue.Parse(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                      [](std::string_view, std::string_view) {}));
  EXPECT_EQ(catalogue.Count(), 5u);
  return catalogue;
}

constexpr std::int32_t kBV = 0, kFV = 1, kJV = 2, k24C02 = 3, k93C46 = 4;

RecognitionFindings Found(std::string id, std::vector<std::int32_t> matches = {}) {
  return {std::move(id), std::move(matches)};
}

ChipNaming Named(std::int32_t record, std::string how) {
  return {record, std::move(how)};
}

TEST(ChipIdentification, OnlyAChipPinnedToOneRecordIsTakenWithoutAName) {
  const ChipCatalogue c = SmallCatalogue();
  const ChipIdentification one = JudgeChip(c, 1, Found("EF7018", {kJV}), true, {});
  EXPECT_TRUE(one.settled);
  EXPECT_EQ(one.record, kJV);

  const ChipIdentification two = JudgeChip(c, 1, Found("EF4018", {kBV, kFV}), true, {});
  EXPECT_FALSE(two.settled);
  EXPECT_NE(two.refusal.find("EF4018"), std::string::npos) << two.refusal;
  EXPECT_NE(two.refusal.find("W25Q128BV, W25Q128FV"), std::string::npos) << two.refusal;
  EXPECT_NE(two.refusal.find("--chip"), std::string::npos);

  const ChipIdentification unknown = JudgeChip(c, 0, Found("C84017"), true, {});
  EXPECT_FALSE(unknown.settled);
  EXPECT_NE(unknown.refusal.find("C84017, which is in no catalogue record"), std::string::npos)
      << unknown.refusal;

  const ChipIdentification family = JudgeChip(c, 0, Found("000001"), true, {});
  EXPECT_FALSE(family.settled);
  EXPECT_NE(family.refusal.find("a 24-series EEPROM"), std::string::npos) << family.refusal;

  // With "Auto Recognize" off nothing was probed: only a named chip goes.
  EXPECT_FALSE(JudgeChip(c, 1, Found(""), false, {}).settled);
  EXPECT_TRUE(JudgeChip(c, 1, Found(""), false, Named(k24C02, "--chip AT24C02")).settled);
}

TEST(ChipIdentification, ANamedChipMustBeWhatTheProgrammerFound) {
  const ChipCatalogue c = SmallCatalogue();
  // The name settles which of the records sharing the ID it is.
  const ChipIdentification fv =
      JudgeChip(c, 1, Found("EF4018", {kBV, kFV}), true, Named(kFV, "--chip W25Q128FV"));
  EXPECT_TRUE(fv.settled);
  EXPECT_EQ(fv.record, kFV);

  const ChipIdentification other =
      JudgeChip(c, 1, Found("EF7018", {kJV}), true, Named(kBV, "--chip W25Q128BV"));
  EXPECT_FALSE(other.settled);
  EXPECT_EQ(other.refusal,
            "--chip W25Q128BV has ID EF4018, but the chip in the socket answers ID EF7018, "
            "which is W25Q128JV-IM");

  // A chip whose ID no record has is not the chip the user named, whatever its name.
  const ChipIdentification unknown =
      JudgeChip(c, 0, Found("C84017"), true, Named(kJV, "--chip W25Q128JV-IM"));
  EXPECT_FALSE(unknown.settled);
  EXPECT_EQ(unknown.refusal,
            "--chip W25Q128JV-IM has ID EF7018, but the chip in the socket answers ID C84017, "
            "which is in no catalogue record");

  // EEPROMs are checked by family, the only thing the programmer tells about them.
  EXPECT_TRUE(JudgeChip(c, 0, Found("000001"), true, Named(k24C02, "--chip AT24C02")).settled);
  const ChipIdentification family =
      JudgeChip(c, 0, Found("000003"), true, Named(k24C02, "--chip AT24C02"));
  EXPECT_FALSE(family.settled);
  EXPECT_EQ(family.refusal,
            "--chip AT24C02 is a 24-series EEPROM, but the programmer found a 93-series EEPROM "
            "in the socket");
  const ChipIdentification flash =
      JudgeChip(c, 1, Found("EF7018", {kJV}), true, Named(k93C46, "--chip AT93C46(8bit)"));
  EXPECT_FALSE(flash.settled);
  EXPECT_NE(flash.refusal.find("is a 93-series EEPROM, but the chip in the socket answers ID "
                               "EF7018"),
            std::string::npos)
      << flash.refusal;
}

TEST(ChipIdentification, MissingProgrammerEmptySocketAndUpdateModeAreLeftToTheOperation) {
  const ChipCatalogue c = SmallCatalogue();
  for (const int result : {kNoChip, kNoProgrammer}) {
    const ChipIdentification unnamed = JudgeChip(c, result, Found(""), true, {});
    EXPECT_TRUE(unnamed.settled);
    EXPECT_EQ(unnamed.record, -1);
    EXPECT_EQ(JudgeChip(c, result, Found("000004"), true, Named(kJV, "--chip X")).record, kJV);
  }
}

}  // namespace
}  // namespace tarvix::cli
