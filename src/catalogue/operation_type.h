// SPDX-License-Identifier: GPL-3.0-or-later
// Operation-type codes: the three hexadecimal digits of a chip record's last field.
// The programmer reads them from bytes 2 and 3 of the command packet to pick its
// wire protocol; the simulator decodes them the same way, so this is the one place
// that says what each digit means.
//
//   digit 1  family:  0 SPI FLASH, 1 24-series I2C, 2 25-series SPI EEPROM,
//                     3 93-series Microwire
//   digit 2  variant within the family (below)
//   digit 3  socket/organisation variant (below)
//
// SPI FLASH ("0V0"): V is the addressing/protocol variant the programmer uses:
//   0 plain 3-byte addressing          (up to 16 MiB)
//   2 4-byte addressing                (above 16 MiB)
//   6 small parts without fast read     (up to 512 KiB, older 25-series flash)
//   7 AAI-programmed parts (SST 25VF)   (word/byte auto-address-increment)
//   8 dual-die / stacked parts          (die select before access)
//   These are also the five SPI probe settings of chip recognition.
// 24-series ("1A0"): A is the number of word-address bytes minus one
//   (0: one byte, 24C01..24C16; 1: two bytes, 24C32..24M02). The block-select
//   bits that spill into the device address are in the record's slave address.
// 25-series EEPROM ("2A0"): A is the number of address bytes
//   (1: one byte with the ninth bit in the opcode, 25010..25040;
//    2: two bytes, 25080..25512; 3: three bytes, 25M01 and larger).
// 93-series ("3AO"): A is 0 for 93C46..93C66 and 1 for 93C76..93C86 (longer
//   address frames); O is the organisation: 0 = 8-bit (ORG low), 1 = 16-bit
//   (ORG high). The capacity of a 16-bit record is written as words with "*".
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvix {

enum class ChipFamily : std::uint8_t {
  kSpiFlash = 0,
  kEeprom24 = 1,
  kEeprom25 = 2,
  kEeprom93 = 3,
  kUnknown = 0xFF,
};

// The family encoded by packet byte 2 (the first operation-type digit).
constexpr ChipFamily FamilyFromPacketByte(std::uint8_t byte2) {
  return byte2 <= 3 ? static_cast<ChipFamily>(byte2) : ChipFamily::kUnknown;
}

// The family of an operation-type text such as "000" or "310".
constexpr ChipFamily FamilyFromOperationType(std::string_view text) {
  if (text.empty()) return ChipFamily::kUnknown;
  const char c = text[0];
  return c >= '0' && c <= '3' ? static_cast<ChipFamily>(c - '0') : ChipFamily::kUnknown;
}

// Second operation-type digit as carried in the high nibble of packet byte 3.
constexpr std::uint8_t VariantFromPacketByte(std::uint8_t byte3) {
  return byte3 >> 4;
}

// Third operation-type digit as carried in the low nibble of packet byte 3.
constexpr std::uint8_t SubVariantFromPacketByte(std::uint8_t byte3) {
  return byte3 & 0x0F;
}

// Type section names of the shipped catalogue, in file order. Recognition selects
// the EEPROM families by their position in the type list (1, 2, 3).
inline constexpr std::string_view kTypeSpiFlash = "25 SPI FLASH";
inline constexpr std::string_view kType24Eeprom = "24 EEPROM";
inline constexpr std::string_view kType25Eeprom = "25 EEPROM";
inline constexpr std::string_view kType93Eeprom = "93 EEPROM";

}  // namespace tarvix
