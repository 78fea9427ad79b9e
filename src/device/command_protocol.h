// SPDX-License-Identifier: GPL-3.0-or-later
// Sending commands to the programmer: the 20-byte CommandPacket and the 4-byte
// ShortFrame of the firmware upgrade, both on the interrupt-out endpoint 2.
#pragma once

#include <cstdint>
#include <span>

#include "device/command_packet.h"
#include "device/usb_link.h"

namespace tarvix {

// Command codes of the packet's byte 1 (bits 0-5).
namespace command_code {
inline constexpr std::uint8_t kSetParameters = 0;
inline constexpr std::uint8_t kBeginWrite = 1;
inline constexpr std::uint8_t kEndOfData = 2;
inline constexpr std::uint8_t kErase = 5;
inline constexpr std::uint8_t kReadChipId = 7;
inline constexpr std::uint8_t kVerify = 8;
inline constexpr std::uint8_t kEndOperation = 9;
inline constexpr std::uint8_t kReadChip = 13;
inline constexpr std::uint8_t kBlankCheck = 15;
inline constexpr std::uint8_t kReadAtAddress = 17;
inline constexpr std::uint8_t kFirmwareVersion = 18;
inline constexpr std::uint8_t kChipFill = 19;
inline constexpr std::uint8_t kEnterFirmwareUpgrade = 21;
inline constexpr std::uint8_t kProgrammerIdentity = 22;
inline constexpr std::uint8_t kResetParameters = 25;
}  // namespace command_code

inline constexpr std::size_t kShortFrameSize = 4;

// Writes `code` into the packet (bits 6-7 of byte 1 kept), copies up to six payload
// bytes to byte 13 onward (they stay for later commands without payload) and sends
// the 20 bytes on endpoint 2. A time-out of 0 means 500 ms. True when sent.
bool SendCommand(UsbLink& link, CommandPacket& packet, std::uint8_t code, int timeout_ms,
                 std::span<const std::uint8_t> payload = {});

// 0xA5, code, value, 0x5A on endpoint 2. True when sent.
bool SendShortFrame(UsbLink& link, std::uint8_t code, int timeout_ms, std::uint8_t value);

}  // namespace tarvix
