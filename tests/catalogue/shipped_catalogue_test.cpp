// Self-check over every record of the catalogue the program ships.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "catalogue/chip_catalogue.h"
#include "catalogue/database_codec.h"
#include "catalogue/operation_type.h"
#include "device/command_packet.h"

namespace tarvix {
namespace {

class ShippedCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string errors;
    count_ = catalogue_.Load(TARVIX_DATABASE_DAT, [&](std::string_view m, std::string_view) {
      errors += std::string(m) + "\n";
    });
    ASSERT_TRUE(errors.empty()) << errors;
  }
  ChipCatalogue catalogue_;
  std::uint32_t count_ = 0;
};

bool IsIdText(const std::string& s) {
  if (s.size() != 6) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

bool IsDecimal(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

TEST_F(ShippedCatalogue, PackedFileIsThePlainTextScrambled) {
  std::ifstream txt(TARVIX_DATABASE_TXT, std::ios::binary);
  std::ifstream dat(TARVIX_DATABASE_DAT, std::ios::binary);
  const std::vector<std::uint8_t> plain{std::istreambuf_iterator<char>(txt), {}};
  const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(dat), {}};
  EXPECT_EQ(Unscramble(stored), plain);
  EXPECT_EQ(Scramble(plain).bytes, stored);
}

TEST_F(ShippedCatalogue, HoldsEnoughChipsWithinEveryLimit) {
  EXPECT_GE(count_, 300u);
  EXPECT_LE(count_, ChipCatalogue::kCapacity);
  const auto types = catalogue_.TypeList();
  ASSERT_EQ(types,
            (std::vector<std::string>{std::string(kTypeSpiFlash), std::string(kType24Eeprom),
                                      std::string(kType25Eeprom), std::string(kType93Eeprom)}));
  for (const auto& type : types) {
    const auto makers = catalogue_.ManufacturerList(type);
    EXPECT_LE(makers.size(), ChipCatalogue::kMaxManufacturers);
    // Contiguous sections: no manufacturer listed twice.
    EXPECT_EQ(std::set<std::string>(makers.begin(), makers.end()).size(), makers.size()) << type;
    for (const auto& maker : makers)
      EXPECT_LE(catalogue_.ModelList(type, maker).size(), ChipCatalogue::kMaxModels);
  }
}

TEST_F(ShippedCatalogue, EveryRecordIsWellFormed) {
  std::set<std::tuple<std::string, std::string, std::string>> names;
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    SCOPED_TRACE(r.type + " / " + r.manufacturer + " / " + r.model);
    EXPECT_TRUE(names.emplace(r.type, r.manufacturer, r.model).second) << "listed twice";
    EXPECT_TRUE(IsIdText(r.main_id)) << r.main_id;
    EXPECT_TRUE(IsIdText(r.secondary_id)) << r.secondary_id;
    EXPECT_TRUE(r.page_size == "N" || IsDecimal(r.page_size)) << r.page_size;
    // Sector sizes are written in KB: the programmer takes the code as 2^code KB blocks.
    EXPECT_TRUE(r.sector_size == "N" || r.sector_size == "F" ||
                (r.sector_size.size() > 2 && r.sector_size.substr(r.sector_size.size() - 2) == "KB" &&
                 IsDecimal(r.sector_size.substr(0, r.sector_size.size() - 2))))
        << r.sector_size;
    EXPECT_TRUE(r.main_address == "N" ||
                (r.main_address.size() == 2 && IsIdText("0000" + r.main_address)));
    EXPECT_TRUE(r.slave_address.size() == 3 && IsIdText("000" + r.slave_address));
    EXPECT_TRUE(r.voltage == "3.3" || r.voltage == "1.8" || r.voltage == "5") << r.voltage;
    ASSERT_EQ(r.operation_type.size(), 3u);
    EXPECT_TRUE(IsIdText("000" + r.operation_type));

    const ChipFamily family = FamilyFromOperationType(r.operation_type);
    const ChipParameters p = ParseChipParameters(r);
    // The capacity text gives a whole power-of-two size the page size divides.
    ASSERT_GT(p.capacity, 0u) << r.capacity;
    EXPECT_EQ(p.capacity & (p.capacity - 1), 0u) << r.capacity;
    if (r.page_size != "N") {
      const std::uint32_t page = std::stoul(r.page_size);
      ASSERT_GT(page, 0u);
      EXPECT_EQ(p.capacity % page, 0u);
    }
    if (r.sector_size != "N" && r.sector_size != "F") {
      const std::uint64_t sector = std::stoull(r.sector_size) * 1024;
      EXPECT_EQ(std::uint64_t{1} << (p.sector_size_code + 10), sector) << r.sector_size;
      EXPECT_EQ(p.capacity % sector, 0u);
    }
    EXPECT_EQ(p.word_organisation, r.capacity.find('*') != std::string::npos);
    if (p.word_organisation) EXPECT_EQ(family, ChipFamily::kEeprom93);
    switch (family) {
      case ChipFamily::kSpiFlash:
        EXPECT_EQ(r.type, kTypeSpiFlash);
        EXPECT_NE(r.main_id, "000000");
        break;
      case ChipFamily::kEeprom24:
        EXPECT_EQ(r.type, kType24Eeprom);
        EXPECT_EQ(r.main_address, "A0");
        break;
      case ChipFamily::kEeprom25:
        EXPECT_EQ(r.type, kType25Eeprom);
        break;
      case ChipFamily::kEeprom93:
        EXPECT_EQ(r.type, kType93Eeprom);
        EXPECT_EQ(r.operation_type[2] == '1', p.word_organisation);
        break;
      case ChipFamily::kUnknown:
        ADD_FAILURE() << "unknown family " << r.operation_type;
    }
  }
}

TEST_F(ShippedCatalogue, SpiFlashIdsFindTheirRecords) {
  // Every SPI FLASH is reachable by its main ID, as recognition needs.
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    if (r.type != kTypeSpiFlash) continue;
    const auto found = catalogue_.RecordsByMainId(std::stoul(r.main_id, nullptr, 16));
    EXPECT_NE(std::find(found.begin(), found.end(), r.internal_number), found.end()) << r.model;
  }
}

}  // namespace
}  // namespace tarvix
