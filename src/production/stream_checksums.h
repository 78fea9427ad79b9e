// SPDX-License-Identifier: GPL-3.0-or-later
// CRC-32 (zlib's) and SHA-256 (OpenSSL's) of a stream of bytes, fed by whoever moves
// the data (a load, a chip read, a verify) in the same pass: a large image is never
// read again just to be summed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tarvix {

struct Checksums {
  std::uint64_t bytes = 0;
  std::uint32_t crc32 = 0;
  std::array<std::uint8_t, 32> sha256{};

  // "%08X", as release sheets print a CRC-32.
  [[nodiscard]] std::string Crc32Text() const;
  // 64 lower-case hexadecimal digits, as sha256sum prints them.
  [[nodiscard]] std::string Sha256Text() const;
  friend bool operator==(const Checksums&, const Checksums&) = default;
};

class StreamChecksums {
 public:
  StreamChecksums();
  ~StreamChecksums();
  StreamChecksums(const StreamChecksums&) = delete;
  StreamChecksums& operator=(const StreamChecksums&) = delete;

  // The next bytes of the stream.
  void Update(std::span<const std::uint8_t> bytes);
  // The sums of everything since the start or the last Finish; the next Update
  // starts a new stream.
  [[nodiscard]] Checksums Finish();
  [[nodiscard]] std::uint64_t Bytes() const { return bytes_; }

 private:
  void Restart();

  struct Sha;
  std::unique_ptr<Sha> sha_;
  std::uint32_t crc_ = 0;
  std::uint64_t bytes_ = 0;
};

// The sums of bytes in memory, in one call.
[[nodiscard]] Checksums ChecksumsOf(std::span<const std::uint8_t> bytes);

}  // namespace tarvix
