// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/chip_identification.h"

#include <algorithm>

#include "catalogue/operation_type.h"

namespace tarvix::cli {
namespace {

constexpr char kNameIt[] =
    "name the chip in the socket with --chip MODEL (\"tarvix-cli chips\" lists the models)";

ChipFamily FamilyOfReservedId(const std::string& id) {
  if (id == "000001") return ChipFamily::kEeprom24;
  if (id == "000002") return ChipFamily::kEeprom25;
  if (id == "000003") return ChipFamily::kEeprom93;
  return ChipFamily::kUnknown;
}

std::string FamilyName(ChipFamily family) {
  switch (family) {
    case ChipFamily::kEeprom24:
      return "a 24-series EEPROM";
    case ChipFamily::kEeprom25:
      return "a 25-series EEPROM";
    case ChipFamily::kEeprom93:
      return "a 93-series EEPROM";
    case ChipFamily::kSpiFlash:
      return "an SPI FLASH";
    default:
      return "a chip of unknown kind";
  }
}

std::string Models(const ChipCatalogue& catalogue, const std::vector<std::int32_t>& records) {
  std::string text;
  for (const std::int32_t r : records) {
    if (!text.empty()) text += ", ";
    text += catalogue.Record(static_cast<std::uint32_t>(r)).model;
  }
  return text;
}

// What the user named, in the terms the programmer could check: an SPI FLASH by its
// ID, an EEPROM only by its family.
std::string Describe(const ChipRecord& record) {
  const ChipFamily family = FamilyFromOperationType(record.operation_type);
  if (family == ChipFamily::kSpiFlash) return "has ID " + record.main_id;
  return "is " + FamilyName(family);
}

ChipIdentification Settled(std::int32_t record) {
  return {true, record, {}};
}
ChipIdentification Refused(std::string why) {
  return {false, -1, std::move(why)};
}

}  // namespace

ChipIdentification JudgeChip(const ChipCatalogue& catalogue, int result,
                             const RecognitionFindings& findings, bool auto_recognize,
                             const ChipNaming& named) {
  const bool has_name =
      named.record >= 0 && static_cast<std::uint32_t>(named.record) < catalogue.Count();
  const ChipRecord* record =
      has_name ? &catalogue.Record(static_cast<std::uint32_t>(named.record)) : nullptr;

  if (!auto_recognize) {
    if (has_name) return Settled(named.record);
    return Refused(
        "the chip was not identified: \"Auto Recognize\" is off in the settings, so nothing "
        "was probed; " +
        std::string(kNameIt));
  }
  // No programmer, no chip, update mode: the operation's own check says so.
  if (result < 0) return Settled(has_name ? named.record : -1);

  const std::string& id = findings.id_text;
  const ChipFamily family = FamilyOfReservedId(id);
  if (family != ChipFamily::kUnknown) {
    if (!has_name)
      return Refused("the programmer found " + FamilyName(family) +
                     ", whose model it cannot tell by ID; " + kNameIt);
    const ChipFamily named_family = FamilyFromOperationType(record->operation_type);
    if (named_family == family) return Settled(named.record);
    return Refused(named.how + " " + Describe(*record) + ", but the programmer found " +
                   FamilyName(family) + " in the socket");
  }

  if (id.empty()) {
    if (has_name) return Settled(named.record);
    return Refused("the chip was not identified; " + std::string(kNameIt));
  }

  const auto& matches = findings.matches;
  if (has_name) {
    if (std::find(matches.begin(), matches.end(), named.record) != matches.end())
      return Settled(named.record);
    const std::string found = matches.empty() ? "which is in no catalogue record"
                                              : "which is " + Models(catalogue, matches);
    return Refused(named.how + " " + Describe(*record) +
                   ", but the chip in the socket answers ID " + id + ", " + found);
  }
  if (matches.size() == 1) return Settled(matches.front());
  if (matches.empty())
    return Refused("the chip in the socket answers ID " + id +
                   ", which is in no catalogue record; " + kNameIt);
  return Refused("the chip in the socket answers ID " + id + ", which " +
                 std::to_string(matches.size()) + " catalogue chips share (" +
                 Models(catalogue, matches) + "); " + kNameIt);
}

}  // namespace tarvix::cli
