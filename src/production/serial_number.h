// SPDX-License-Identifier: GPL-3.0-or-later
// Serial-number stamping: a counter value written into each chip at a chosen address,
// as binary, BCD, ASCII decimal or ASCII hex, in a fixed number of bytes. The patch
// applies to the data on its way to the chip (and to what verify compares it with),
// never to the loaded image or the user's file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvix {

enum class SerialEncoding : std::uint8_t { kBinary, kBcd, kAsciiDecimal, kAsciiHex };

struct SerialSettings {
  std::uint64_t address = 0;  // where the field starts in the chip
  SerialEncoding encoding = SerialEncoding::kBinary;
  int width = 4;  // bytes in the chip
  std::uint64_t step = 1;
  // Least significant byte (BCD pair, digit) first; otherwise most significant first.
  bool little_endian = false;
  std::uint64_t start = 0;
  friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// The widest field of an encoding (a value has at most 63 bits: the log stores it as a
// signed 64-bit integer).
[[nodiscard]] int MaxSerialWidth(SerialEncoding encoding);
// One past the largest value `width` bytes of `encoding` hold (capped at 2^63).
[[nodiscard]] std::uint64_t SerialLimit(SerialEncoding encoding, int width);

// What is wrong with the settings for a chip of `capacity` bytes ("" when nothing):
// a width out of range, a step of 0, a start that does not fit, a field past the chip.
[[nodiscard]] std::string SerialSettingsProblem(const SerialSettings& settings,
                                                std::uint64_t capacity);

// The bytes `value` is written as; nothing when it does not fit the width.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> EncodeSerial(const SerialSettings& settings,
                                                                    std::uint64_t value);

// The settings as one line of text, and back: the counter stores them with its state.
[[nodiscard]] std::string SerialSettingsText(const SerialSettings& settings);
[[nodiscard]] std::optional<SerialSettings> ParseSerialSettings(const std::string& text);
// "binary", "bcd", "decimal", "hex", and back.
[[nodiscard]] const char* SerialEncodingName(SerialEncoding encoding);
[[nodiscard]] std::optional<SerialEncoding> ParseSerialEncoding(const std::string& name);

// One chip's serial number as bytes at an address.
class SerialPatch {
 public:
  SerialPatch(std::uint64_t address, std::vector<std::uint8_t> bytes)
      : address_(address), bytes_(std::move(bytes)) {}

  [[nodiscard]] std::uint64_t Address() const { return address_; }
  [[nodiscard]] std::uint64_t End() const { return address_ + bytes_.size(); }
  [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  // True when some of the `size` bytes at `offset` are the patch's.
  [[nodiscard]] bool Overlaps(std::uint64_t offset, std::size_t size) const {
    return offset < End() && address_ < offset + size;
  }
  // Puts the patch's bytes over those of `data` (the bytes at `offset`) it covers.
  void Apply(std::uint64_t offset, std::span<std::uint8_t> data) const;

 private:
  std::uint64_t address_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tarvix
