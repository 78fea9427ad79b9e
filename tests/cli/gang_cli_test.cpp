// SPDX-License-Identifier: GPL-3.0-or-later
// gang auto through the real tarvix-cli on three simulated programmers: an Intel HEX
// image stamped and logged across the gang (one line per chip naming its programmer,
// no serial number twice, each log entry under the programmer that programmed it),
// and Ctrl-C ending every programmer's run within the bound.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "cli/cli_spawn.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using testing::CliResult;
using testing::RunCli;
using testing::SpawnedCli;
namespace fs = std::filesystem;

constexpr std::size_t kChipSize = 128 * 1024;  // the W25X10
constexpr std::size_t kSerialAddress = 0x1F000;

class GangCli : public ::testing::Test {
 protected:
  GangCli() {
    fs::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    image_ = std::string(70000, '\0');
    for (std::size_t i = 0; i < image_.size(); ++i)
      image_[i] = static_cast<char>(testing::PatternByte(i));
    std::ofstream(dir_.path / "img.bin", std::ios::binary) << image_;
    const std::string to_hex =
        "cd '" + dir_.path.string() + "' && srec_cat img.bin -binary -o img.hex -intel >/dev/null";
    EXPECT_EQ(std::system(to_hex.c_str()), 0);
  }

  testing::ScratchFolder dir_;
  std::string image_;
};

TEST_F(GangCli, AStampedLoggedGangRunNamesTheProgrammerOfEveryChip) {
  const CliResult r = RunCli({"--simulate=W25X10",
                              "--chip",
                              "W25X10",
                              "--sim-programmers",
                              "3",
                              "--sim-image",
                              "chips",
                              "--yes",
                              "--json",
                              "--log",
                              "prod.db",
                              "--lot",
                              "G-7",
                              "gang",
                              "auto",
                              "img.hex",
                              "--count",
                              "4",
                              "--serial-address",
                              "1F000"},
                             dir_.path);
  ASSERT_EQ(r.status, 0) << r.err << r.out;

  // One line per chip, then the summary object.
  const std::regex chip_line(
      R"re(\{"programmer":"(\d{6})","chip":(\d+),"ok":true,"status":"[^"]*","serial":(\d+)\}\n)re");
  std::map<std::string, std::string> programmer_of;  // serial number -> programmer
  std::map<std::string, int> chips;
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), chip_line), end; it != end; ++it) {
    const std::smatch& m = *it;
    EXPECT_TRUE(programmer_of.emplace(m[3], m[1]).second) << "serial " << m[3] << " given twice";
    ++chips[m[1]];
  }
  EXPECT_EQ(chips, (std::map<std::string, int>{{"123456", 4}, {"123457", 4}, {"123458", 4}}))
      << r.out;
  const std::string last = r.out.substr(r.out.rfind("\n{", r.out.size() - 2) + 1);
  EXPECT_EQ(last.rfind("{\"ok\":true,\"status\":\"gang: 12 passed, 0 failed on 3 programmers\"", 0),
            0u)
      << last;
  EXPECT_NE(last.find("\"format\":\"ihex\""), std::string::npos) << last;

  // The first chip of each programmer lives in its file: the image, its own serial
  // number at the address, blank elsewhere.
  for (const auto& [programmer, count] : chips) {
    const fs::path file = dir_.path / "chips" / ("programmer-" + programmer + ".bin");
    const std::string chip = SpawnedCli::Slurp(file);
    ASSERT_EQ(chip.size(), kChipSize) << file;
    std::uint32_t value = 0;  // stamped most significant byte first
    for (std::size_t i = 0; i < 4; ++i)
      value = value << 8 | static_cast<std::uint8_t>(chip[kSerialAddress + i]);
    EXPECT_EQ(programmer_of[std::to_string(value)], programmer) << file;
    std::string expected = image_ + std::string(kSerialAddress - image_.size(), '\xFF');
    EXPECT_TRUE(chip.compare(0, expected.size(), expected) == 0) << file;
    EXPECT_EQ(chip.find_first_not_of('\xFF', kSerialAddress + 4), std::string::npos) << file;
  }

  // The log holds all twelve, each under the programmer that stamped it.
  const CliResult log =
      RunCli({"--log", "prod.db", "--lot", "G-7", "--json", "log", "show"}, dir_.path);
  ASSERT_EQ(log.status, 0) << log.err;
  const std::regex entry(R"re("programmer":"(\d{6})",.*?"serial":(\d+)\})re");
  int entries = 0;
  for (std::sregex_iterator it(log.out.begin(), log.out.end(), entry), end; it != end; ++it) {
    ++entries;
    EXPECT_EQ(programmer_of[(*it)[2]], (*it)[1]) << "serial " << (*it)[2];
  }
  EXPECT_EQ(entries, 12) << log.out;
}

// Ctrl-C while every programmer runs (real timing, no --count): all of them stop at
// their next block, and the tool ends well within five seconds.
TEST_F(GangCli, CtrlCEndsEveryProgrammersRun) {
  SpawnedCli cli(dir_.path, {"--simulate=W25X10", "--chip", "W25X10", "--sim-programmers", "4",
                             "--sim-timing", "realistic", "--yes", "gang", "auto", "img.bin"});
  ASSERT_TRUE(cli.WaitFor(dir_.path / "spawned.out", " chip 1: pass", 4)) << cli.Err();
  const auto pressed = std::chrono::steady_clock::now();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5));
  const std::string out = cli.Out();
  for (const char* programmer : {"123456", "123457", "123458", "123459"})
    EXPECT_NE(out.find(std::string(programmer) + ": passed "), std::string::npos) << out;
}

}  // namespace
}  // namespace tarvix
