// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/command_packet.h"

#include <algorithm>

#include "catalogue/chip_catalogue.h"

namespace tarvix {
namespace {

// Decimal digits accumulated into a 32-bit value; `leading_only` stops at the first
// non-digit, otherwise every character is taken as (c - 48), as the programmer expects.
std::uint32_t ReadDecimal(const std::string& text, bool leading_only) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (leading_only && (c < '0' || c > '9')) break;
    value = value * 10u + static_cast<std::uint32_t>(static_cast<std::uint8_t>(c) - 48u);
  }
  return value;
}

}  // namespace

std::uint8_t SizeCode(std::uint32_t number) {
  for (std::uint32_t k = 0; k <= 16; ++k)
    if (number == (1u << k)) return static_cast<std::uint8_t>(k);
  return static_cast<std::uint8_t>(number & 0xFF);
}

std::uint32_t ParseCapacity(const std::string& text) {
  const auto first_b = text.find('B');
  const auto first_star = text.find('*');
  // Words are counted up to the "*" whatever follows it, so a "*" ahead of any "B"
  // decides; a "B" first means a byte unit.
  const bool star_mark =
      first_star != std::string::npos && (first_b == std::string::npos || first_star < first_b);
  const auto mark_pos = star_mark ? first_star : first_b;
  if (mark_pos == std::string::npos) return 0;
  const std::string kept = text.substr(0, mark_pos + 1);
  auto number_before = [&](std::size_t drop) {
    return ReadDecimal(kept.size() >= drop ? kept.substr(0, kept.size() - drop) : "", false);
  };
  // A capacity of 4 GiB or more wraps in 32 bits, as the programmer's field does.
  if (kept.find('G') != std::string::npos) return number_before(2) << 30;
  if (kept.find('M') != std::string::npos) return number_before(2) << 20;
  if (kept.find('K') != std::string::npos) return number_before(2) << 10;
  if (kept.find('B') != std::string::npos) return number_before(1);
  return number_before(1) * 2u;
}

ChipParameters ParseChipParameters(const ChipRecord& r) {
  ChipParameters p;
  p.five_volt = !r.voltage.empty() && r.voltage.back() == '5';
  p.word_organisation = r.capacity.empty() || r.capacity.back() != 'B';
  const std::string& op = r.operation_type;
  p.operation_type_high = op.size() >= 1 ? HexDigit(op[0]) : 0;
  p.operation_type_low =
      op.size() >= 3 ? static_cast<std::uint8_t>(HexDigit(op[1]) * 16 + HexDigit(op[2])) : 0;
  p.page_size_code = r.page_size == "N" ? 0xFF : SizeCode(ReadDecimal(r.page_size, false));
  if (r.sector_size == "N") {
    p.sector_size_code = 0;
  } else if (r.sector_size == "F") {
    p.sector_size_code = 0xFF;
  } else {
    p.sector_size_code = SizeCode(ReadDecimal(r.sector_size, true));
  }
  p.capacity = ParseCapacity(r.capacity);
  if (r.main_address == "N" || r.main_address.size() < 2) {
    p.main_address = 0;
  } else {
    p.main_address =
        static_cast<std::uint8_t>(HexDigit(r.main_address[0]) * 16 + HexDigit(r.main_address[1]));
  }
  const std::string& slave = r.slave_address;
  if (slave.size() >= 3) {
    p.slave_address_high = HexDigit(slave[0]);
    p.slave_address_low = static_cast<std::uint8_t>(HexDigit(slave[1]) * 16 + HexDigit(slave[2]));
  }
  return p;
}

bool CommandPacket::LoadChipParameters(const ChipCatalogue& catalogue, std::int64_t index,
                                       std::uint32_t* capacity_out) {
  if (!catalogue.IsValidIndex(index)) return false;
  const ChipParameters params =
      ParseChipParameters(catalogue.Record(static_cast<std::uint32_t>(index)));
  ApplyChipParameters(params);
  SetMarks();
  if (capacity_out != nullptr) *capacity_out = params.capacity;
  return true;
}

void CommandPacket::ApplyChipParameters(const ChipParameters& p) {
  std::lock_guard lock(mutex_);
  std::uint8_t b1 = bytes_[1] & 0x3F;
  if (p.word_organisation) b1 |= kWordOrganisationBit;
  if (p.five_volt) b1 |= 0x80;
  bytes_[1] = b1;
  bytes_[2] = p.operation_type_high;
  bytes_[3] = p.operation_type_low;
  bytes_[4] = p.page_size_code;
  bytes_[5] = p.sector_size_code;
  const auto cap = BigEndian32(p.capacity);
  std::copy(cap.begin(), cap.end(), bytes_.begin() + 6);
  bytes_[10] = p.main_address;
  bytes_[11] = p.slave_address_high;
  bytes_[12] = p.slave_address_low;
}

void CommandPacket::SetMarks() {
  std::lock_guard lock(mutex_);
  bytes_[0] = kPacketStart;
  bytes_[19] = kPacketEnd;
}

PacketBytes CommandPacket::Prepare(std::uint8_t code, std::span<const std::uint8_t> payload) {
  std::lock_guard lock(mutex_);
  bytes_[1] = static_cast<std::uint8_t>((bytes_[1] & 0xC0) | (code & 0x3F));
  const std::size_t n = std::min(payload.size(), kPayloadSize);
  std::copy_n(payload.begin(), n, bytes_.begin() + kPayloadOffset);
  return bytes_;
}

void CommandPacket::SetProbeHeader(bool voltage_flag, std::uint8_t byte2, std::uint8_t byte3) {
  std::lock_guard lock(mutex_);
  bytes_[1] = static_cast<std::uint8_t>((bytes_[1] & 0x7F) | (voltage_flag ? 0x80 : 0));
  bytes_[2] = byte2;
  bytes_[3] = byte3;
}

PacketBytes CommandPacket::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::uint8_t CommandPacket::Byte(std::size_t i) const {
  std::lock_guard lock(mutex_);
  return bytes_.at(i);
}

void CommandPacket::SetByte(std::size_t i, std::uint8_t value) {
  std::lock_guard lock(mutex_);
  bytes_.at(i) = value;
}

std::string CommandPacket::DetailsText() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const PacketBytes b = Bytes();
  std::string out;
  for (std::size_t i = 0; i < kPacketSize; ++i) {
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 15];
    if (i == 0 || i == 1 || i == 3 || i == 4 || i == 5 || i == 9 || i == 10 || i == 12 || i == 18)
      out += '|';
  }
  return out;
}

}  // namespace tarvix
