// SPDX-License-Identifier: GPL-3.0-or-later
// FileSource: a user's image file as the source of write, verify and auto, streamed
// straight from where it lies. It is opened read-only, never changed, and its length
// and byte sums are taken once, in one pass, when it is opened: a file that grows
// afterwards is streamed only up to that length, one that shrinks fails the read.
// An Intel HEX or S-record file is decoded first into an unnamed temporary file
// (OpenImageFile), which is then streamed as a binary image is: nothing is written
// beside the user's file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "buffer/byte_source.h"
#include "buffer/load_file_format.h"
#include "buffer/load_file_reader.h"
#include "buffer/stream_copy.h"

namespace tarvix {

class FileSource final : public ByteSource {
 public:
  // Sees every byte of the image once, in order, during the opening pass (checksums).
  using Observer = std::function<void(std::span<const std::uint8_t>)>;

  // Opens `path` for a chip of `capacity` bytes, in the format LoadFormatOf picks
  // (`forced` overrides it). A folder, a device, a pipe or a socket is refused without
  // being waited on. Null, with the reason in `why`, on failure; a bad record's reason
  // names its line ("line 3: checksum mismatch").
  [[nodiscard]] static std::unique_ptr<FileSource> Open(const std::filesystem::path& path,
                                                        std::uint32_t capacity, std::string* why,
                                                        std::optional<FileFormat> forced = {},
                                                        const Observer& observe = {});

  [[nodiscard]] std::uint64_t Size() const override { return size_; }
  [[nodiscard]] std::int64_t ReadAt(std::uint64_t offset,
                                    std::span<std::uint8_t> out) const override;

  // The sums the window shows for the same file: every byte, and the chip's bytes
  // (the file's first `capacity` bytes, 0xFF past its end).
  [[nodiscard]] std::uint64_t FileSum() const { return file_sum_; }
  [[nodiscard]] std::uint64_t ChipSum() const { return chip_sum_; }

  [[nodiscard]] FileFormat Format() const { return format_; }
  // Where the records of a decoded file lie; nothing for a binary file.
  [[nodiscard]] const std::optional<DecodedImage>& Decoded() const { return decoded_; }
  // What keeps a decoded image from fitting a chip of `capacity` bytes: records past
  // its last address ("" when they all fit, and always for a binary file, whose
  // overflow the operations handle as they always have).
  [[nodiscard]] std::string RangeProblem(std::uint64_t capacity) const;

 private:
  FileSource() = default;
  [[nodiscard]] bool TakeSums(std::uint32_t capacity, const Observer& observe, std::string* why);

  UniqueFd fd_;
  std::uint64_t size_ = 0;
  std::uint64_t file_sum_ = 0;
  std::uint64_t chip_sum_ = 0;
  FileFormat format_ = FileFormat::kBinary;
  std::optional<DecodedImage> decoded_;
};

}  // namespace tarvix
