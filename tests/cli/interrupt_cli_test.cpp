// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C on the real binary, with the simulated programmer at realistic speed so that
// the signal arrives while the chip is being worked on: the operation stops at its
// next block, the tool says "interrupted" and ends with 130, nothing claims success,
// and the files stay whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/cli_spawn.h"
#include "firmware/tvx_image.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using testing::SpawnedCli;
namespace fs = std::filesystem;

constexpr std::uint64_t kChipBytes = 16u << 20;  // the default simulated chip

struct Stopped {
  int status = -1;
  std::string out, err, trace;
};

class InterruptCli : public ::testing::Test {
 protected:
  InterruptCli() {
    fs::copy_file(TARVIX_DATABASE_DAT, dir_.path / "database.dat");
    std::string image(2u << 20, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
      image[i] = static_cast<char>(testing::PatternByte(i));
    std::ofstream(dir_.path / "img.bin", std::ios::binary) << image;
  }

  // Runs `args` on the default chip at realistic speed, presses Ctrl-C `presses` times
  // once `marker` shows in stderr (or in the transfer trace), and collects the rest.
  Stopped InterruptAt(std::vector<std::string> args, const std::string& marker,
                      bool marker_in_trace, int presses = 1) {
    std::vector<std::string> all = {"--simulate", "--sim-timing", "realistic", "--sim-image",
                                    "chip.img",   "--trace",      "usb.trace", "--yes"};
    all.insert(all.end(), args.begin(), args.end());
    SpawnedCli cli(dir_.path, all);
    EXPECT_TRUE(cli.Started());
    const bool seen =
        marker_in_trace ? cli.WaitFor(dir_.path / "usb.trace", marker) : cli.WaitForErr(marker);
    EXPECT_TRUE(seen) << marker << "\n" << cli.Err();
    for (int i = 0; i < presses; ++i) cli.Interrupt();
    Stopped s;
    s.status = cli.Wait();
    s.out = cli.Out();
    s.err = cli.Err();
    s.trace = SpawnedCli::Slurp(dir_.path / "usb.trace");
    return s;
  }

  static void ExpectInterrupted(const Stopped& s) {
    EXPECT_EQ(s.status, 130) << s.err;
    EXPECT_TRUE(s.err.size() >= 12 && s.err.substr(s.err.size() - 12) == "interrupted\n") << s.err;
    // Loading the image before the run may have succeeded; nothing after it.
    EXPECT_EQ(SpawnedCli::Count(s.err, "succeed"), SpawnedCli::Count(s.err, "open succeed"))
        << s.err;
  }
  // Any file of the read's output (its temporary file included) in the folder.
  bool OutputLeft(const std::string& name) const {
    for (const auto& e : fs::directory_iterator(dir_.path))
      if (e.path().filename().string().find(name) != std::string::npos) return true;
    return false;
  }
  std::uintmax_t ImageSize() const { return fs::file_size(dir_.path / "chip.img"); }

  testing::ScratchFolder dir_;
};

TEST_F(InterruptCli, AReadStopsAtTheNextBlockAndLeavesNoFile) {
  const Stopped s = InterruptAt({"read", "back.bin"}, "BULK-IN  ep=0x83 len=8192", true);
  ExpectInterrupted(s);
  EXPECT_NE(s.err.find("Read stopped,"), std::string::npos) << s.err;
  EXPECT_LT(SpawnedCli::Count(s.trace, "BULK-IN  ep=0x83 len=8192"), kChipBytes / 8192)
      << "the whole chip was read";
  EXPECT_FALSE(OutputLeft("back.bin"));
  EXPECT_EQ(ImageSize(), kChipBytes);
}

TEST_F(InterruptCli, WriteEraseVerifyAndBlankCheckStopEarly) {
  // The chip is still blank: the check has the whole chip to go through.
  Stopped s = InterruptAt({"blank"}, "chip blank checking", false);
  ExpectInterrupted(s);
  EXPECT_EQ(s.err.find("chip is blank"), std::string::npos) << s.err;

  s = InterruptAt({"write", "img.bin"}, "BULK-OUT", true);
  ExpectInterrupted(s);
  EXPECT_NE(s.err.find("write is broken!"), std::string::npos) << s.err;
  EXPECT_LT(SpawnedCli::Count(s.trace, "BULK-OUT"), (2u << 20) / 4096) << "the image went whole";

  s = InterruptAt({"--json", "verify", "img.bin"}, "Verify begin...", false);
  ExpectInterrupted(s);
  EXPECT_NE(s.out.find("\"ok\":false"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("\"interrupted\":true"), std::string::npos) << s.out;

  s = InterruptAt({"erase"}, "chip is erasing...", false);
  ExpectInterrupted(s);
  EXPECT_NE(s.err.find("erase finished"), std::string::npos) << s.err;
  EXPECT_EQ(ImageSize(), kChipBytes);
}

// Erase reports a stopped erase as done; the auto run must not go on to write.
TEST_F(InterruptCli, AnAutoRunStartsNoFurtherStep) {
  const Stopped s = InterruptAt({"auto", "img.bin"}, "chip is erasing...", false);
  ExpectInterrupted(s);
  EXPECT_EQ(s.err.find("start write"), std::string::npos) << s.err;
  EXPECT_EQ(s.trace.find("BULK-OUT"), std::string::npos) << "image data was sent";
  EXPECT_EQ(s.err.find("Auto Erase"), std::string::npos) << s.err;
}

// A fill stops between blocks: every block it touched is written back whole.
TEST_F(InterruptCli, AFillStopsBetweenBlocks) {
  const Stopped s = InterruptAt({"fill", "0", "1000000", "00"}, "State: chip filling...", false);
  ExpectInterrupted(s);
  EXPECT_NE(s.err.find("State: chip fill stopped"), std::string::npos) << s.err;
  const std::string chip = SpawnedCli::Slurp(dir_.path / "chip.img");
  ASSERT_EQ(chip.size(), kChipBytes);
  const std::size_t filled = std::min<std::size_t>(chip.find_first_not_of('\0'), 1000000);
  EXPECT_LT(filled, 1000000u) << "the fill was not stopped";
  EXPECT_EQ(filled % 4096, 0u) << "a block was left half filled";
  EXPECT_EQ(chip.find_first_not_of('\xFF', filled), std::string::npos);
}

TEST_F(InterruptCli, AnUpgradeStopsBetweenBlocksInUpdateMode) {
  const auto image = MakeTvx(std::vector<std::uint8_t>(60000, 0x01));
  ASSERT_TRUE(image);
  std::ofstream(dir_.path / "fw.tvx", std::ios::binary)
      .write(reinterpret_cast<const char*>(image->data()),
             static_cast<std::streamsize>(image->size()));
  // Frame 2 erases one block of the programmer's firmware area.
  const Stopped s = InterruptAt({"upgrade", "fw.tvx"}, "len=4 timeout=500 result=4 | A5 02", true);
  ExpectInterrupted(s);
  EXPECT_EQ(s.out, "firmware upgrade stopped\n");
  EXPECT_NE(s.err.find("the programmer stays in its update mode; run upgrade again"),
            std::string::npos)
      << s.err;
  // No read-back and no finish frame followed.
  EXPECT_EQ(s.trace.find("| A5 0C"), std::string::npos);
}

// Ctrl-C during a bulk run stops the chip under way; the chips before it are counted.
TEST_F(InterruptCli, ABulkRunStopsTheChipUnderWayAndKeepsItsCounts) {
  const fs::path out = dir_.path / "spawned.out";
  std::ofstream(dir_.path / "small.bin", std::ios::binary) << std::string(100000, 'x');
  SpawnedCli cli(dir_.path,
                 {"--simulate=W25Q80BV", "--chip", "W25Q80BV", "--sim-timing", "realistic",
                  "--trace", "usb.trace", "--yes", "auto", "small.bin", "--bulk"});
  ASSERT_TRUE(cli.WaitFor(out, "chip 1: pass")) << cli.Err();
  // The second chip's erase has started (code 5).
  ASSERT_TRUE(cli.WaitFor(dir_.path / "usb.trace", "result=20 | A5 05", 2)) << cli.Err();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(), 130);
  const std::string text = cli.Out();
  EXPECT_NE(text.find("chip 2: interrupted, not counted\npassed: 1  failed: 0\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(SpawnedCli::Count(cli.Err(), "Auto Erase Write Verify finished"), 1u) << cli.Err();
  EXPECT_TRUE(cli.Err().size() >= 12 && cli.Err().substr(cli.Err().size() - 12) == "interrupted\n");
}

// Waiting for the next chip is no work to finish: Ctrl-C ends the run at once.
TEST_F(InterruptCli, ABulkRunWaitingForAChipStopsAtOnce) {
  SpawnedCli cli(dir_.path, {"--simulate=none", "--sim-timing", "realistic", "--yes", "auto",
                             "img.bin", "--bulk"});
  ASSERT_TRUE(cli.WaitForErr("waiting for a chip")) << cli.Err();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(), 130);
  const std::string out = cli.Out();
  EXPECT_EQ(out.substr(std::min(out.find('\n') + 1, out.size())),
            "chip 1: fail  device connected,not find chip!\npassed: 0  failed: 1\n")
      << out;
  EXPECT_EQ(SpawnedCli::Count(cli.Err(), "waiting for a chip"), 1u) << cli.Err();
  EXPECT_TRUE(cli.Err().size() >= 12 && cli.Err().substr(cli.Err().size() - 12) == "interrupted\n");
}

// Joining or dividing a large file stops at its next chunk: the file under way (a
// hidden temporary one) goes, and the tool says "interrupted".
TEST_F(InterruptCli, JoinAndSplitStopAndLeaveNoPartFile) {
  // Holes read as zeros: large to copy, yet nothing on the disk.
  std::ofstream(dir_.path / "big.bin").close();
  fs::resize_file(dir_.path / "big.bin", std::uint64_t{8} << 30);
  const auto part_of = [&](const std::string& name) {
    for (const auto& e : fs::directory_iterator(dir_.path)) {
      const std::string file = e.path().filename().string();
      if (file.rfind("." + name, 0) == 0 && file.find(".part") != std::string::npos) return true;
    }
    return false;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"join", "out.bin", "big.bin"}, "out.bin"}, {{"split", "big.bin", "6000000000"}, "big_0-"}};
  for (const auto& [args, part] : runs) {
    SpawnedCli cli(dir_.path, args);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!part_of(part) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(part_of(part)) << cli.Err();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 130) << cli.Err();
    EXPECT_EQ(cli.Err(), "interrupted\n");
    EXPECT_FALSE(part_of(part)) << args[0];
    EXPECT_FALSE(OutputLeft(part == "out.bin" ? part : "big_"));
  }
}

// The second Ctrl-C does not wait for the operation to wind down; the chip's image
// file and the user's folder stay as a stop would leave them.
TEST_F(InterruptCli, ASecondCtrlCLeavesAtOnceSafely) {
  const Stopped s =
      InterruptAt({"--json", "read", "back.bin"}, "BULK-IN  ep=0x83 len=8192", true, 2);
  EXPECT_EQ(s.status, 130) << s.err;
  EXPECT_EQ(SpawnedCli::Count(s.err, "interrupted\n"), 1u) << s.err;
  EXPECT_EQ(SpawnedCli::Count(s.out, "\"interrupted\":true"), 1u) << s.out;
  EXPECT_EQ(s.err.find("succeed"), std::string::npos) << s.err;
  EXPECT_FALSE(OutputLeft("back.bin"));
  EXPECT_EQ(ImageSize(), kChipBytes);
}

}  // namespace
}  // namespace tarvix
