// SPDX-License-Identifier: GPL-3.0-or-later
// Reading Intel HEX and S-record files into a plain binary image, through the srecord
// library. A decoded file is the same kind of image as any binary one: byte n at
// offset n, from address 0 to the end of the highest record, with every gap and the
// range before the first record 0xFF. Operations, the grid and the sums never learn
// that it came from records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "buffer/load_file_format.h"
#include "buffer/stream_copy.h"

namespace tarvix {

// Where the records of a decoded file lie.
struct DecodedImage {
  std::uint64_t size = 0;        // the image's length: the end of the highest record
  std::uint64_t lowest = 0;      // the first address a record fills
  std::uint64_t data_bytes = 0;  // bytes the records hold
  std::uint64_t records = 0;     // data records read
};

// What keeps a decoded image from fitting a chip of `capacity` bytes: records past its
// last address ("" when they all fit).
[[nodiscard]] std::string RecordsPastChip(const DecodedImage& image, std::uint64_t capacity);

// Why a file was refused: the text names the file and, for a bad record, its line
// ("img.hex: line 3: checksum mismatch (FF != 00)"); `line` is 0 when no line applies.
struct LoadFileError {
  std::string text;
  std::uint64_t line = 0;
};

// Decodes the record file `path` (Intel HEX or S-record, `format`) into `out_fd`, an
// empty file open for writing, at offsets equal to the record addresses. Refused, with
// the file name and line: a wrong record checksum, an unknown record type, a record
// that overlaps an earlier one, a record past 4 GiB. Then false, and what `out_fd`
// holds must not be used: nothing was loaded.
[[nodiscard]] bool DecodeLoadFile(const std::filesystem::path& path, FileFormat format, int out_fd,
                                  DecodedImage* image, LoadFileError* error);

// An image file ready to stream: binary files themselves, record files decoded into an
// unnamed temporary file that vanishes with the descriptor. Nothing is written beside
// the user's file.
struct ImageFile {
  UniqueFd fd;  // read from offset 0
  std::uint64_t size = 0;
  FileFormat format = FileFormat::kBinary;
  std::optional<DecodedImage> decoded;  // for record files
};

// Opens `path` as an image in the format LoadFormatOf picks (`forced` overrides it).
// Nothing on a refusal, with `error` saying why (a missing or unreadable file, a
// folder or device, a bad record).
[[nodiscard]] std::optional<ImageFile> OpenImageFile(const std::filesystem::path& path,
                                                     std::optional<FileFormat> forced,
                                                     LoadFileError* error);

}  // namespace tarvix
