// SPDX-License-Identifier: GPL-3.0-or-later
// Writing an image as a load file: raw binary, Intel HEX or S-record, from address 0,
// streamed, so a whole chip can be written as it is read.
//
// The records are formatted here rather than by the srecord library: its writers
// report every failure (a full disk, a file that cannot be created) through one
// process-wide handler that ends the program, which the library gives no way to
// replace. What we write is checked against the library's own `srec_cat` in the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "buffer/load_file_format.h"

namespace tarvix {

// Bytes per data record: lines stay under 80 columns.
inline constexpr std::size_t kRecordDataBytes = 32;

// Why `total` bytes cannot be written in `choice` (a record width too narrow for
// them); "" when they can.
[[nodiscard]] std::string FormatWidthProblem(FileFormatChoice choice, std::uint64_t total);

class LoadFileEncoder {
 public:
  // Writes to `fd` (open for writing, at its start). `total` is the image's length;
  // with no width chosen it picks the smallest that holds it.
  LoadFileEncoder(int fd, FileFormatChoice choice, std::uint64_t total);

  // False when the chosen width cannot hold `total` bytes (Error() says so).
  [[nodiscard]] bool Valid() const { return error_.empty(); }
  // The next bytes of the image. False on a write failure or past the width's reach.
  [[nodiscard]] bool Append(std::span<const std::uint8_t> bytes);
  // The end record and everything still buffered. False on a write failure.
  [[nodiscard]] bool Finish();
  [[nodiscard]] const std::string& Error() const { return error_; }
  // The width in use (16, 20, 24 or 32; 0 for binary).
  [[nodiscard]] int AddressBits() const { return bits_; }

 private:
  void Record(const std::uint8_t* data, std::size_t length);
  void IntelLine(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                 std::size_t length);
  void SRecordLine(char type, std::uint32_t address, int address_bytes, const std::uint8_t* data,
                   std::size_t length);
  [[nodiscard]] bool Flush();
  [[nodiscard]] bool Fail(const std::string& why);

  int fd_;
  FileFormat format_;
  int bits_ = 0;
  std::uint64_t address_ = 0;
  std::uint64_t upper_ = ~std::uint64_t{0};  // the extended address last announced
  std::vector<char> out_;
  std::vector<std::uint8_t> line_;  // the bytes of the record in hand
  std::string error_;
};

// Reads `out.size()` bytes of the image at `offset`; the count read, -1 on failure.
using ImageReader = std::function<std::int64_t(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Writes `size` bytes from `read` to `path` in `choice`. The file takes its place
// only when complete: on any failure an existing file of that name stays as it was.
// False with `error` naming the file and the reason.
[[nodiscard]] bool SaveLoadFile(const ImageReader& read, std::uint64_t size,
                                const std::filesystem::path& path, FileFormatChoice choice,
                                std::string* error);

}  // namespace tarvix
