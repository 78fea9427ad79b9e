// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary never guesses the chip: what recognition cannot pin down to one
// catalogue record, and a --chip that is not the chip in the socket, are refused
// before anything touches the chip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using testing::CliResult;
using testing::RunCli;
namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class IdentityCli : public ::testing::Test {
 protected:
  IdentityCli() {
    fs::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    std::ofstream(dir_.path / "img.bin", std::ios::binary) << std::string(300, 'A');
  }
  // Each model keeps its own image, so a chip never inherits a larger one's file.
  CliResult Run(const std::string& model, std::vector<std::string> args) {
    image_ = dir_.path / (model + ".img");
    std::vector<std::string> all = {"--simulate=" + model, "--sim-image", image_.string(), "--yes"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all, dir_.path);
  }
  // The last run's chip contents.
  std::string Chip() { return Slurp(image_); }

  testing::ScratchFolder dir_;
  fs::path image_;
};

// A 24-series EEPROM answers only its family: without --chip nothing is done to it,
// and no command falls back to the first record of the catalogue.
TEST_F(IdentityCli, AnEepromWithoutChipIsRefusedByEveryCommandThatUsesIt) {
  const std::vector<std::vector<std::string>> commands = {{"read", "out.bin"},
                                                          {"write", "img.bin"},
                                                          {"verify", "img.bin"},
                                                          {"erase"},
                                                          {"blank"},
                                                          {"fill", "0", "4", "00"},
                                                          {"auto", "img.bin"},
                                                          {"auto", "img.bin", "--bulk", "1"}};
  for (const auto& command : commands) {
    const CliResult r = Run("AT24C512", command);
    EXPECT_EQ(r.status, 1) << command[0] << "\n" << r.err;
    EXPECT_NE(r.err.find("tarvix-cli: the programmer found a 24-series EEPROM, whose model it "
                         "cannot tell by ID; name the chip in the socket with --chip MODEL"),
              std::string::npos)
        << command[0] << "\n"
        << r.err;
    EXPECT_EQ(r.err.find("succeed"), std::string::npos) << command[0] << "\n" << r.err;
    EXPECT_EQ(r.err.find("pass"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir_.path / "out.bin"));
  EXPECT_TRUE(Chip() == std::string(64 * 1024, '\xFF')) << "the chip was changed";

  // Named, the same chip is read whole.
  const CliResult named = Run("AT24C512", {"--chip", "AT24C512", "read", "out.bin"});
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(fs::file_size(dir_.path / "out.bin"), 64u * 1024);
}

// The ambiguous case stays: an ID that several records share needs the name.
TEST_F(IdentityCli, AnIdSharedBySeveralRecordsNeedsTheName) {
  CliResult r = Run("W25Q128FV", {"--json", "write", "img.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("find SPI FLASH,but cannot specify it's type,please select chip type "
                       "manully!"),
            std::string::npos)
      << r.err;
  const std::size_t refusal = r.err.find(
      "tarvix-cli: the chip in the socket answers ID EF4018, "
      "which ");
  ASSERT_NE(refusal, std::string::npos) << r.err;
  const std::string line = r.err.substr(refusal, r.err.find('\n', refusal) - refusal);
  EXPECT_NE(line.find("catalogue chips share ("), std::string::npos) << line;
  EXPECT_NE(line.find("W25Q128BV"), std::string::npos) << line;
  EXPECT_NE(line.find("W25Q128FV"), std::string::npos) << line;
  EXPECT_NE(r.out.find("\"identified\":false"), std::string::npos) << r.out;
  EXPECT_TRUE(Chip().substr(0, 300) == std::string(300, '\xFF')) << "the chip was changed";

  r = Run("W25Q128FV", {"--chip", "W25Q128FV", "--json", "write", "img.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"model\":\"W25Q128FV\""), std::string::npos) << r.out;
  EXPECT_TRUE(Chip().substr(0, 300) == std::string(300, 'A')) << "the image was not written";
}

TEST_F(IdentityCli, AChipNamedWronglyIsRefusedNamingBoth) {
  CliResult r = Run("W25Q128JV-IM", {"--chip", "W25Q128BV", "erase"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--chip W25Q128BV has ID EF4018, but the chip in the socket answers ID "
                       "EF7018, which is W25Q128JV-IM"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("chip is erasing"), std::string::npos);

  r = Run("AT93C46(8bit)", {"--chip", "AT24C02", "write", "img.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--chip AT24C02 is a 24-series EEPROM, but the programmer found a "
                       "93-series EEPROM in the socket"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(Chip() == std::string(128, '\xFF')) << "the chip was changed";
}

// "Auto Recognize" off: nothing is probed, so nothing is identified.
TEST_F(IdentityCli, WithoutAutoRecognizeOnlyANamedChipIsWorkedOn) {
  std::ofstream(dir_.path / "kest2.dll", std::ios::binary) << std::string("\x01\x00", 2);
  CliResult r = Run("W25Q128JV-IM", {"write", "img.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"Auto Recognize\" is off"), std::string::npos) << r.err;
  r = Run("W25Q128JV-IM", {"--chip", "W25Q128JV-IM", "write", "img.bin"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// The demo's chip is found in one match: recognised, not merely guessed among several.
TEST_F(IdentityCli, TheDefaultSimulatedChipIsRecognisedInOneMatch) {
  const CliResult r = RunCli({"--simulate", "--json", "detect"}, dir_.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"find SPI FLASH\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"model\":\"W25Q128JV-IM\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"capacity_bytes\":16777216"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("cannot specify"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvix
