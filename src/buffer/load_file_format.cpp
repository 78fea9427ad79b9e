// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/load_file_format.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "buffer/stream_copy.h"

namespace tarvix {
namespace {

struct NamedFormat {
  std::string_view name;
  FileFormatChoice choice;
};

constexpr std::array<NamedFormat, 9> kNames{{
    {"bin", {FileFormat::kBinary, 0}},
    {"ihex", {FileFormat::kIntelHex, 0}},
    {"i8hex", {FileFormat::kIntelHex, 16}},
    {"i16hex", {FileFormat::kIntelHex, 20}},
    {"i32hex", {FileFormat::kIntelHex, 32}},
    {"srec", {FileFormat::kSRecord, 0}},
    {"s19", {FileFormat::kSRecord, 16}},
    {"s28", {FileFormat::kSRecord, 24}},
    {"s37", {FileFormat::kSRecord, 32}},
}};

constexpr std::array<NamedFormat, 12> kExtensions{{
    {".bin", {FileFormat::kBinary, 0}},
    {".rom", {FileFormat::kBinary, 0}},
    {".hex", {FileFormat::kIntelHex, 0}},
    {".ihex", {FileFormat::kIntelHex, 0}},
    {".ihx", {FileFormat::kIntelHex, 0}},
    {".srec", {FileFormat::kSRecord, 0}},
    {".mot", {FileFormat::kSRecord, 0}},
    {".s", {FileFormat::kSRecord, 0}},
    {".sx", {FileFormat::kSRecord, 0}},
    {".s19", {FileFormat::kSRecord, 16}},
    {".s28", {FileFormat::kSRecord, 24}},
    {".s37", {FileFormat::kSRecord, 32}},
}};

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A record line: the rest up to the line end is hexadecimal digits, at least `min`.
bool HexLine(std::string_view text, std::size_t min) {
  std::size_t digits = 0;
  for (const char c : text) {
    if (c == '\r' || c == '\n') break;
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
    ++digits;
  }
  return digits >= min;
}

}  // namespace

std::optional<FileFormatChoice> FormatFromName(const std::filesystem::path& path) {
  const std::string extension = Lower(path.extension().string());
  for (const NamedFormat& known : kExtensions)
    if (extension == known.name) return known.choice;
  return std::nullopt;
}

FileFormat FormatFromContent(std::string_view head) {
  const std::size_t start = head.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return FileFormat::kBinary;
  head.remove_prefix(start);
  // A whole first record is needed: a binary that merely starts with ':' stays binary.
  if (head[0] == ':' && HexLine(head.substr(1), 10)) return FileFormat::kIntelHex;
  if (head.size() >= 2 && head[0] == 'S' && head[1] >= '0' && head[1] <= '9' &&
      HexLine(head.substr(2), 8))
    return FileFormat::kSRecord;
  return FileFormat::kBinary;
}

FileFormat LoadFormatOf(const std::filesystem::path& path, std::optional<FileFormat> forced) {
  if (forced) return *forced;
  if (const auto named = FormatFromName(path)) return named->format;
  const UniqueFd fd = OpenRegularForReading(path);
  if (!fd.Valid()) return FileFormat::kBinary;
  std::array<std::uint8_t, 600> head{};
  const std::int64_t got = ReadAt(fd.Get(), head, 0);
  if (got <= 0) return FileFormat::kBinary;
  return FormatFromContent(
      std::string_view(reinterpret_cast<const char*>(head.data()), static_cast<std::size_t>(got)));
}

FileFormatChoice SaveFormatOf(const std::filesystem::path& path,
                              std::optional<FileFormatChoice> forced) {
  if (forced) return *forced;
  return FormatFromName(path).value_or(FileFormatChoice{});
}

std::optional<FileFormatChoice> ParseFormatName(std::string_view name) {
  const std::string lower = Lower(name);
  for (const NamedFormat& known : kNames)
    if (lower == known.name) return known.choice;
  return std::nullopt;
}

std::string FormatName(FileFormatChoice choice) {
  for (const NamedFormat& known : kNames)
    if (known.choice == choice) return std::string(known.name);
  return "bin";
}

}  // namespace tarvix
