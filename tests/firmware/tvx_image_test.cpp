// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware image files: the byte-sum trailer, what makes a file valid, and the
// maker that builds one from a payload.
#include "firmware/tvx_image.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace tarvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TempDir {
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvix-tvx-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path Write(const std::string& name, const Bytes& bytes) const {
    const auto p = path / name;
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  std::filesystem::path path;
};

Bytes Payload(std::size_t size, std::uint8_t modulus = 0x7F) {
  Bytes p(size);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>((i * 13 + 5) % modulus);
  return p;
}

TEST(TvxImage, MadeImageCarriesTheBigEndianSumAndPassesTheCheck) {
  const Bytes payload{0x10, 0x20, 0xFF, 0x01};
  const auto image = MakeTvx(payload);
  ASSERT_TRUE(image);
  EXPECT_EQ(*image, (Bytes{0x10, 0x20, 0xFF, 0x01, 0x00, 0x01, 0x30}));
  const auto info = CheckTvx(*image);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, 7u);
  EXPECT_EQ(info->last_payload_byte, 0x01);
}

TEST(TvxImage, CheckRefusesShortFilesAndAnyChangedByte) {
  EXPECT_FALSE(CheckTvx(Bytes{}));
  EXPECT_FALSE(CheckTvx(Bytes{0, 0, 0}));  // sum 0 matches, but there is no payload
  EXPECT_TRUE(CheckTvx(Bytes{0, 0, 0, 0}));
  const Bytes good = *MakeTvx(Payload(3000));
  for (const std::size_t at :
       {std::size_t{0}, std::size_t{1500}, good.size() - 4, good.size() - 3, good.size() - 1}) {
    Bytes bad = good;
    bad[at] ^= 0x01;
    EXPECT_FALSE(CheckTvx(bad)) << at;
  }
}

TEST(TvxImage, SumIsComparedInFullNotCutToTheTrailerWidth) {
  // 65794 bytes of 0xFF sum to just past 24 bits; a 24-bit compare would wrap and pass.
  Bytes payload(0x10102, 0xFF);
  std::uint32_t sum = 0;
  for (const auto b : payload) sum += b;
  ASSERT_GT(sum, kTvxLargestSum);
  Bytes image = payload;
  image.push_back(static_cast<std::uint8_t>(sum >> 16));
  image.push_back(static_cast<std::uint8_t>(sum >> 8));
  image.push_back(static_cast<std::uint8_t>(sum));
  EXPECT_FALSE(CheckTvx(image));
  std::string error;
  EXPECT_FALSE(MakeTvx(payload, &error));
  EXPECT_NE(error.find("24-bit"), std::string::npos);
  EXPECT_FALSE(MakeTvx(Bytes{}, &error));
  EXPECT_EQ(error, "the payload is empty");
}

TEST(TvxImage, FileCheckStreamsAndAgreesWithTheInMemoryCheck) {
  TempDir dir;
  // Longer than the check's read chunk, so the sum crosses chunk boundaries.
  const Bytes image = *MakeTvx(Payload(200'000, 0x3F));
  const TvxFile file(dir.Write("big.tvx", image));
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Size(), image.size());
  const auto info = file.Check();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, image.size());
  EXPECT_EQ(info->last_payload_byte, image[image.size() - 4]);

  Bytes piece(64);
  EXPECT_EQ(file.ReadAt(image.size() - 10, piece), 10);
  EXPECT_EQ(piece[9], image.back());

  Bytes bad = image;
  bad[123'456] ^= 0x80;
  EXPECT_FALSE(TvxFile(dir.Write("bad.tvx", bad)).Check());
  EXPECT_FALSE(TvxFile(dir.Write("short.tvx", Bytes{0, 0, 0})).Check());
  EXPECT_FALSE(TvxFile(dir.path / "missing.tvx").Check());
  const TvxFile folder(dir.path);
  EXPECT_FALSE(folder.IsOpen());
  EXPECT_FALSE(folder.Check());
}

}  // namespace
}  // namespace tarvix
