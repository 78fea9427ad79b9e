// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_chip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "catalogue/chip_catalogue.h"
#include "sim_test_support.h"

namespace tarvix::sim {
namespace {

using testing::Bytes;

std::filesystem::path TempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("tarvix_sim_" + std::to_string(::getpid()) + "_" + name);
}

TEST(VirtualChip, FlashProgrammingOnlyClearsBitsAndEraseSetsThemAgain) {
  VirtualChip chip(testing::SpiFlash(4096));
  const std::uint8_t first[2] = {0xF0, 0x3C};
  const std::uint8_t second[2] = {0x0F, 0xFF};
  chip.Program(10, first, 2);
  chip.Program(10, second, 2);
  EXPECT_EQ(chip.ReadByte(10), 0x00);
  EXPECT_EQ(chip.ReadByte(11), 0x3C);
  chip.EraseRange(8, 3);  // part of the range only
  EXPECT_EQ(chip.ReadByte(10), 0xFF);
  EXPECT_EQ(chip.ReadByte(11), 0x3C);
  chip.EraseAll();
  EXPECT_EQ(chip.ReadByte(11), 0xFF);
  EXPECT_FALSE(chip.FirstNonBlank(chip.capacity()).has_value());
}

TEST(VirtualChip, EepromWritesStoreTheBytesAsGiven) {
  for (const ChipFamily f : {ChipFamily::kEeprom24, ChipFamily::kEeprom25, ChipFamily::kEeprom93}) {
    VirtualChip chip(testing::Eeprom(f, 256));
    const std::uint8_t a[1] = {0x00};
    const std::uint8_t b[1] = {0xA5};
    chip.Program(5, a, 1);
    chip.Program(5, b, 1);
    EXPECT_EQ(chip.ReadByte(5), 0xA5) << static_cast<int>(f);
  }
}

TEST(VirtualChip, ContentsCostNoMemoryUntilWrittenAndBoundsHold) {
  VirtualChip chip(testing::SpiFlash(std::uint64_t{512} << 20));
  EXPECT_EQ(chip.ResidentBytes(), 0u);
  EXPECT_EQ(chip.ReadByte((std::uint64_t{512} << 20) - 1), 0xFF);
  const std::uint8_t data[4] = {1, 2, 3, 4};
  // A write across a page boundary and past the end: only the part inside lands.
  chip.Program(0xFFFE, data, 4);
  chip.Program((std::uint64_t{512} << 20) - 2, data, 4);
  EXPECT_EQ(chip.ReadRange(0xFFFE, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(chip.ReadRange((std::uint64_t{512} << 20) - 2, 4), (Bytes{1, 2, 0xFF, 0xFF}));
  EXPECT_EQ(chip.ResidentBytes(), 3u * 65536);
  EXPECT_EQ(chip.FirstNonBlank(chip.capacity()), 0xFFFEu);
  EXPECT_EQ(chip.FirstNonBlank(0xFFFE), std::nullopt);  // the limit is exclusive
  chip.EraseAll();
  EXPECT_EQ(chip.ResidentBytes(), 0u);
}

TEST(VirtualChip, ImageFileIsCreatedErasedAndKeepsContentsBetweenRuns) {
  const auto path = TempPath("image.bin");
  std::filesystem::remove(path);
  {
    VirtualChip chip(testing::SpiFlash(200000));
    ASSERT_TRUE(chip.UseImageFile(path));
    EXPECT_TRUE(chip.IsFileBacked());
    EXPECT_EQ(std::filesystem::file_size(path), 200000u);
    EXPECT_FALSE(chip.FirstNonBlank(chip.capacity()).has_value());
    const std::uint8_t data[3] = {0x12, 0x34, 0x56};
    chip.Program(150000, data, 3);
    chip.Program(150000, data + 1, 1);  // flash rule holds in the file too: 0x12 & 0x34
    EXPECT_EQ(chip.FirstNonBlank(chip.capacity()), 150000u);
  }
  {
    VirtualChip again(testing::SpiFlash(200000));
    ASSERT_TRUE(again.UseImageFile(path));
    EXPECT_EQ(again.ReadRange(150000, 3), (Bytes{0x10, 0x34, 0x56}));
    EXPECT_EQ(again.ResidentBytes(), 0u);
    again.EraseAll();
    EXPECT_EQ(again.ReadByte(150000), 0xFF);
  }
  // A short existing image keeps its bytes and is extended with 0xFF.
  {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "AB";
    VirtualChip chip(testing::Eeprom(ChipFamily::kEeprom24, 16));
    ASSERT_TRUE(chip.UseImageFile(path));
    EXPECT_EQ(chip.ReadRange(0, 4), (Bytes{'A', 'B', 0xFF, 0xFF}));
    EXPECT_EQ(std::filesystem::file_size(path), 16u);
  }
  std::filesystem::remove(path);
  std::string error;
  VirtualChip chip(testing::SpiFlash(16));
  EXPECT_FALSE(chip.UseImageFile("/nonexistent-dir/x.bin", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.bin"), std::string::npos);
  // Only a file holds a chip: a disk named by mistake would be erased.
  const auto fifo = TempPath("image.fifo");
  std::filesystem::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const auto& [special, kind] :
       {std::pair<std::filesystem::path, std::string>{"/dev/null", "a character device"},
        {fifo, "a named pipe (FIFO)"},
        {std::filesystem::temp_directory_path(), "a folder"}}) {
    EXPECT_FALSE(chip.UseImageFile(special, &error)) << special;
    EXPECT_EQ(error, special.string() + ": it is " + kind + ", not a file");
    EXPECT_FALSE(chip.IsFileBacked());
  }
  std::filesystem::remove(fifo);
}

// Two chips on one image would interleave their writes: the second is refused, and
// neither its extension nor its erase touches the file.
TEST(VirtualChip, ImageFileIsHeldByOneChipAtATime) {
  const auto path = TempPath("held.bin");
  std::filesystem::remove(path);
  std::string error;
  {
    VirtualChip first(testing::SpiFlash(4096));
    ASSERT_TRUE(first.UseImageFile(path));
    const std::uint8_t data[2] = {0x00, 0x11};
    first.Program(0, data, 2);

    VirtualChip second(testing::SpiFlash(8192));
    EXPECT_FALSE(second.UseImageFile(path, &error));
    EXPECT_FALSE(second.IsFileBacked());
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(path), 4096u);
    EXPECT_EQ(first.ReadRange(0, 2), (Bytes{0x00, 0x11}));

    // The holder itself may take the file up again.
    EXPECT_TRUE(first.UseImageFile(path, &error)) << error;
  }
  // Released with the chip.
  VirtualChip later(testing::SpiFlash(4096));
  EXPECT_TRUE(later.UseImageFile(path, &error)) << error;
  EXPECT_EQ(later.ReadRange(0, 2), (Bytes{0x00, 0x11}));
  std::filesystem::remove(path);
}

TEST(VirtualChip, EveryShippedRecordMakesAChipOfItsFamily) {
  std::ifstream in(TARVIX_DATABASE_TXT, std::ios::binary);
  const std::vector<std::uint8_t> text((std::istreambuf_iterator<char>(in)), {});
  ChipCatalogue catalogue;
  ASSERT_TRUE(catalogue.Parse(text, [](std::string_view, std::string_view) {}));
  ASSERT_GT(catalogue.Count(), 100u);
  for (std::uint32_t i = 0; i < catalogue.Count(); ++i) {
    const ChipRecord& r = catalogue.Record(i);
    std::string error;
    auto chip = VirtualChip::FromRecord(r, &error);
    ASSERT_NE(chip, nullptr) << r.model << ": " << error;
    const ChipFamily expected = r.type == kTypeSpiFlash   ? ChipFamily::kSpiFlash
                                : r.type == kType24Eeprom ? ChipFamily::kEeprom24
                                : r.type == kType25Eeprom ? ChipFamily::kEeprom25
                                                          : ChipFamily::kEeprom93;
    EXPECT_EQ(chip->family(), expected) << r.model;
    EXPECT_GT(chip->capacity(), 0u) << r.model;
    if (expected == ChipFamily::kSpiFlash) EXPECT_NE(chip->description().main_id, 0u) << r.model;
    // Realistic times stay inside what the host waits for an erase (601 s).
    EXPECT_LT(chip->Speed().chip_erase_ms, 601'000) << r.model;
  }
}

TEST(VirtualChip, DescribeReadsIdsOrganisationAndRefusesNonsense) {
  ChipRecord r;
  r.type = "93 EEPROM";
  r.model = "AT93C46(16bit)";
  r.page_size = "N";
  r.sector_size = "N";
  r.capacity = "64*16";
  r.main_id = "000000";
  r.secondary_id = "000000";
  r.voltage = "5";
  r.operation_type = "301";
  auto d = VirtualChip::Describe(r);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->family, ChipFamily::kEeprom93);
  EXPECT_EQ(d->capacity, 128u);
  EXPECT_TRUE(d->word_organisation);
  EXPECT_EQ(d->page_size, 0u);

  r.operation_type = "000";
  r.capacity = "16MB";
  r.main_id = "EF4018";
  r.secondary_id = "00ef17";
  d = VirtualChip::Describe(r);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->main_id, 0xEF4018u);
  EXPECT_EQ(d->secondary_id, 0x00EF17u);
  EXPECT_FALSE(d->word_organisation);

  std::string error;
  r.operation_type = "900";
  EXPECT_FALSE(VirtualChip::Describe(r, &error));
  EXPECT_FALSE(error.empty());
  r.operation_type = "000";
  r.capacity = "lots";
  EXPECT_FALSE(VirtualChip::FromRecord(r, &error));
}

}  // namespace
}  // namespace tarvix::sim
