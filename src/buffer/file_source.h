// FileSource: a user's image file as the source of write, verify and auto, streamed
// straight from where it lies. It is opened read-only, never changed, and its length
// and byte sums are taken once, in one pass, when it is opened: a file that grows
// afterwards is streamed only up to that length, one that shrinks fails the read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "buffer/byte_source.h"
#include "buffer/stream_copy.h"

namespace tarvix {

class FileSource final : public ByteSource {
 public:
  // Opens `path` for a chip of `capacity` bytes. A folder, a device, a pipe or a socket
  // is refused without being waited on. Null, with the reason in `why`, on failure.
  [[nodiscard]] static std::unique_ptr<FileSource> Open(const std::filesystem::path& path,
                                                        std::uint32_t capacity, std::string* why);

  [[nodiscard]] std::uint64_t Size() const override { return size_; }
  [[nodiscard]] std::int64_t ReadAt(std::uint64_t offset,
                                    std::span<std::uint8_t> out) const override;

  // The sums the window shows for the same file: every byte, and the chip's bytes
  // (the file's first `capacity` bytes, 0xFF past its end).
  [[nodiscard]] std::uint64_t FileSum() const { return file_sum_; }
  [[nodiscard]] std::uint64_t ChipSum() const { return chip_sum_; }

 private:
  FileSource() = default;

  UniqueFd fd_;
  std::uint64_t size_ = 0;
  std::uint64_t file_sum_ = 0;
  std::uint64_t chip_sum_ = 0;
};

}  // namespace tarvix
