// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/stream_checksums.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <new>

namespace tarvix {
namespace {

// Both sums run over one piece while it is still in the first-level cache.
constexpr std::size_t kPiece = 16 * 1024;

std::string HexDigits(std::span<const std::uint8_t> bytes, const char* digits) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
  }
  return text;
}

}  // namespace

struct StreamChecksums::Sha {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~Sha() { EVP_MD_CTX_free(context); }
};

std::string Checksums::Crc32Text() const {
  const std::array<std::uint8_t, 4> be{
      static_cast<std::uint8_t>(crc32 >> 24), static_cast<std::uint8_t>(crc32 >> 16),
      static_cast<std::uint8_t>(crc32 >> 8), static_cast<std::uint8_t>(crc32)};
  return HexDigits(be, "0123456789ABCDEF");
}

std::string Checksums::Sha256Text() const {
  return HexDigits(sha256, "0123456789abcdef");
}

StreamChecksums::StreamChecksums() : sha_(std::make_unique<Sha>()) {
  if (sha_->context == nullptr) throw std::bad_alloc();
  Restart();
}

StreamChecksums::~StreamChecksums() = default;

void StreamChecksums::Restart() {
  crc_ = static_cast<std::uint32_t>(::crc32_z(0, nullptr, 0));
  bytes_ = 0;
  // SHA-256 setup fails only without memory, which the constructor has already checked.
  (void)EVP_DigestInit_ex(sha_->context, EVP_sha256(), nullptr);
}

void StreamChecksums::Update(std::span<const std::uint8_t> bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, bytes.size() - at);
    crc_ = static_cast<std::uint32_t>(::crc32_z(crc_, bytes.data() + at, n));
    (void)EVP_DigestUpdate(sha_->context, bytes.data() + at, n);
  }
  bytes_ += bytes.size();
}

Checksums StreamChecksums::Finish() {
  Checksums sums;
  sums.bytes = bytes_;
  sums.crc32 = crc_;
  unsigned int length = 0;
  (void)EVP_DigestFinal_ex(sha_->context, sums.sha256.data(), &length);
  Restart();
  return sums;
}

Checksums ChecksumsOf(std::span<const std::uint8_t> bytes) {
  StreamChecksums sums;
  sums.Update(bytes);
  return sums.Finish();
}

}  // namespace tarvix
