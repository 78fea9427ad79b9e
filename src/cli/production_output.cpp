// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/production_output.h"

#include <charconv>
#include <cstdio>

#include "cli/cli_context.h"

namespace tarvix::cli {
namespace {

std::string HexBytes(const std::array<std::uint8_t, kDiffBytesKept>& bytes, std::size_t kept) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < kept; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

bool ParseNumber(const std::string& text, int base, std::uint64_t* value) {
  std::string_view digits = text;
  if (base == 16 && (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0))
    digits.remove_prefix(2);
  if (digits.empty()) return false;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), *value, base);
  return error == std::errc() && end == digits.data() + digits.size();
}

}  // namespace

std::string SumsLine(std::string_view what, const Checksums& sums) {
  return std::string(what) + " CRC-32 " + sums.Crc32Text() + " SHA-256 " + sums.Sha256Text() + "\n";
}

std::string SumsJson(std::string_view what, const std::optional<Checksums>& sums) {
  const std::string name(what);
  return ",\"" + name + "_crc32\":" + (sums ? JsonString(sums->Crc32Text()) : "null") + ",\"" +
         name + "_sha256\":" + (sums ? JsonString(sums->Sha256Text()) : "null");
}

std::string DiffText(const DiffList& list, std::uint64_t ranges, std::uint64_t bytes) {
  std::string text = "differences: " + std::to_string(ranges) + " range" +
                     (ranges == 1 ? "" : "s") + ", " + std::to_string(bytes) + " byte" +
                     (bytes == 1 ? "" : "s") + "\n";
  for (const DiffRange& range : list.Ranges()) text += DiffRangeText(range) + "\n";
  if (list.MoreRanges() > 0 && !list.Ranges().empty())
    text += "and " + std::to_string(list.MoreRanges()) + " more range" +
            (list.MoreRanges() == 1 ? "" : "s") + " (" + std::to_string(list.MoreBytes()) +
            " bytes)\n";
  return text;
}

std::string DiffJson(const DiffList& list, std::uint64_t ranges, std::uint64_t bytes) {
  std::string json = ",\"diff\":{\"ranges\":" + std::to_string(ranges) +
                     ",\"bytes\":" + std::to_string(bytes) + ",\"list\":[";
  bool first = true;
  for (const DiffRange& range : list.Ranges()) {
    json += std::string(first ? "" : ",") + "{\"address\":" + std::to_string(range.address) +
            ",\"length\":" + std::to_string(range.length) + ",\"file\":\"" +
            HexBytes(range.file, range.Kept()) + "\",\"chip\":\"" +
            HexBytes(range.chip, range.Kept()) + "\"}";
    first = false;
  }
  return json + "],\"more_ranges\":" + std::to_string(list.MoreRanges()) +
         ",\"more_bytes\":" + std::to_string(list.MoreBytes()) + "}";
}

bool ParseSerialOption(const std::string& option, const std::string& value,
                       SerialSettings& settings, bool* known, std::string* error) {
  *known = true;
  std::uint64_t number = 0;
  if (option == "--serial-address") {
    if (ParseNumber(value, 16, &settings.address)) return true;
    *error = "--serial-address takes a hexadecimal address";
  } else if (option == "--serial-encoding") {
    static const std::pair<const char*, SerialEncoding> kNames[] = {
        {"binary", SerialEncoding::kBinary},
        {"bcd", SerialEncoding::kBcd},
        {"ascii-dec", SerialEncoding::kAsciiDecimal},
        {"ascii-hex", SerialEncoding::kAsciiHex}};
    for (const auto& [name, encoding] : kNames) {
      if (value != name) continue;
      settings.encoding = encoding;
      return true;
    }
    *error = "--serial-encoding takes binary, bcd, ascii-dec or ascii-hex";
  } else if (option == "--serial-width") {
    if (ParseNumber(value, 10, &number) && number >= 1 && number <= 19) {
      settings.width = static_cast<int>(number);
      return true;
    }
    *error = "--serial-width takes a number of bytes";
  } else if (option == "--serial-step") {
    if (ParseNumber(value, 10, &settings.step) && settings.step > 0) return true;
    *error = "--serial-step takes a number above 0";
  } else if (option == "--serial-order") {
    if (value == "msb" || value == "lsb") {
      settings.little_endian = value == "lsb";
      return true;
    }
    *error = "--serial-order takes msb or lsb";
  } else if (option == "--serial-start") {
    if (ParseNumber(value, 10, &settings.start)) return true;
    *error = "--serial-start takes a decimal number";
  } else {
    *known = false;
  }
  return false;
}

}  // namespace tarvix::cli
