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

  r = Run({"--json", "read", "back.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string back = Slurp(dir_.path / "back.bin");
  EXPECT_EQ(back.size(), 16u * 1024 * 1024);
  EXPECT_EQ(back.substr(0, image_.size()), image_);
  EXPECT_EQ(back.find_first_not_of('\xFF', image_.size()), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_.path / "back.bin.part"));

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
  const CliResult r = RunCli(
      {"--simulate", "--sim-timing", "instant", "auto", "img.bin", "--bulk", "3"}, dir_.path);
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
  EXPECT_EQ(Count(r.err, "continue ?"), 0u) << "bulk mode asks nothing";
}

TEST_F(ChipCli, BulkRunAsJson) {
  const CliResult r =
      Run({"--json", "auto", "img.bin", "--bulk", "2", "--sim-swap", "1500"}, "W25Q32BV");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"passed\":2,\"failed\":0,\"interrupted\":false"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"chip\":1,\"ok\":true,\"simulated_chip\":1,"), std::string::npos);
  EXPECT_NE(r.out.find("{\"chip\":2,\"ok\":true,\"simulated_chip\":2,"), std::string::npos);
}

TEST_F(ChipCli, BulkNeedsAutoRecognize) {
  // Remind Sound on, Auto Recognize off.
  std::ofstream(dir_.path / "kest2.dll", std::ios::binary) << std::string("\x01\x00", 2);
  const CliResult r = Run({"auto", "img.bin", "--bulk", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Please select \"Auto Recognize\" in menu \"Settings\"!"), std::string::npos)
      << r.err;
}

// Ctrl-C ends bulk mode after the chip under way; the counts still come out.
TEST_F(ChipCli, InterruptEndsABulkRunWithItsCounts) {
  const fs::path out = dir_.path / "bulk.out";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(dir_.path.c_str()) != 0) ::_exit(127);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(fd, 1);
    ::dup2(null, 2);
    ::dup2(null, 0);
    ::execl(TARVIX_CLI, TARVIX_CLI, "--simulate", "auto", "img.bin", "--bulk",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Count(Slurp(out), "\n") < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string text = Slurp(out);
  const std::size_t runs = Count(text, ": pass (simulated chip #");
  EXPECT_GE(runs, 3u);
  EXPECT_NE(text.find("passed: " + std::to_string(runs) + "  failed: 0"), std::string::npos)
      << text;
}

}  // namespace
}  // namespace tarvix
