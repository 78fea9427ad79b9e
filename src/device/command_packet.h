// SPDX-License-Identifier: GPL-3.0-or-later
// The 20-byte block every command goes out in: start mark, command code with the
// organisation and voltage bits, the selected chip's parameters, a six-byte payload
// and the end mark. Multi-byte numbers are most significant byte first.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "catalogue/chip_parameter_sink.h"

namespace tarvix {

class ChipCatalogue;
struct ChipRecord;

inline constexpr std::uint8_t kPacketStart = 0xA5;
inline constexpr std::uint8_t kPacketEnd = 0x5A;
inline constexpr std::size_t kPacketSize = 20;
// Bit 6 of byte 1: the chip is organised in 16-bit words.
inline constexpr std::uint8_t kWordOrganisationBit = 0x40;
inline constexpr std::size_t kPayloadOffset = 13;
inline constexpr std::size_t kPayloadSize = 6;

using PacketBytes = std::array<std::uint8_t, kPacketSize>;

// Chip parameter bytes of a record: bits 6-7 of byte 1, bytes 2 to 12, and the
// capacity in bytes.
struct ChipParameters {
  bool word_organisation = false;  // bit 6: capacity counted in 16-bit words
  bool five_volt = false;          // bit 7
  std::uint8_t operation_type_high = 0;
  std::uint8_t operation_type_low = 0;
  std::uint8_t page_size_code = 0;
  std::uint8_t sector_size_code = 0;
  std::uint32_t capacity = 0;
  std::uint8_t main_address = 0;
  std::uint8_t slave_address_high = 0;
  std::uint8_t slave_address_low = 0;
};

// The text conversions of a record's fields, exactly as the programmer expects them.
[[nodiscard]] ChipParameters ParseChipParameters(const ChipRecord& record);
// Capacity text ("128KB", "64*16", ...) to bytes; 0 when it names no unit.
[[nodiscard]] std::uint32_t ParseCapacity(const std::string& text);
// Page or sector size code: 2^k gives k, any other number its low 8 bits.
[[nodiscard]] std::uint8_t SizeCode(std::uint32_t number);
// One hex digit as the programmer's packer reads it: c - 55 from "A" up, else c - 48.
[[nodiscard]] constexpr std::uint8_t HexDigit(char c) {
  const auto u = static_cast<std::uint8_t>(c);
  return static_cast<std::uint8_t>(u >= 65 ? u - 55 : u - 48);
}

class CommandPacket : public ChipParameterSink {
 public:
  CommandPacket() { bytes_.fill(0); }

  // Fills the chip parameter bytes from record `index` and sets both marks.
  // Returns false (changing nothing) when the index is not a valid record.
  bool LoadChipParameters(const ChipCatalogue& catalogue, std::int64_t index,
                          std::uint32_t* capacity_out) override;
  void ApplyChipParameters(const ChipParameters& params);
  void SetMarks();

  // Command code into bits 0-5 of byte 1 (bits 6-7 kept) and an optional payload
  // into bytes 13 onward; returns the bytes to send. The payload stays in the
  // packet for later commands that carry none.
  PacketBytes Prepare(std::uint8_t code, std::span<const std::uint8_t> payload);

  // Recognition probes rewrite the voltage flag and the operation type bytes.
  void SetProbeHeader(bool voltage_flag, std::uint8_t byte2, std::uint8_t byte3);

  [[nodiscard]] PacketBytes Bytes() const;
  [[nodiscard]] std::uint8_t Byte(std::size_t i) const;
  [[nodiscard]] bool WordOrganised() const { return (Byte(1) & kWordOrganisationBit) != 0; }
  void SetByte(std::size_t i, std::uint8_t value);

  // The 20 bytes as the chip details box shows them: "%2X" each, "|" after
  // bytes 0, 1, 3, 4, 5, 9, 10, 12 and 18.
  [[nodiscard]] std::string DetailsText() const override;

 private:
  mutable std::mutex mutex_;  // the window thread reloads parameters while the worker sends
  PacketBytes bytes_;
};

// Big-endian helpers for payloads and replies.
[[nodiscard]] inline std::array<std::uint8_t, 4> BigEndian32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
[[nodiscard]] inline std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

}  // namespace tarvix
