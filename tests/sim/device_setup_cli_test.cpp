// SPDX-License-Identifier: GPL-3.0-or-later
// How tarvix-cli builds its programmer from the global options, through the real
// binary and a command that talks to the programmer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../cli/cli_runner.h"

namespace tarvix::sim {
namespace {

using tarvix::testing::RunCli;

class DeviceSetupCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvix_device_setup_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::vector<std::string> Args(std::vector<std::string> rest) {
    rest.insert(rest.begin(), {"--database", TARVIX_DATABASE_DAT});
    return rest;
  }
  std::filesystem::path dir_;
};

TEST_F(DeviceSetupCli, SimulatorAnswersWithItsDefaultChip) {
  const auto r = RunCli(Args({"--simulate", "--json", "version"}), dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"serial\":\"123456\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"version\":\"V2.2\""), std::string::npos) << r.out;
}

TEST_F(DeviceSetupCli, UnknownModelIsRefusedWithAMessage) {
  const auto r = RunCli(Args({"--simulate=NO-SUCH-CHIP", "version"}), dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no chip model \"NO-SUCH-CHIP\""), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(DeviceSetupCli, ImageFileIsCreatedErasedToTheChipsSize) {
  const auto image = dir_ / "chip.bin";
  auto r = RunCli(Args({"--simulate=AT24C02", "--sim-image", image.string(), "version"}), dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  std::ifstream in(image, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes, std::string(256, '\xFF'));

  r = RunCli(Args({"--sim-image", image.string(), "version"}), dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--sim-image needs --simulate"), std::string::npos) << r.err;
  r = RunCli(Args({"--simulate=none", "--sim-image", image.string(), "version"}), dir_);
  EXPECT_EQ(r.status, 1);
  r = RunCli(Args({"--simulate", "--sim-image", (dir_ / "no" / "dir.bin").string(), "version"}),
             dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--sim-image: cannot open"), std::string::npos) << r.err;
}

// Two programs on one image would interleave their writes: the second is refused and
// the first finishes undisturbed.
TEST_F(DeviceSetupCli, AnImageFileInUseIsRefused) {
  const auto image = dir_ / "chip.bin";
  const auto first =
      RunCli(Args({"--simulate=AT24C02", "--sim-image", image.string(), "version"}), dir_);
  ASSERT_EQ(first.status, 0) << first.err;
  // Another program holds the image, as a running tarvix-cli does.
  const int fd = ::open(image.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const auto second = RunCli(Args({"--simulate=AT24C02", "--chip", "AT24C02", "--sim-image",
                                   image.string(), "--yes", "erase"}),
                             dir_);
  ::close(fd);
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("tarvix-cli: --sim-image: " + image.string() +
                            " is in use by another simulated programmer"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(second.err.find("erasing"), std::string::npos);
  // Released, it is usable again.
  EXPECT_EQ(
      RunCli(Args({"--simulate=AT24C02", "--sim-image", image.string(), "version"}), dir_).status,
      0);
}

TEST_F(DeviceSetupCli, TraceFileHoldsEveryTransfer) {
  const auto trace = dir_ / "usb.trace";
  const auto r = RunCli(Args({"--simulate", "--trace", trace.string(), "version"}), dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  std::ifstream in(trace);
  std::vector<std::string> transfers;
  for (std::string line; std::getline(in, line);)
    if (line.find(" ep=0x") != std::string::npos) transfers.push_back(line);
  // The start-up recognition, then drain, code 18 and its byte, code 22 and its seven,
  // and the end-of-run code 9.
  ASSERT_GE(transfers.size(), 6u);
  const std::size_t n = transfers.size();
  EXPECT_NE(transfers[n - 5].find("INT-OUT  ep=0x02 len=20 timeout=100 result=20 | A5 12"),
            std::string::npos)
      << transfers[n - 5];
  EXPECT_NE(
      transfers[n - 2].find("BULK-IN  ep=0x83 len=7 timeout=100 result=7 | 54 56 58 01 01 E2 40"),
      std::string::npos)
      << transfers[n - 2];
  EXPECT_NE(transfers[n - 1].find("INT-OUT  ep=0x02 len=20 timeout=1000 result=20 | A5 09"),
            std::string::npos)
      << transfers[n - 1];
  const auto bad =
      RunCli(Args({"--simulate", "--trace", (dir_ / "no" / "t").string(), "version"}), dir_);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("--trace: cannot write"), std::string::npos);
}

}  // namespace
}  // namespace tarvix::sim
