// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/firmware_version.h"

#include <array>
#include <cstdio>

#include "device/command_protocol.h"
#include "device/host_model.h"

namespace tarvix {

namespace {
constexpr int kVersionTimeoutMs = 100;
}  // namespace

std::string FirmwareVersionText(std::uint8_t version) {
  // Bytes from 0x80 show a two-digit major (0xF0 -> "V10.0"), the same arithmetic.
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "V%X.%X", (version >> 4) + 1u, version & 0x0Fu);
  return buffer;
}

std::optional<std::uint8_t> ReadFirmwareVersionReply(UsbLink& link, CommandPacket& packet) {
  if (!SendCommand(link, packet, command_code::kFirmwareVersion, kVersionTimeoutMs))
    return std::nullopt;
  std::uint8_t version = 0;
  if (link.BulkRead(&version, 1, kVersionTimeoutMs) < 1) return std::nullopt;
  return version;
}

FirmwareVersionResult ShowFirmwareVersion(UsbLink& link, CommandPacket& packet, Host& host,
                                          const MainState& state) {
  FirmwareVersionResult result;
  if (state.dfu_mode.load()) {
    host.ShowStatus("device is in dfu mode", true, true);
    return result;
  }
  if (!link.ConnectDevice(true, "device is unconnected!       ")) return result;

  std::string version_text;
  if (const std::optional<std::uint8_t> version = ReadFirmwareVersionReply(link, packet)) {
    if (*version == kNoFirmwareVersion) {
      host.MessageBox("firmware version access failed  ", "info", BoxIcon::kNone, BoxButtons::kOk);
      return result;
    }
    result.version_byte = *version;
    version_text =
        "\r\nfirmware version:VRNT_Tarvix FirmWare " + FirmwareVersionText(*version) + "     ";
  }

  std::string serial_text;
  if (SendCommand(link, packet, command_code::kProgrammerIdentity, kVersionTimeoutMs)) {
    std::array<std::uint8_t, kIdentityReplySize> reply{};
    if (link.BulkRead(reply.data(), kIdentityReplySize, kVersionTimeoutMs) < kIdentityReplySize) {
      host.MessageBox("firmware version access failed!  ", "info", BoxIcon::kNone, BoxButtons::kOk);
      return result;
    }
    result.serial = SerialOf(reply);
    serial_text = SerialText(*result.serial);
  }

  result.box_text = "\r\nfirmware SN:" + serial_text + version_text;
  host.MessageBox(result.box_text, "version information", BoxIcon::kInformation, BoxButtons::kOk);
  result.ok = true;
  return result;
}

}  // namespace tarvix
