// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer's identity read (code 22): its serial number, shown in the
// "Firmware Version" box and used by chip recognition to pick the second picture.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/command_packet.h"
#include "device/usb_link.h"

namespace tarvix {

inline constexpr int kIdentityReplySize = 7;
inline constexpr int kSerialPictureSeries =
    13;  // serial / 10000 of the programmers with picture 227
inline constexpr int kSeriesPicture = 227;

// The serial number in an identity reply: bytes 4 to 6, most significant first.
[[nodiscard]] std::uint32_t SerialOf(const std::array<std::uint8_t, kIdentityReplySize>& reply);

// Code 22 with a 100 ms time-out, then 7 bytes within 100 ms; nothing when either
// step fails.
[[nodiscard]] std::optional<std::uint32_t> ReadProgrammerSerial(UsbLink& link,
                                                                CommandPacket& packet);

// Serial number in decimal, six wide, leading zeros ("001234").
[[nodiscard]] std::string SerialText(std::uint32_t serial);
// The second picture's image for a programmer's serial number.
[[nodiscard]] int SecondPictureForSerial(std::uint32_t serial);

}  // namespace tarvix
