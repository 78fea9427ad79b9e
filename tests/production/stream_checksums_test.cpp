// SPDX-License-Identifier: GPL-3.0-or-later
// The streamed sums, in line and on their own thread, against sha256sum and zlib over
// the whole input at once, fed in pieces of odd sizes (the pieces must not change the
// result), twice in a row.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "production/checksum_worker.h"
#include "production/stream_checksums.h"

namespace tarvix {
namespace {

std::string Sha256Sum(const std::filesystem::path& file) {
  FILE* pipe = ::popen(("sha256sum " + file.string()).c_str(), "r");
  char text[65] = {};
  const std::size_t got = pipe != nullptr ? std::fread(text, 1, 64, pipe) : 0;
  if (pipe != nullptr) ::pclose(pipe);
  return std::string(text, got);
}

TEST(StreamChecksumsTest, MatchSha256sumAndZlibWhateverThePieces) {
  std::mt19937 gen(7);
  std::vector<std::uint8_t> bytes(1'000'003);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  const auto file = std::filesystem::temp_directory_path() /
                    ("tarvix-sums-" + std::to_string(::getpid()) + ".bin");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const std::string expected_sha = Sha256Sum(file);
  std::filesystem::remove(file);
  ASSERT_EQ(expected_sha.size(), 64u);
  const auto expected_crc =
      static_cast<std::uint32_t>(::crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));

  StreamChecksums sums;
  ChecksumWorker beside;  // the same sums on a thread of their own
  for (int round = 0; round < 2; ++round) {
    std::size_t at = 0;
    for (std::size_t piece = 1; at < bytes.size(); piece = piece * 3 + 1) {
      const std::size_t n = std::min(piece % 700'001, bytes.size() - at);
      sums.Update(std::span(bytes.data() + at, n));
      beside.Update(std::span(bytes.data() + at, n));
      at += n;
    }
    for (const Checksums& result : {sums.Finish(), beside.Finish()}) {
      EXPECT_EQ(result.Sha256Text(), expected_sha);
      EXPECT_EQ(result.crc32, expected_crc);
      EXPECT_EQ(result.bytes, bytes.size());
    }
  }
  char crc_text[9];
  std::snprintf(crc_text, sizeof crc_text, "%08X", expected_crc);
  EXPECT_EQ(ChecksumsOf(bytes).Crc32Text(), crc_text);
  // Nothing at all: the sums of the empty stream.
  EXPECT_EQ(sums.Finish().Sha256Text(),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace tarvix
