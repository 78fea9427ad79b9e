// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/command_protocol.h"

#include <array>

namespace tarvix {

bool SendCommand(UsbLink& link, CommandPacket& packet, std::uint8_t code, int timeout_ms,
                 std::span<const std::uint8_t> payload) {
  const PacketBytes bytes = packet.Prepare(code, payload);
  return link.InterruptWrite(kCommandEndpoint, bytes.data(), static_cast<int>(bytes.size()),
                             timeout_ms);
}

bool SendShortFrame(UsbLink& link, std::uint8_t code, int timeout_ms, std::uint8_t value) {
  const std::array<std::uint8_t, kShortFrameSize> frame{kPacketStart, code, value, kPacketEnd};
  return link.InterruptWrite(kCommandEndpoint, frame.data(), static_cast<int>(frame.size()),
                             timeout_ms);
}

}  // namespace tarvix
