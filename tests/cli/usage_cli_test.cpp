// SPDX-License-Identifier: GPL-3.0-or-later
// What the tool tells about itself: --help, --version, and the hints for the slips a
// new user makes with --simulate and --chip.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::RunCli;

const std::string kDb = TARVIX_DATABASE_DAT;

TEST(CliUsage, HelpSaysWhatANewUserTripsOver) {
  const auto r = RunCli({"--help"});
  ASSERT_EQ(r.status, 0);
  const std::string& h = r.out;
  // write does not erase; auto does.
  EXPECT_NE(h.find("write FILE             program FILE into the chip WITHOUT erasing it"),
            std::string::npos)
      << h;
  EXPECT_NE(h.find("auto, which erases,\n                         writes and verifies"),
            std::string::npos)
      << h;
  // detect's result codes.
  for (const char* code : {"result 1: found in the catalogue", "0: an EEPROM family", "-1: no chip",
                           "-2: no programmer"})
    EXPECT_NE(h.find(code), std::string::npos) << code << "\n" << h;
  // --chip is the exact model name; fill DATA is one byte, a word on 16-bit chips.
  EXPECT_NE(h.find("--chip MODEL           the chip in the socket, by its exact model name"),
            std::string::npos)
      << h;
  EXPECT_NE(h.find("DATA\n                         is one byte (two hex digits), or one word"),
            std::string::npos)
      << h;
  EXPECT_NE(h.find("--version"), std::string::npos);
}

// Whatever goes wrong, the tool says so in words and ends with 1, never with an abort:
// here the folder it runs in is gone before it starts.
TEST(CliUsage, AFailureNobodyForesawIsAMessageNotAnAbort) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tarvix gone " + std::to_string(::getpid()));
  const auto err = dir.string() + ".err";
  std::filesystem::create_directories(dir);
  const std::string command = "cd '" + dir.string() + "' && rmdir '" + dir.string() + "' && '" +
                              TARVIX_CLI + "' --database '" + kDb + "' chips >/dev/null 2>'" + err +
                              "'";
  const int raw = std::system(command.c_str());
  std::ifstream in(err);
  const std::string said((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(err);
  ASSERT_TRUE(WIFEXITED(raw)) << said;
  EXPECT_EQ(WEXITSTATUS(raw), 1) << said;
  EXPECT_EQ(said.rfind("tarvix-cli: ", 0), 0u) << said;
}

TEST(CliUsage, VersionPrintsTheProgramsVersion) {
  const auto r = RunCli({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tarvix-cli 4.0\n");
}

// "--simulate W25Q32BV read" takes the model for the command: say how to write it.
TEST(CliUsage, ASimulatedModelAfterABlankGetsAHint) {
  const auto r = RunCli({"--database", kDb, "--simulate", "W25Q32BV", "detect"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown command W25Q32BV (to put a chip in the simulated socket, write "
                       "--simulate=W25Q32BV)"),
            std::string::npos)
      << r.err;
  // A command right after the bare option is still the command.
  EXPECT_EQ(RunCli({"--database", kDb, "--simulate", "chips"}).status, 0);
}

TEST(CliUsage, AModelThatMatchesNoRecordGetsTheNearestNames) {
  auto r = RunCli({"--database", kDb, "--chip", "w25q128jv-im", "info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--chip takes the exact model name as \"tarvix-cli chips\" lists it; "
                       "nearest: W25Q128JV-IM"),
            std::string::npos)
      << r.err;
  r = RunCli({"--database", kDb, "--chip", "AT24C0", "info"});
  EXPECT_EQ(r.status, 1);
  const std::size_t nearest = r.err.find("nearest: ");
  ASSERT_NE(nearest, std::string::npos) << r.err;
  const std::string names = r.err.substr(nearest);
  EXPECT_NE(names.find("AT24C01"), std::string::npos) << names;
  EXPECT_NE(names.find("AT24C02"), std::string::npos) << names;
  EXPECT_EQ(names.find("W25"), std::string::npos) << names;
  // Nothing near: no list at all.
  r = RunCli({"--database", kDb, "--chip", "QQQQQQQQQQQQQQQQ", "info"});
  EXPECT_EQ(r.err.find("nearest"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvix
