// SPDX-License-Identifier: GPL-3.0-or-later
// tarvix-cli fill, run as the real binary on the simulated programmer in a folder of
// its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::RunCli;
using Bytes = std::vector<std::uint8_t>;

const std::string kDb = TARVIX_DATABASE_DAT;

class CliFill : public ::testing::Test {
 protected:
  CliFill() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarvix-fill-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) dir = pattern;
  }
  ~CliFill() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  testing::CliResult Run(const std::vector<std::string>& args) { return RunCli(args, dir); }
  Bytes ReadFile(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
  }

  std::filesystem::path dir;
};

TEST_F(CliFill, FillChangesOnlyTheRangeOfTheSimulatedChip) {
  const auto r = Run({"--database", kDb, "--simulate", "--sim-image", "chip.bin", "--yes", "fill",
                      "100", "16", "5A"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Fill succeed\n");
  EXPECT_NE(r.err.find("State: chip filling...\n"), std::string::npos);
  const Bytes chip = ReadFile("chip.bin");
  ASSERT_GE(chip.size(), 0x200u);
  for (std::size_t i = 0; i < 0x200; ++i)
    ASSERT_EQ(chip[i], i >= 0x100 && i < 0x110 ? 0x5A : 0xFF) << i;
}

TEST_F(CliFill, FillOutsideTheChipFails) {
  // The default simulated chip holds 16 MiB.
  const auto r =
      Run({"--database", kDb, "--simulate", "--yes", "--json", "fill", "FFFFF0", "17", "00"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"ok\":false,\"status\":\"chip fill failed\",\"state\":\"the address is "
                       "out of chip range\""),
            std::string::npos)
      << r.out;
}

TEST_F(CliFill, FillArgumentsAreCheckedAsTheDialogChecksThem) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"1G", "1", "00"},
                                               {"0", "1A", "00"},
                                               {"0", "1", "XY"},
                                               {"123456789", "1", "00"},
                                               {"0", "1", "12345"},
                                               {"0", "1"},
                                               {"0", "1", "123"}}) {
    std::vector<std::string> full{"--database", kDb, "--simulate", "fill"};
    full.insert(full.end(), args.begin(), args.end());
    EXPECT_EQ(Run(full).status, 2) << args[0] << " " << args[1];
  }
}

TEST_F(CliFill, FillOnASixteenBitChipCountsWords) {
  const auto r = Run({"--database", kDb, "--simulate=AT93C46(16bit)", "--chip", "AT93C46(16bit)",
                      "--sim-image", "chip.bin", "--yes", "fill", "10", "2", "ABCD"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes chip = ReadFile("chip.bin");
  ASSERT_EQ(chip.size(), 128u);
  for (std::size_t i = 0; i < chip.size(); ++i) {
    const std::uint8_t expected = i >= 0x20 && i < 0x24 ? (i % 2 ? 0xCD : 0xAB) : 0xFF;
    ASSERT_EQ(chip[i], expected) << i;
  }
}

// The fill rewrites the chip as write does, so it asks as write does.
TEST_F(CliFill, FillAsksFirstAndWithoutAnAnswerLeavesTheChip) {
  const auto r =
      Run({"--database", kDb, "--simulate", "--sim-image", "chip.bin", "fill", "100", "16", "5A"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Information: chip datas from address 100 (hex), 16 byte(s) of "
                       "W25Q128JV-IM, will be overwritten with 5A ! continue ?\n(not a terminal: "
                       "answered Cancel; use --yes to accept)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("chip filling"), std::string::npos) << r.err;
  const Bytes chip = ReadFile("chip.bin");
  ASSERT_EQ(chip.size(), 16u << 20);
  EXPECT_TRUE(
      std::all_of(chip.begin(), chip.begin() + 0x200, [](std::uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace tarvix
