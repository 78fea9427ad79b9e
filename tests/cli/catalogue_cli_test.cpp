// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "buffer/tools_test_support.h"
#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::RunCli;

const std::string kDb = TARVIX_DATABASE_DAT;

TEST(CliCatalogue, InfoOnA256ByteEepromShowsDetailsAndCapacityLabel) {
  const auto r = RunCli({"--database", kDb, "info", "--chip", "AT24C02"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("类型:24 EEPROM\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("型号:AT24C02\n"), std::string::npos);
  EXPECT_NE(r.out.find("容量:256B\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n2Kbits/256bytes\n"), std::string::npos) << r.out;
}

TEST(CliCatalogue, ChipsAsJsonListsEveryRecordWithItsFields) {
  const auto r = RunCli({"--database", kDb, "--json", "chips"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.front(), '[');
  EXPECT_NE(r.out.find("\"model\":\"AT24C02\""), std::string::npos);
  EXPECT_NE(r.out.find("\"capacity\":\"256B\""), std::string::npos);
  EXPECT_NE(r.out.find("\"capacity_bytes\":256}"), std::string::npos);
  EXPECT_NE(r.out.find("\"operation_type\":"), std::string::npos);
  // One object per record.
  std::size_t objects = 0;
  for (std::size_t p = r.out.find("{\"index\""); p != std::string::npos;
       p = r.out.find("{\"index\"", p + 1))
    ++objects;
  EXPECT_GE(objects, 300u);
}

TEST(CliCatalogue, PackOfUnpackGivesTheSameBytes) {
  const auto dir = std::filesystem::temp_directory_path() / "tarvix cli db ü";
  std::filesystem::create_directories(dir);
  ASSERT_EQ(RunCli({"db", "unpack", kDb, (dir / "plain.txt").string()}).status, 0);
  ASSERT_EQ(
      RunCli({"db", "pack", (dir / "plain.txt").string(), (dir / "again.dat").string()}).status, 0);
  auto slurp = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(slurp(dir / "again.dat"), slurp(kDb));
  EXPECT_EQ(slurp(dir / "plain.txt"), slurp(TARVIX_DATABASE_TXT));
  std::filesystem::remove_all(dir);
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of its own with a copy of the shipped database in it.
struct DbFolder {
  DbFolder() {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    std::filesystem::copy_file(kDb, path / "database.dat");
  }
  ~DbFolder() { std::filesystem::remove_all(path); }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path), {}));
  }
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tarvix cli db " + std::to_string(::getpid()));
};

TEST(CliCatalogue, UnpackNeverWritesOverItsInput) {
  DbFolder dir;
  const std::string original = Slurp(kDb);
  std::filesystem::create_hard_link(dir.path / "database.dat", dir.path / "linked.dat");
  std::filesystem::create_directory(dir.path / "sub");
  for (const std::string out : {"database.dat", "./sub/../database.dat", "linked.dat"}) {
    const auto r = RunCli({"db", "unpack", "database.dat", out}, dir.path);
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_NE(r.err.find("database.dat"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir.path / "database.dat"), original) << out;
  }
  // Packing over the text it reads is refused the same way.
  ASSERT_EQ(RunCli({"db", "unpack", "database.dat", "plain.txt"}, dir.path).status, 0);
  const std::string plain = Slurp(dir.path / "plain.txt");
  EXPECT_EQ(RunCli({"db", "pack", "plain.txt", "plain.txt"}, dir.path).status, 1);
  EXPECT_EQ(Slurp(dir.path / "plain.txt"), plain);
}

TEST(CliCatalogue, UnpackOfSomethingElseFailsAndWritesNothing) {
  DbFolder dir;
  std::ofstream(dir.path / "keep.txt") << "my notes\n";
  std::ofstream(dir.path / "image.bin", std::ios::binary)
      << std::string("\x00\xFF\xE4\x12garbage", 11);
  std::filesystem::copy_file(TARVIX_DATABASE_TXT, dir.path / "text.txt");
  for (const char* input : {"image.bin", "text.txt"}) {
    const auto r = RunCli({"db", "unpack", input, "keep.txt"}, dir.path);
    EXPECT_EQ(r.status, 1) << input;
    EXPECT_NE(r.err.find("not a chip database"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(input), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir.path / "keep.txt"), "my notes\n");
  }
  EXPECT_EQ(dir.Entries(), 4u);
}

// A folder, a file larger than any database or firmware could be, and a text that
// lists no chip are refused with the path and the reason, and nothing is written.
TEST(CliCatalogue, InputsThatCannotBeWhatTheyAreTakenForAreRefused) {
  DbFolder dir;
  const std::string original = Slurp(dir.path / "database.dat");
  std::filesystem::create_directory(dir.path / "folder");
  std::ofstream(dir.path / "huge.bin").close();
  std::filesystem::resize_file(dir.path / "huge.bin", std::uint64_t{5} << 30);
  std::ofstream(dir.path / "empty.txt").close();
  std::ofstream(dir.path / "nochip.txt") << "; the chips come later\n$25 SPI FLASH\n#Winbond:\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"db", "unpack", "folder", "out.txt"}, "folder: it is a folder, not a file"},
      {{"db", "pack", "folder", "database.dat"}, "folder: it is a folder, not a file"},
      {{"db", "unpack", "huge.bin", "out.txt"}, "huge.bin: it is 5368709120 bytes"},
      {{"--database", "huge.bin", "chips"}, "larger than any chip database"},
      {{"tvx", "make", "huge.bin", "out.tvx"}, "huge.bin: it is 5368709120 bytes"},
      {{"db", "pack", "empty.txt", "database.dat"}, "empty.txt: it lists no chip"},
      {{"db", "pack", "nochip.txt", "database.dat"}, "nochip.txt: it lists no chip"},
  };
  for (const auto& [args, said] : runs) {
    const auto r = RunCli(args, dir.path);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  EXPECT_EQ(Slurp(dir.path / "database.dat"), original);
  EXPECT_EQ(dir.Entries(), 5u);
}

TEST(CliCatalogue, PackTakesLineFeedOnlyText) {
  DbFolder dir;
  std::ofstream(dir.path / "lf.txt", std::ios::binary)
      << "$25 SPI FLASH\n#Winbond:\n@W25X05:256:4KB:64KB:N:000:EF3010:00EF05:3.3:060\n";
  ASSERT_EQ(RunCli({"db", "pack", "lf.txt", "lf.dat"}, dir.path).status, 0);
  const auto r = RunCli({"--database", "lf.dat", "--json", "chips"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"type\":\"25 SPI FLASH\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"manufacturer\":\"Winbond\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"operation_type\":\"060\""), std::string::npos) << r.out;
}

TEST(CliCatalogue, AFailedPackLeavesTheOldDatabase) {
  DbFolder dir;
  const std::string original = Slurp(dir.path / "database.dat");
  {
    testing::FileSizeLimit limit(1000);  // far less than the shipped catalogue
    const auto r = RunCli({"db", "pack", TARVIX_DATABASE_TXT, "database.dat"}, dir.path);
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_EQ(Slurp(dir.path / "database.dat"), original);
  EXPECT_EQ(dir.Entries(), 1u);
}

TEST(CliCatalogue, UsageErrorsAndUnknownChips) {
  EXPECT_EQ(RunCli({}).status, 2);
  EXPECT_EQ(RunCli({"frobnicate"}).status, 2);
  EXPECT_EQ(RunCli({"db", "pack", "only-one"}).status, 2);
  const auto r = RunCli({"--database", kDb, "info", "--chip", "NO-SUCH-CHIP"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("NO-SUCH-CHIP"), std::string::npos);
  const auto missing = RunCli({"--database", "/nonexistent/database.dat", "chips"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot find database file"), std::string::npos);
}

}  // namespace
}  // namespace tarvix
