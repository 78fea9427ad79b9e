// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/programmer_identity.h"

#include <cstdio>

#include "device/command_protocol.h"
#include "device/host_model.h"

namespace tarvix {

namespace {
constexpr int kIdentityTimeoutMs = 100;
}  // namespace

std::uint32_t SerialOf(const std::array<std::uint8_t, kIdentityReplySize>& reply) {
  return (std::uint32_t{reply[4]} << 16) | (std::uint32_t{reply[5]} << 8) | reply[6];
}

std::optional<std::uint32_t> ReadProgrammerSerial(UsbLink& link, CommandPacket& packet) {
  if (!SendCommand(link, packet, command_code::kProgrammerIdentity, kIdentityTimeoutMs))
    return std::nullopt;
  std::array<std::uint8_t, kIdentityReplySize> reply{};
  if (link.BulkRead(reply.data(), kIdentityReplySize, kIdentityTimeoutMs) < kIdentityReplySize)
    return std::nullopt;
  return SerialOf(reply);
}

std::string SerialText(std::uint32_t serial) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%6lu", static_cast<unsigned long>(serial));
  std::string text = buffer;
  for (char& c : text)
    if (c == ' ') c = '0';
  return text;
}

int SecondPictureForSerial(std::uint32_t serial) {
  return serial / 10000 == kSerialPictureSeries ? kSeriesPicture : kSecondPictureDefault;
}

}  // namespace tarvix
