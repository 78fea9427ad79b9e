// SPDX-License-Identifier: GPL-3.0-or-later
// The chip commands of the real tarvix-cli binary against the simulated programmer:
// results, exit statuses, JSON, the answering rules and bulk mode with chip swaps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// True when two lines in a row say the same after their time stamps.
bool HasRepeatedLine(const std::string& text) {
  std::istringstream in(text);
  std::string previous;
  for (std::string line; std::getline(in, line);) {
    const std::size_t gap = line.find("  ");
    const std::string said = gap == std::string::npos ? line : line.substr(gap + 2);
    if (said == previous) return true;
    previous = said;
  }
  return false;
}

class ChipCli : public ::testing::Test {
 protected:
  ChipCli() {
    fs::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    image_ = std::string(70000, '\0');
    for (std::size_t i = 0; i < image_.size(); ++i)
      image_[i] = static_cast<char>(testing::PatternByte(i));
    std::ofstream(dir_.path / "img.bin", std::ios::binary) << image_;
  }
  // tarvix-cli --simulate[=model] --sim-image chip.img ARGS... in the scratch folder.
  CliResult Run(std::vector<std::string> args, const std::string& model = "") {
    std::vector<std::string> all = {model.empty() ? "--simulate" : "--simulate=" + model,
                                    "--sim-image", "chip.img"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all, dir_.path);
  }
  std::string Chip(std::size_t size) { return Slurp(dir_.path / "chip.img").substr(0, size); }

  testing::ScratchFolder dir_;
  std::string image_;
};

TEST_F(ChipCli, DetectReportsTheResultCodeAndTheSelectedChip) {
  const CliResult r = Run({"--json", "detect"}, "W25Q32BV");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"result\":1"), std::string::npos);
  EXPECT_NE(r.out.find("\"type\":\"25 SPI FLASH\""), std::string::npos);
  EXPECT_NE(r.out.find("\"capacity_bytes\":4194304"), std::string::npos);

  const CliResult text = Run({"detect"}, "W25Q32BV");
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(text.out.rfind("result: 1\ntype: 25 SPI FLASH\n", 0), 0u) << text.out;
}

TEST_F(ChipCli, DetectOnAnEmptySocketFails) {
  const CliResult r = RunCli({"--simulate=none", "--json", "detect"}, dir_.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"result\":-1"), std::string::npos);
  EXPECT_NE(r.out.find("\"status\":\"device connected,not find chip!\""), std::string::npos);
}

TEST_F(ChipCli, WriteVerifyReadEraseBlankRoundTrip) {
  CliResult r = Run({"--yes", "--json", "write", "img.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"write succeed,70000 bytes,0:0\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"bytes\":70000"), std::string::npos);
  EXPECT_EQ(Chip(image_.size()), image_);

  r = Run({"--json", "verify", "img.bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"verify succeed! 0:0\""), std::string::npos) << r.out;

  // A file of the user's that happens to bear the name of a temporary file is no
  // temporary file of ours.
  std::ofstream(dir_.path / "back.bin.part") << "keep me";
  r = Run({"--json", "read", "back.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string back = Slurp(dir_.path / "back.bin");
  EXPECT_EQ(back.size(), 16u * 1024 * 1024);
  EXPECT_EQ(back.substr(0, image_.size()), image_);
  EXPECT_EQ(back.find_first_not_of('\xFF', image_.size()), std::string::npos);
  EXPECT_EQ(Slurp(dir_.path / "back.bin.part"), "keep me");
  for (const auto& e : fs::directory_iterator(dir_.path))
    EXPECT_EQ(e.path().filename().string().rfind(".back.bin", 0), std::string::npos)
        << "a temporary file was left behind";

  r = Run({"--json", "blank"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"blank\":false"), std::string::npos) << r.out;

  r = Run({"--yes", "--json", "erase"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"erase succeed.0:0\""), std::string::npos) << r.out;

  r = Run({"--json", "blank"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"blank\":true"), std::string::npos) << r.out;
}

TEST_F(ChipCli, WithoutYesAndWithoutATerminalQuestionsAreRefused) {
  CliResult r = Run({"--json", "write", "img.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"ok\":false"), std::string::npos);
  EXPECT_NE(r.err.find("datas will be overwritten ! continue ?"), std::string::npos) << r.err;
  EXPECT_EQ(Chip(16), std::string(16, '\xFF'));

  ASSERT_EQ(Run({"--yes", "write", "img.bin"}).status, 0);
  r = Run({"erase"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Chip(image_.size()), image_);
}

TEST_F(ChipCli, VerifyDifferencesFailAndAreShownOnceWithYes) {
  const CliResult r = Run({"--yes", "--json", "verify", "img.bin"});
  EXPECT_EQ(r.status, 1);
  // Every image byte differs from the blank chip, except those that are 0xFF.
  const std::size_t errors =
      image_.size() - static_cast<std::size_t>(std::count(image_.begin(), image_.end(), '\xFF'));
  EXPECT_NE(
      r.out.find("\"status\":\"verify finished." + std::to_string(errors) + " error(s)! 0:0\""),
      std::string::npos)
      << r.out;
  EXPECT_EQ(Count(r.err, "error! "), 1u) << r.err;
}

TEST_F(ChipCli, ChosenChipStaysSelected) {
  std::ofstream(dir_.path / "small.bin", std::ios::binary) << std::string(100, 'A');
  const CliResult r =
      Run({"--chip", "AT24C02", "--yes", "--json", "write", "small.bin"}, "AT24C02");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"model\":\"AT24C02\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"status\":\"write succeed,256 bytes,0:0\""), std::string::npos) << r.out;
  EXPECT_EQ(Chip(256), std::string(100, 'A') + std::string(156, '\xFF'));
}

TEST_F(ChipCli, UsageErrorsAndMissingFiles) {
  EXPECT_EQ(Run({"read"}).status, 2);
  EXPECT_EQ(Run({"erase", "extra"}).status, 2);
  EXPECT_EQ(Run({"write", "a.bin", "b.bin"}).status, 2);
  EXPECT_EQ(Run({"auto", "img.bin", "--bulk", "0"}).status, 2);
  EXPECT_EQ(Run({"auto", "img.bin", "--bulk", "--sim-swap", "10"}).status, 2);
  EXPECT_EQ(Run({"verify", "img.bin", "--bulk"}).status, 2);
  EXPECT_EQ(RunCli({"auto", "img.bin", "--sim-swap", "2000"}, dir_.path).status, 2);
  const CliResult missing = Run({"--yes", "write", "nowhere.bin"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nowhere.bin"), std::string::npos);
}

TEST_F(ChipCli, AutoProgramsTheChipOnce) {
  const CliResult r = Run({"--yes", "--json", "auto", "img.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"Auto Erase Write Verify finished,0:0\""), std::string::npos)
      << r.out;
  EXPECT_EQ(Chip(image_.size()), image_);
  EXPECT_EQ(Count(r.err, "This chip will be erased! continue ?"), 1u);
}

// A chip is programmed only after the socket was seen empty and a chip was seen twice,
// so every run in the output names another simulated chip.
TEST_F(ChipCli, BulkRunProgramsEachSwappedChipOnce) {
  const CliResult r =
      RunCli({"--simulate", "--sim-timing", "instant", "--yes", "auto", "img.bin", "--bulk", "3"},
             dir_.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex line(R"(chip (\d+): pass \(simulated chip #(\d+)\))");
  std::set<std::string> chips;
  int lines = 0;
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), line), end; it != end; ++it) {
    ++lines;
    EXPECT_EQ((*it)[1], std::to_string(lines));
    chips.insert((*it)[2]);
  }
  EXPECT_EQ(lines, 3) << r.out;
  EXPECT_EQ(chips, (std::set<std::string>{"1", "2", "3"}));
  EXPECT_NE(r.out.find("passed: 3  failed: 0"), std::string::npos);
  // One question before the first chip, none for the chips after it.
  EXPECT_EQ(Count(r.err, "continue ?"), 1u) << r.err;
  EXPECT_NE(r.err.find("Information: bulk mode: every chip put in the socket will be erased, "
                       "written, verified without another question ! continue ?"),
            std::string::npos)
      << r.err;
}

TEST_F(ChipCli, BulkRunAsJson) {
  const CliResult r = Run({"--chip", "W25Q32BV", "--yes", "--json", "auto", "img.bin", "--bulk",
                           "2", "--sim-swap", "1500"},
                          "W25Q32BV");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"passed\":2,\"failed\":0,\"interrupted\":false"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"chip\":1,\"ok\":true,\"simulated_chip\":1,"), std::string::npos);
  EXPECT_NE(r.out.find("{\"chip\":2,\"ok\":true,\"simulated_chip\":2,"), std::string::npos);
}

TEST_F(ChipCli, BulkNeedsAutoRecognize) {
  // Remind Sound on, Auto Recognize off.
  std::ofstream(dir_.path / "kest2.dll", std::ios::binary) << std::string("\x01\x00", 2);
  const CliResult r = Run({"--chip", "W25Q128JV-IM", "--yes", "auto", "img.bin", "--bulk", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Please select \"Auto Recognize\" in menu \"Settings\"!"), std::string::npos)
      << r.err;
}

// Without an answer the bulk run programs nothing: the first chip is asked for as a
// single write is.
TEST_F(ChipCli, BulkRunAsksBeforeTheFirstChip) {
  const CliResult r = Run({"auto", "img.bin", "--bulk", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("continue ?\n(not a terminal: answered Cancel; use --yes to accept)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("chip 1"), std::string::npos) << r.out;
  EXPECT_EQ(Chip(16), std::string(16, '\xFF'));
}

// Each text shows once: the pane's refresh of a repeated text is no new line, and the
// wait between chips is one line, not one per look into the socket.
TEST_F(ChipCli, EachMessageAppearsOnce) {
  CliResult r = Run({"--yes", "write", "img.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Start-up recognition; the write's own test says the same and adds no line.
  EXPECT_EQ(Count(r.err, "  find SPI FLASH\n"), 1u) << r.err;
  EXPECT_FALSE(HasRepeatedLine(r.err)) << r.err;

  r = Run({"--yes", "auto", "img.bin", "--bulk", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "waiting for a chip\n"), 2u) << r.err;
  EXPECT_EQ(r.err.find("not find chip"), std::string::npos) << r.err;
  // Once for each chip found after the wait, and once at start-up for the first.
  EXPECT_EQ(Count(r.err, "  find SPI FLASH\n"), 3u) << r.err;
  EXPECT_FALSE(HasRepeatedLine(r.err)) << r.err;
  EXPECT_LT(r.err.size(), 4000u) << r.err;
}

// The program's own texts stay; the line after them says which file and why.
TEST_F(ChipCli, FileErrorsNameThePathAndTheReason) {
  fs::create_directory(dir_.path / "folder.bin");
  CliResult r = Run({"--yes", "write", "folder.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tarvix-cli: folder.bin: it is a folder, not a file\n");

  r = Run({"--yes", "verify", "nowhere.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\ntarvix-cli: nowhere.bin: No such file or directory\n"), std::string::npos)
      << r.err;

  // Said before the chip is read, not after minutes of reading it for nothing.
  r = Run({"read", "no/such/dir/out.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tarvix-cli: cannot write no/such/dir/out.bin: No such file or directory\n");
}

}  // namespace
}  // namespace tarvix
