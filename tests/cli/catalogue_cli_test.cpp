#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
