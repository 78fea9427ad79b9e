// SPDX-License-Identifier: GPL-3.0-or-later
// The programmer's firmware version: the "Firmware Version" box with the version
// and the programmer's serial number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/command_packet.h"
#include "device/host.h"
#include "device/programmer_identity.h"
#include "device/usb_link.h"
#include "state/main_state.h"

namespace tarvix {

inline constexpr std::uint8_t kNoFirmwareVersion = 0xFF;

// "V%X.%X" of the version byte: major = high nibble + 1, minor = low nibble (0x12 -> "V2.2").
[[nodiscard]] std::string FirmwareVersionText(std::uint8_t version);
// Code 18 with a 100 ms time-out, then one byte within 100 ms: the byte as it came
// (0xFF included), nothing when either step fails.
[[nodiscard]] std::optional<std::uint8_t> ReadFirmwareVersionReply(UsbLink& link,
                                                                   CommandPacket& packet);

struct FirmwareVersionResult {
  bool ok = false;
  std::optional<std::uint32_t> serial;       // when the identity was read
  std::optional<std::uint8_t> version_byte;  // when a readable version came back
  std::string box_text;                      // the "version information" box, when shown
};

// The "Firmware Version" command (worker command 18): reports through `host` and
// returns what it found.
FirmwareVersionResult ShowFirmwareVersion(UsbLink& link, CommandPacket& packet, Host& host,
                                          const MainState& state);

}  // namespace tarvix
