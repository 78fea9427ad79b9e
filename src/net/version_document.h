// SPDX-License-Identifier: GPL-3.0-or-later
// The version-information document of the update check and the five lines of the
// "Version" dialog. Only the document's first two bytes mean anything: the newest
// software version and the newest firmware version, high nibble major, low nibble
// minor. A programmer byte p and a document byte d name the same firmware when
// p + 0x10 == d (the programmer counts its major from zero).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// This program's own version, V4.0.
inline constexpr std::uint8_t kOwnSoftwareVersion = 0x40;
// Bytes the fetch reads from the start of the document.
inline constexpr std::size_t kVersionDocumentBytes = 2;

struct VersionDocument {
  std::uint8_t newest_software = 0;
  std::uint8_t newest_firmware = 0;  // in the document's encoding
};

// Bytes the document does not supply read as 0.
[[nodiscard]] VersionDocument ParseVersionDocument(std::string_view bytes);

inline constexpr char kFirmwareAccessFailedLine[] = "current firmware version access failed";

struct VersionLines {
  std::string new_software;      // "new software version: V%X.%X  \r\n"
  std::string new_firmware;      // "new firmware version: V%X.%X     \r\n"
  std::string current_software;  // "current software version: V%X.%X     \r\n"
  std::string current_firmware;  // "current firmware version: V%X.%X   " or the failure line
  std::string verdict;

  // Top to bottom, as the dialog shows them.
  [[nodiscard]] std::vector<std::string> InOrder() const;
};

// `programmer_byte`: the reply to code 18, nothing when the programmer could not be
// asked or gave no readable version.
[[nodiscard]] VersionLines MakeVersionLines(const VersionDocument& document,
                                            std::optional<std::uint8_t> programmer_byte);

// A line as a plain text line: its trailing "\r\n" removed, blanks kept.
[[nodiscard]] std::string WithoutLineEnd(std::string_view line);

}  // namespace tarvix
