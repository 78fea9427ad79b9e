// The programmer's identity (serial number) and firmware version: the "Firmware
// Version" box, and the identity read chip recognition uses to pick a picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/command_packet.h"
#include "device/host.h"
#include "device/usb_link.h"
#include "state/main_state.h"

namespace tarvix {

inline constexpr int kIdentityReplySize = 7;
inline constexpr std::uint8_t kNoFirmwareVersion = 0xFF;
inline constexpr int kSerialPictureSeries =
    13;  // serial / 10000 of the programmers with picture 227
inline constexpr int kSeriesPicture = 227;

// Code 22 with a 100 ms time-out, then 7 bytes within 100 ms; the serial number is
// bytes 4 to 6, most significant first. Nothing when either step fails.
[[nodiscard]] std::optional<std::uint32_t> ReadProgrammerSerial(UsbLink& link,
                                                                CommandPacket& packet);

// Serial number in decimal, six wide, leading zeros ("001234").
[[nodiscard]] std::string SerialText(std::uint32_t serial);
// "V%X.%X" of the version byte: major = high nibble + 1, minor = low nibble (0x12 -> "V2.2").
[[nodiscard]] std::string FirmwareVersionText(std::uint8_t version);
// The second picture's image for a programmer's serial number.
[[nodiscard]] int SecondPictureForSerial(std::uint32_t serial);

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
