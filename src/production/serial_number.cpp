// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/serial_number.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tarvix {
namespace {

constexpr std::uint64_t kValueLimit = std::uint64_t{1} << 63;

constexpr std::array<const char*, 4> kEncodingNames{"binary", "bcd", "decimal", "hex"};

// Digits per byte and the base of each digit; binary is one base-256 "digit" a byte.
struct Layout {
  std::uint64_t base;
  int digits_per_byte;
};

Layout LayoutOf(SerialEncoding encoding) {
  switch (encoding) {
    case SerialEncoding::kBinary:
      return {256, 1};
    case SerialEncoding::kBcd:
      return {10, 2};
    case SerialEncoding::kAsciiDecimal:
      return {10, 1};
    case SerialEncoding::kAsciiHex:
      return {16, 1};
  }
  return {256, 1};
}

}  // namespace

int MaxSerialWidth(SerialEncoding encoding) {
  switch (encoding) {
    case SerialEncoding::kBinary:
      return 8;
    case SerialEncoding::kBcd:
      return 10;
    case SerialEncoding::kAsciiDecimal:
      return 19;
    case SerialEncoding::kAsciiHex:
      return 16;
  }
  return 8;
}

std::uint64_t SerialLimit(SerialEncoding encoding, int width) {
  const Layout layout = LayoutOf(encoding);
  std::uint64_t limit = 1;
  for (int i = 0; i < width * layout.digits_per_byte; ++i) {
    if (limit > kValueLimit / layout.base) return kValueLimit;
    limit *= layout.base;
  }
  return std::min(limit, kValueLimit);
}

std::string SerialSettingsProblem(const SerialSettings& s, std::uint64_t capacity) {
  if (s.width < 1 || s.width > MaxSerialWidth(s.encoding))
    return "a " + std::string(SerialEncodingName(s.encoding)) + " serial number takes 1 to " +
           std::to_string(MaxSerialWidth(s.encoding)) + " bytes";
  if (s.step == 0) return "the serial number step must be at least 1";
  if (s.start >= SerialLimit(s.encoding, s.width))
    return "the start value " + std::to_string(s.start) + " does not fit " +
           std::to_string(s.width) + " bytes";
  if (s.address >= capacity || capacity - s.address < static_cast<std::uint64_t>(s.width))
    return "the serial number field lies past the end of the chip";
  return {};
}

std::optional<std::vector<std::uint8_t>> EncodeSerial(const SerialSettings& s,
                                                      std::uint64_t value) {
  if (s.width < 1 || s.width > MaxSerialWidth(s.encoding) ||
      value >= SerialLimit(s.encoding, s.width))
    return std::nullopt;
  const Layout layout = LayoutOf(s.encoding);
  // Most significant byte first; turned round at the end for little-endian.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(s.width));
  for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte) {
    const auto digit = static_cast<std::uint8_t>(value % layout.base);
    value /= layout.base;
    switch (s.encoding) {
      case SerialEncoding::kBinary:
        *byte = digit;
        break;
      case SerialEncoding::kBcd:
        *byte = static_cast<std::uint8_t>(digit | (value % 10) << 4);
        value /= 10;
        break;
      case SerialEncoding::kAsciiDecimal:
      case SerialEncoding::kAsciiHex:
        *byte = static_cast<std::uint8_t>("0123456789ABCDEF"[digit]);
        break;
    }
  }
  if (s.little_endian) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

const char* SerialEncodingName(SerialEncoding encoding) {
  return kEncodingNames[static_cast<std::size_t>(encoding)];
}

std::optional<SerialEncoding> ParseSerialEncoding(const std::string& name) {
  for (std::size_t i = 0; i < kEncodingNames.size(); ++i)
    if (name == kEncodingNames[i]) return static_cast<SerialEncoding>(i);
  return std::nullopt;
}

std::string SerialSettingsText(const SerialSettings& s) {
  return "address=" + std::to_string(s.address) + " encoding=" + SerialEncodingName(s.encoding) +
         " width=" + std::to_string(s.width) + " step=" + std::to_string(s.step) +
         " order=" + (s.little_endian ? "little" : "big") + " start=" + std::to_string(s.start);
}

std::optional<SerialSettings> ParseSerialSettings(const std::string& text) {
  SerialSettings s;
  std::istringstream in(text);
  std::string field;
  int seen = 0;
  while (in >> field) {
    const std::size_t equals = field.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string key = field.substr(0, equals);
    const std::string value = field.substr(equals + 1);
    char* end = nullptr;
    const std::uint64_t number = std::strtoull(value.c_str(), &end, 10);
    const bool numeric = !value.empty() && *end == '\0';
    if (key == "address" && numeric) {
      s.address = number;
    } else if (key == "width" && numeric && number <= 64) {
      s.width = static_cast<int>(number);
    } else if (key == "step" && numeric) {
      s.step = number;
    } else if (key == "start" && numeric) {
      s.start = number;
    } else if (key == "order" && (value == "little" || value == "big")) {
      s.little_endian = value == "little";
    } else if (key == "encoding" && ParseSerialEncoding(value)) {
      s.encoding = *ParseSerialEncoding(value);
    } else {
      return std::nullopt;
    }
    ++seen;
  }
  if (seen != 6) return std::nullopt;
  return s;
}

void SerialPatch::Apply(std::uint64_t offset, std::span<std::uint8_t> data) const {
  if (!Overlaps(offset, data.size())) return;
  const std::uint64_t from = std::max(offset, address_);
  const std::uint64_t to = std::min(offset + data.size(), End());
  std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(from - address_),
            bytes_.begin() + static_cast<std::ptrdiff_t>(to - address_),
            data.begin() + static_cast<std::ptrdiff_t>(from - offset));
}

}  // namespace tarvix
