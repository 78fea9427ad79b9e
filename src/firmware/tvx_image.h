// SPDX-License-Identifier: GPL-3.0-or-later
// Programmer firmware image files (".tvx"): the payload followed by a three-byte
// trailer, the byte sum of the payload, most significant byte first. The whole file,
// trailer included, is what goes to the programmer; its last payload byte names the
// image in the finish frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvix {

inline constexpr std::size_t kTvxTrailerSize = 3;
inline constexpr std::uint64_t kTvxMinimumSize = 4;
// No programmer firmware is larger; a bigger payload is refused before it is read.
inline constexpr std::uint64_t kTvxLargestPayload = 1u << 20;
// The trailer holds 24 bits; a payload whose sum is larger can never be valid.
inline constexpr std::uint32_t kTvxLargestSum = 0xFFFFFF;

// Sum of the bytes, each unsigned, in 32 bits, continuing from `sum`.
[[nodiscard]] std::uint32_t TvxByteSum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0);

// What the upgrade needs of a file that passed the check.
struct TvxInfo {
  std::uint64_t size = 0;
  std::uint8_t last_payload_byte = 0;  // the value of the finish frame
};

// The check of an image held in memory: at least four bytes, and the 32-bit sum of
// all but the last three bytes equals the big-endian number those three bytes hold.
[[nodiscard]] std::optional<TvxInfo> CheckTvx(std::span<const std::uint8_t> image);

// A firmware file opened for reading; closed with the object.
class TvxFile {
 public:
  explicit TvxFile(const std::filesystem::path& path);
  ~TvxFile();
  TvxFile(const TvxFile&) = delete;
  TvxFile& operator=(const TvxFile&) = delete;

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  [[nodiscard]] std::uint64_t Size() const { return size_; }
  // Reads up to out.size() bytes at `offset`; the count read, or -1 on a read error.
  [[nodiscard]] std::int64_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // The same check as CheckTvx, streamed from the file; nothing when the file did not
  // open, cannot be read, is too short or its sum is wrong.
  [[nodiscard]] std::optional<TvxInfo> Check() const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// A valid image of `payload`. Nothing (and the reason in `error`) when the payload is
// empty or its byte sum does not fit the 24-bit trailer.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> MakeTvx(
    std::span<const std::uint8_t> payload, std::string* error = nullptr);

}  // namespace tarvix
