// SPDX-License-Identifier: GPL-3.0-or-later
// The formats an image file may come in: raw binary, Intel HEX and Motorola S-record.
// A known extension decides (.bin and .rom are always raw, whatever they start with);
// for any other name the content decides; an explicit choice overrides both.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix {

enum class FileFormat : std::uint8_t { kBinary, kIntelHex, kSRecord };

// A format to write, with the width of the record addresses: Intel 16 (I8HEX),
// 20 (I16HEX, segments) or 32 (I32HEX); S-record 16 (S19), 24 (S28) or 32 (S37).
// 0 takes the smallest width that holds the image.
struct FileFormatChoice {
  FileFormat format = FileFormat::kBinary;
  int address_bits = 0;
  friend bool operator==(const FileFormatChoice&, const FileFormatChoice&) = default;
};

// The format a file name's extension names, or nothing for an unknown extension.
[[nodiscard]] std::optional<FileFormatChoice> FormatFromName(const std::filesystem::path& path);

// The format of the first bytes of a file: Intel HEX when it starts with a ':' record,
// S-record when with an "S0".."S9" record, else binary. Leading blank lines are skipped.
[[nodiscard]] FileFormat FormatFromContent(std::string_view head);

// What loading `path` reads it as: `forced` when given, else a known extension, else
// the first bytes of the file. A file that cannot be read counts as binary here; its
// load then reports why.
[[nodiscard]] FileFormat LoadFormatOf(const std::filesystem::path& path,
                                      std::optional<FileFormat> forced = std::nullopt);

// What saving to `path` writes: `forced` when given, else the extension's format,
// else binary.
[[nodiscard]] FileFormatChoice SaveFormatOf(const std::filesystem::path& path,
                                            std::optional<FileFormatChoice> forced = std::nullopt);

// A format's name as the command line takes it: "bin", "ihex", "i8hex", "i16hex",
// "i32hex", "srec", "s19", "s28", "s37" (case ignored). Nothing for another name.
[[nodiscard]] std::optional<FileFormatChoice> ParseFormatName(std::string_view name);
// The name of a format choice, one of those above.
[[nodiscard]] std::string FormatName(FileFormatChoice choice);

}  // namespace tarvix
