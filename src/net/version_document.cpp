// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/version_document.h"

#include <cstdio>

#include "firmware/firmware_version.h"

namespace tarvix {

namespace {
std::string Nibbles(const char* format, unsigned major, unsigned minor) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, major, minor);
  return buffer;
}
}  // namespace

VersionDocument ParseVersionDocument(std::string_view bytes) {
  VersionDocument d;
  if (bytes.size() > 0) d.newest_software = static_cast<std::uint8_t>(bytes[0]);
  if (bytes.size() > 1) d.newest_firmware = static_cast<std::uint8_t>(bytes[1]);
  return d;
}

std::vector<std::string> VersionLines::InOrder() const {
  return {new_software, new_firmware, current_software, current_firmware, verdict};
}

VersionLines MakeVersionLines(const VersionDocument& document,
                              std::optional<std::uint8_t> programmer_byte) {
  const unsigned s = document.newest_software, f = document.newest_firmware;
  VersionLines lines;
  lines.new_software = Nibbles("new software version: V%X.%X  \r\n", s >> 4, s & 0x0F);
  lines.new_firmware = Nibbles("new firmware version: V%X.%X     \r\n", f >> 4, f & 0x0F);
  lines.current_software = Nibbles("current software version: V%X.%X     \r\n",
                                   kOwnSoftwareVersion >> 4, kOwnSoftwareVersion & 0x0F);
  lines.verdict =
      s <= kOwnSoftwareVersion ? "current software is latest" : "new software is available";
  if (programmer_byte && *programmer_byte != kNoFirmwareVersion) {
    const unsigned p = *programmer_byte;
    lines.current_firmware = "current firmware version: " + FirmwareVersionText(p) + "   ";
    lines.verdict += p + 0x10 < f ? ",new firmware available" : ",current firmware is latest";
  } else {
    lines.current_firmware = kFirmwareAccessFailedLine;
  }
  return lines;
}

std::string WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return std::string(line);
}

}  // namespace tarvix
