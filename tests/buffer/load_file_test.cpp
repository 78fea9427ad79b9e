// SPDX-License-Identifier: GPL-3.0-or-later
// Load files against the srecord tools as an independent judge: files srec_cat writes
// decode to its own binary, files we write decode through srec_cat to our bytes, and
// bad records are refused with the file's name and line, nothing loaded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "buffer/buffer_fixture.h"
#include "buffer/load_file_reader.h"
#include "buffer/load_file_writer.h"

namespace tarvix {
namespace {

using testing_buffer::ReadFile;
using testing_buffer::ReadText;
using testing_buffer::WriteFile;
namespace fs = std::filesystem;

class LoadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarvix-loadfile-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void Run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  static std::vector<std::uint8_t> Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(gen());
    return v;
  }

  static std::vector<std::uint8_t> Contents(const ImageFile& image) {
    std::vector<std::uint8_t> bytes(image.size);
    EXPECT_EQ(ReadAt(image.fd.Get(), bytes, 0), static_cast<std::int64_t>(image.size));
    return bytes;
  }

  // A record file with the given lines; the error of decoding it.
  LoadFileError Refusal(const std::string& name, const std::string& lines) {
    const fs::path file = dir_ / name;
    WriteFile(file, {lines.begin(), lines.end()});
    LoadFileError error;
    EXPECT_FALSE(OpenImageFile(file, std::nullopt, &error).has_value()) << lines;
    EXPECT_NE(error.text.find(file.string() + ": line "), std::string::npos) << error.text;
    return error;
  }

  fs::path dir_;
};

TEST_F(LoadFileTest, FilesSrecCatWritesDecodeToItsBinaryWithGapsBlank) {
  // Two pieces with a gap, the first at 0x100: everything outside them reads 0xFF.
  const auto low = Random(3000, 1);
  const auto high = Random(70000, 2);
  WriteFile(dir_ / "low.bin", low);
  WriteFile(dir_ / "high.bin", high);
  std::vector<std::uint8_t> expected(0x20000 + high.size(), 0xFF);
  std::copy(low.begin(), low.end(), expected.begin() + 0x100);
  std::copy(high.begin(), high.end(), expected.begin() + 0x20000);

  const std::string pieces = "cd " + dir_.string() +
                             " && srec_cat low.bin -binary -offset 0x100 high.bin -binary "
                             "-offset 0x20000 -o ";
  struct Case {
    const char* name;
    const char* format;
    FileFormat expected;
  };
  // Unknown extensions: the content decides.
  for (const Case& c : {Case{"i32.dat", "-intel -address-length=4", FileFormat::kIntelHex},
                        Case{"i16.hex", "-intel -address-length=3", FileFormat::kIntelHex},
                        Case{"s28.txt", "-motorola -address-length=3", FileFormat::kSRecord},
                        Case{"s37.s37", "-motorola -address-length=4", FileFormat::kSRecord}}) {
    Run(pieces + c.name + " " + c.format);
    LoadFileError error;
    const auto image = OpenImageFile(dir_ / c.name, std::nullopt, &error);
    ASSERT_TRUE(image.has_value()) << c.name << ": " << error.text;
    EXPECT_EQ(image->format, c.expected) << c.name;
    EXPECT_EQ(image->decoded->lowest, 0x100u);
    EXPECT_EQ(image->decoded->data_bytes, low.size() + high.size());
    EXPECT_TRUE(Contents(*image) == expected) << c.name;
  }
}

TEST_F(LoadFileTest, FilesWeWriteReadBackThroughSrecCatToTheSameBytes) {
  const auto big = Random(0x23456, 3);   // past 64 KiB: the extended records are needed
  const auto small = Random(0xFFF1, 4);  // fits 16-bit addresses
  for (const char* name : {"i8hex", "i16hex", "i32hex", "ihex", "s19", "s28", "s37", "srec"}) {
    const FileFormatChoice choice = *ParseFormatName(name);
    const auto& bytes = choice.address_bits == 16 ? small : big;
    const fs::path file = dir_ / (std::string(name) + ".out");
    std::string error;
    ASSERT_TRUE(SaveLoadFile(
        [&](std::uint64_t offset, std::span<std::uint8_t> out) {
          std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
          return static_cast<std::int64_t>(out.size());
        },
        bytes.size(), file, choice, &error))
        << error;
    const char* family = choice.format == FileFormat::kIntelHex ? "-intel" : "-motorola";
    Run("srec_cat " + file.string() + " " + family + " -o " + file.string() + ".bin -binary");
    EXPECT_TRUE(ReadFile(file.string() + ".bin") == bytes) << name;
    LoadFileError decode_error;
    const auto image = OpenImageFile(file, choice.format, &decode_error);
    ASSERT_TRUE(image.has_value()) << decode_error.text;
    EXPECT_TRUE(Contents(*image) == bytes) << name;
  }
  // A width too small for the image is refused, and the existing file stays.
  WriteFile(dir_ / "keep.s19", {1, 2, 3});
  std::string error;
  EXPECT_FALSE(SaveLoadFile(
      [](std::uint64_t, std::span<std::uint8_t> out) {
        return static_cast<std::int64_t>(out.size());
      },
      0x10001, dir_ / "keep.s19", {FileFormat::kSRecord, 16}, &error));
  EXPECT_NE(error.find("s19"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(dir_ / "keep.s19"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(LoadFileTest, BadRecordsAreRefusedWithFileAndLine) {
  const std::string eof = ":00000001FF\n";
  const std::string good = ":0400000001020304F2\n";
  EXPECT_EQ(Refusal("sum.hex", good + good.substr(0, 1) + "0400100001020304E3\n" + eof).line, 2u)
      << "wrong checksum";
  EXPECT_EQ(Refusal("type.hex", good + ":0400100601020304DC\n" + eof).line, 2u) << "unknown type";
  EXPECT_EQ(Refusal("type.s19", "S1060000010203F3\nS4060000010203F3\n").line, 2u);
  const LoadFileError overlap =
      Refusal("overlap.hex", good + ":0400100001020304E2\n:0200020001FFFC\n" + eof);
  EXPECT_EQ(overlap.line, 3u);
  EXPECT_NE(overlap.text.find("overlaps"), std::string::npos) << overlap.text;
  // Past 4 GiB: an S37 record whose end passes it, an Intel record the library would
  // wrap round to address 0.
  const LoadFileError s37 =
      Refusal("past.s37", "S315FFFFFFF8000102030405060708090A0B0C0D0E0F7D\nS70500000000FA\n");
  EXPECT_EQ(s37.line, 1u);
  EXPECT_NE(s37.text.find("past 4 GiB"), std::string::npos) << s37.text;
  EXPECT_EQ(
      Refusal("wrap.hex", ":02000004FFFFFC\n:10FFF800000102030405060708090A0B0C0D0E0F81\n" + eof)
          .line,
      2u);
}

TEST_F(LoadFileTest, ExtensionDecidesAndContentOnlyForOtherNames) {
  const std::string record = ":0400000001020304F2\n:00000001FF\n";
  WriteFile(dir_ / "a.bin", {record.begin(), record.end()});
  WriteFile(dir_ / "a.ROM", {record.begin(), record.end()});
  WriteFile(dir_ / "a.img", {record.begin(), record.end()});
  WriteFile(dir_ / "colon.img", {':', 0x00, 0x01, 0xFF});
  EXPECT_EQ(LoadFormatOf(dir_ / "a.bin"), FileFormat::kBinary);
  EXPECT_EQ(LoadFormatOf(dir_ / "a.ROM"), FileFormat::kBinary);
  EXPECT_EQ(LoadFormatOf(dir_ / "a.img"), FileFormat::kIntelHex);
  EXPECT_EQ(LoadFormatOf(dir_ / "colon.img"), FileFormat::kBinary);
  EXPECT_EQ(LoadFormatOf(dir_ / "a.bin", FileFormat::kIntelHex), FileFormat::kIntelHex);
  EXPECT_EQ(SaveFormatOf("x.S28"), (FileFormatChoice{FileFormat::kSRecord, 24}));
  EXPECT_EQ(SaveFormatOf("x.unknown"), FileFormatChoice{});
  EXPECT_FALSE(ParseFormatName("s20").has_value());
  LoadFileError error;
  const auto forced = OpenImageFile(dir_ / "a.bin", FileFormat::kIntelHex, &error);
  ASSERT_TRUE(forced.has_value()) << error.text;
  EXPECT_EQ(Contents(*forced), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(OpenImageFile(dir_, std::nullopt, &error).has_value());
  EXPECT_NE(error.text.find(dir_.string()), std::string::npos) << error.text;
}

}  // namespace
}  // namespace tarvix
