// SPDX-License-Identifier: GPL-3.0-or-later
// Self-check over every record of the catalogue the program ships.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/chip_catalogue.h"
#include "catalogue/database_codec.h"
#include "catalogue/operation_type.h"
#include "device/command_packet.h"
#include "operations/operation_fixture.h"
#include "operations/recognition.h"

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
                (r.sector_size.size() > 2 &&
                 r.sector_size.substr(r.sector_size.size() - 2) == "KB" &&
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
    if (p.word_organisation) {
      EXPECT_EQ(family, ChipFamily::kEeprom93);
    }
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

// ---- chip IDs ------------------------------------------------------------------

// JEDEC manufacturer codes in the order the read-ID command sends them: a maker from
// a later bank answers its continuation bytes (7F) first.
const std::map<std::string, std::vector<std::uint8_t>>& MakerCodes() {
  static const std::map<std::string, std::vector<std::uint8_t>> codes{
      {"AMIC", {0x37}},     {"Atmel", {0x1F}},  {"Boya", {0x68}},       {"EON", {0x1C}},
      {"Fidelix", {0xF8}},  {"Fudan", {0xA1}},  {"GigaDevice", {0xC8}}, {"ISSI", {0x9D}},
      {"Macronix", {0xC2}}, {"Micron", {0x20}}, {"Paragon", {0xE0}},    {"PMC", {0x7F, 0x9D}},
      {"Puya", {0x85}},     {"SST", {0xBF}},    {"ST", {0x20}},         {"Spansion", {0x01}},
      {"Winbond", {0xEF}},  {"XMC", {0x20}},    {"XTX", {0x0B}},        {"Zbit", {0x0E}},
  };
  return codes;
}

// Makers whose last ID byte numbers the device instead of giving its size.
const std::set<std::string> kMakersWithoutSizeCode{"Atmel", "PMC", "SST"};

// Parts whose last ID byte follows another rule than 2^n bytes. The rule maps n to
// the byte, so a wrong byte on a listed part is still caught.
struct SizeCodeRule {
  std::string why;
  std::function<int(int)> code;
  std::set<std::string> models;
};

const std::vector<SizeCodeRule>& SizeCodeExceptions() {
  static const std::vector<SizeCodeRule> rules{
      {"the size code goes on from 0x19 as if decimal: 64 MB is 0x20",
       [](int n) { return n >= 26 ? 0x20 + (n - 26) : -1; },
       {"W25Q512JV", "W25Q512JV-IM", "W25Q512NW", "W25Q512NW-IM", "W25Q01JV", "N25Q512A13",
        "N25Q00AA13", "N25Q512A11", "MT25QL512ABB", "MT25QL01GBBB", "MT25QL02GCBB", "MT25QU512ABB",
        "MT25QU01GBBB", "MT25QU02GCBB", "S25FL512S", "XM25QH512C"}},
      {"the 1.8 V Macronix parts add 0x20 to the size code",
       [](int n) { return 0x20 + n; },
       {"MX25U8035F", "MX25U1635F", "MX25U3235F", "MX25U6435F", "MX25U12835F", "MX25U25635F",
        "MX25U51245G", "MX66U51235F", "MX66U1G45G", "MX66U2G45G"}},
      {"one below the size code on Spansion's FL-A and FL-P parts",
       [](int n) { return n - 1; },
       {"S25FL004A", "S25FL008A", "S25FL016A", "S25FL032A", "S25FL064A", "S25FL032P", "S25FL064P"}},
      {"one below the size code: a stacked part answers with the size of one die",
       [](int n) { return n - 1; },
       {"W25M512JV", "W25M512JW"}},
  };
  return rules;
}

// Parts whose secondary ID is the form their datasheet gives instead of the legacy
// 00, maker, device form: some Zbit parts answer 0E 40 xx although the datasheet says
// 5E 60 xx, so both are kept.
const std::set<std::string> kSecondaryIdFromDatasheet{"ZB25VQ16", "ZB25VQ32", "ZB25VQ64",
                                                      "ZB25VQ128"};

std::string HexByte(std::uint8_t b) {
  return ChipCatalogue::IdText(b).substr(4);
}

std::array<std::uint8_t, 3> IdBytes(const std::string& text) {
  const auto id = static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
  return {static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
          static_cast<std::uint8_t>(id)};
}

std::set<std::string> SpiFlashMakers(const ChipCatalogue& catalogue) {
  const auto makers = catalogue.ManufacturerList(kTypeSpiFlash);
  return {makers.begin(), makers.end()};
}

TEST_F(ShippedCatalogue, SpiFlashIdsStartWithTheMakersJedecCode) {
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    if (r.type != kTypeSpiFlash) continue;
    SCOPED_TRACE(r.manufacturer + " / " + r.model + " " + r.main_id);
    const auto code = MakerCodes().find(r.manufacturer);
    if (code == MakerCodes().end()) {
      ADD_FAILURE() << "no JEDEC code listed for the maker";
      continue;
    }
    const auto id = IdBytes(r.main_id);
    for (std::size_t k = 0; k < code->second.size(); ++k)
      EXPECT_EQ(HexByte(id[k]), HexByte(code->second[k])) << "ID byte " << k;
  }
}

TEST_F(ShippedCatalogue, SpiFlashIdsEndWithTheSizeCode) {
  const std::set<std::string> makers = SpiFlashMakers(catalogue_);
  for (const auto& maker : kMakersWithoutSizeCode) EXPECT_TRUE(makers.count(maker)) << maker;

  std::set<std::string> excepted;
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    if (r.type != kTypeSpiFlash || kMakersWithoutSizeCode.count(r.manufacturer)) continue;
    SCOPED_TRACE(r.manufacturer + " / " + r.model + " " + r.main_id + ", " + r.capacity);
    const std::uint32_t capacity = ParseChipParameters(r).capacity;
    ASSERT_TRUE(std::has_single_bit(capacity));
    const int n = std::countr_zero(capacity);
    int expected = n;
    std::string rule = "2^n bytes";
    for (const SizeCodeRule& e : SizeCodeExceptions()) {
      if (!e.models.count(r.model)) continue;
      expected = e.code(n);
      rule = e.why;
      excepted.insert(r.model);
    }
    EXPECT_EQ(HexByte(IdBytes(r.main_id)[2]), HexByte(static_cast<std::uint8_t>(expected))) << rule;
  }
  // A listed part that left the catalogue (or was renamed) would hide a stale rule.
  for (const SizeCodeRule& e : SizeCodeExceptions())
    for (const auto& model : e.models)
      EXPECT_TRUE(excepted.count(model)) << model << " is listed but no such SPI FLASH record";
}

TEST_F(ShippedCatalogue, SecondaryIdsAreReachableAndTheMakersShortForm) {
  std::set<std::string> main_ids;
  for (std::uint32_t i = 0; i < count_; ++i) main_ids.insert(catalogue_.Record(i).main_id);

  std::set<std::string> from_datasheet;
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    if (r.type != kTypeSpiFlash || r.secondary_id == "000000") continue;
    SCOPED_TRACE(r.manufacturer + " / " + r.model + " " + r.secondary_id);
    // Recognition looks up every answer by main ID before any by secondary ID.
    EXPECT_FALSE(main_ids.count(r.secondary_id)) << "another record's main ID";
    if (kSecondaryIdFromDatasheet.count(r.model)) {
      from_datasheet.insert(r.model);
      continue;
    }
    const auto code = MakerCodes().find(r.manufacturer);
    ASSERT_NE(code, MakerCodes().end());
    const auto id = IdBytes(r.secondary_id);
    EXPECT_EQ(id[0], 0);
    EXPECT_EQ(HexByte(id[1]), HexByte(code->second.back()));
  }
  EXPECT_EQ(from_datasheet, kSecondaryIdFromDatasheet);
}

// ---- EEPROM model names ----------------------------------------------------------

// The size, in Kbit, that a serial EEPROM's model name states by its makers' common
// scheme; 0 when the name fits no such scheme.
//   24-series: 24C01..24C64, then 128, 256, 512, 1024, or M01, M02 in Mbit
//   25-series: 25010..25640 (ten times the Kbit), then 128, 256, 512, 1024, or M01..
//   93-series: 93C46, 56, 66, 76, 86 for 1, 2, 4, 8, 16 Kbit, with "(8bit)"/"(16bit)"
std::uint32_t KbitInModelName(std::string_view type, const std::string& model) {
  static const std::regex k24(R"(^[A-Z]*24[A-Z]*?(M0[1-9]|[0-9]{2,4})[A-Z]?$)");
  static const std::regex k25(R"(^[A-Z]*(?:25|95)[A-Z]*?(M0[1-9]|[0-9]{3,4})[A-Z]?$)");
  static const std::regex k93(R"(^[A-Z]*93[A-Z]*(46|56|66|76|86)[A-Z]?\((?:8|16)bit\)$)");
  static const std::map<std::string, std::uint32_t> k24Codes{
      {"01", 1},  {"02", 2},    {"04", 4},    {"08", 8},    {"16", 16},    {"32", 32},
      {"64", 64}, {"128", 128}, {"256", 256}, {"512", 512}, {"1024", 1024}};
  static const std::map<std::string, std::uint32_t> k25Codes{
      {"010", 1},  {"020", 2},   {"040", 4},   {"080", 8},   {"160", 16},   {"320", 32},
      {"640", 64}, {"128", 128}, {"256", 256}, {"512", 512}, {"1024", 1024}};
  static const std::map<std::string, std::uint32_t> k93Codes{
      {"46", 1}, {"56", 2}, {"66", 4}, {"76", 8}, {"86", 16}};

  const std::regex* pattern = nullptr;
  const std::map<std::string, std::uint32_t>* codes = nullptr;
  if (type == kType24Eeprom) {
    pattern = &k24;
    codes = &k24Codes;
  } else if (type == kType25Eeprom) {
    pattern = &k25;
    codes = &k25Codes;
  } else if (type == kType93Eeprom) {
    pattern = &k93;
    codes = &k93Codes;
  } else {
    return 0;
  }
  std::smatch m;
  if (!std::regex_match(model, m, *pattern)) return 0;
  const std::string size = m[1];
  if (size[0] == 'M') return static_cast<std::uint32_t>(size[2] - '0') * 1024;
  const auto found = codes->find(size);
  return found == codes->end() ? 0 : found->second;
}

TEST(EepromModelName, StatesTheSizeByTheMakersScheme) {
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "AT25010"), 1u);
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "25LC160A"), 16u);
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "M95640"), 64u);
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "CAT25128"), 128u);
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "25LC1024"), 1024u);
  EXPECT_EQ(KbitInModelName(kType25Eeprom, "25CSM04"), 4096u);
  EXPECT_EQ(KbitInModelName(kType24Eeprom, "AT24C02"), 2u);
  EXPECT_EQ(KbitInModelName(kType24Eeprom, "M24128"), 128u);
  EXPECT_EQ(KbitInModelName(kType24Eeprom, "AT24CM01"), 1024u);
  EXPECT_EQ(KbitInModelName(kType93Eeprom, "93LC66B(16bit)"), 4u);
  // The 24-series numbering used for 25-series parts states no size at all.
  for (const char* wrong : {"AT25001", "M95008", "CAT25064", "25LC016B", "AT25016"})
    EXPECT_EQ(KbitInModelName(kType25Eeprom, wrong), 0u) << wrong;
  EXPECT_EQ(KbitInModelName(kType24Eeprom, "AT24C010"), 0u);
  EXPECT_EQ(KbitInModelName(kType93Eeprom, "93C46"), 0u);  // organisation missing
}

TEST_F(ShippedCatalogue, EepromModelNamesStateTheirCapacity) {
  for (std::uint32_t i = 0; i < count_; ++i) {
    const ChipRecord& r = catalogue_.Record(i);
    if (r.type == kTypeSpiFlash) continue;
    SCOPED_TRACE(r.type + " / " + r.manufacturer + " / " + r.model + ", " + r.capacity);
    const ChipParameters p = ParseChipParameters(r);
    EXPECT_EQ(KbitInModelName(r.type, r.model), std::uint64_t{p.capacity} * 8 / 1024);
    if (r.type == kType93Eeprom) {
      EXPECT_EQ(r.model.ends_with("(16bit)"), p.word_organisation);
    }
  }
}

// ---- recognition against the shipped catalogue ----------------------------------

struct Recognised {
  int result = 0;
  std::string model;
  std::string status;
};

// A chip answering `id` to the read-ID probes, recognised as at start-up.
Recognised RecogniseId(std::uint32_t id) {
  sim::ChipDescription d;
  d.model = "probe";
  d.capacity = 1u << 20;
  d.main_id = id;
  testing::OperationFixture f("");
  f.PutChip(d);
  Recognised out;
  out.result = ChipRecognition(f.ctx, true);
  out.model = f.SelectedModel();
  out.status = f.host.LastStatus().text;
  return out;
}

TEST(ShippedCatalogueRecognition, CorrectedAndAddedIdsAreFoundInOneMatch) {
  const std::vector<std::pair<std::uint32_t, std::string>> cases{
      {0x1C7118, "EN25QX128A"},
      {0x204020, "XM25QH512C"},
      {0xEF4021, "W25Q01JV"},
      {0xC22314, "MX25V8035F"},
      {0xC84212, "GD25VQ21B"},
      {0x684012, "BY25D20"},
      {0x7F9D7B, "Pm25LV512A"},
      {0x7F9D7E, "Pm25LV040"},
      // Zbit parts by the ID they send and by the one their datasheet gives.
      {0x0E4015, "ZB25VQ16"},
      {0x5E6015, "ZB25VQ16"},
      {0x0E4018, "ZB25VQ128"},
      {0x5E6018, "ZB25VQ128"},
  };
  for (const auto& [id, model] : cases) {
    SCOPED_TRACE(ChipCatalogue::IdText(id));
    const Recognised r = RecogniseId(id);
    EXPECT_EQ(r.result, kRecognisedInCatalogue);
    EXPECT_EQ(r.model, model);
    EXPECT_EQ(r.status, "find SPI FLASH");
  }
}

}  // namespace
}  // namespace tarvix
