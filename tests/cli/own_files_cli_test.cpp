// SPDX-License-Identifier: GPL-3.0-or-later
// The command line keeps to the files it is given: it streams the user's files itself,
// makes none of the window's private files, refuses anything that is not a file, and
// never lets one of its outputs be one of its inputs under another name.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "buffer/tools_test_support.h"
#include "cli/cli_folder.h"
#include "cli/cli_runner.h"
#include "cli/cli_spawn.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using testing::CliResult;
using testing::RunCli;
using testing::SpawnedCli;
namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class OwnFilesCli : public testing::CliFolderTest {};

// Two runs in one folder once shared the window's working copy: a verify of one file,
// started while an auto of another was erasing, made the auto program the verify's file.
TEST_F(OwnFilesCli, TwoRunsInOneFolderEachWorkOnTheirOwnFile) {
  Put("aa.bin", std::string(65536, '\xAA'));
  Put("bb.bin", std::string(65536, '\xBB'));
  const std::vector<std::string> chip = {"--simulate=W25X10", "--chip", "W25X10"};
  std::vector<std::string> slow = chip;
  slow.insert(slow.end(),
              {"--sim-image", "a.img", "--sim-timing", "realistic", "--yes", "auto", "aa.bin"});
  SpawnedCli first(dir_.path, slow);
  ASSERT_TRUE(first.WaitForErr("chip is erasing...")) << first.Err();
  std::vector<std::string> quick = chip;
  quick.insert(quick.end(), {"--sim-image", "b.img", "verify", "bb.bin"});
  const CliResult second = RunCli(quick, dir_.path);
  EXPECT_EQ(second.status, 1) << "a blank chip verified as 0xBB: " << second.err;
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_NE(first.Err().find("Auto Erase Write Verify finished"), std::string::npos);
  EXPECT_EQ(Get("a.img").substr(0, 65536), std::string(65536, '\xAA'));

  // A read writes its file and nothing else; no run leaves a file of its own.
  const CliResult read =
      RunCli({"--simulate=W25X10", "--chip", "W25X10", "--sim-image", "a.img", "read", "back.bin"},
             dir_.path);
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(Get("back.bin"), Get("a.img"));
  EXPECT_EQ(Listing(dir_.path),
            (std::set<std::string>{"database.dat", "img.bin", "aa.bin", "bb.bin", "a.img", "b.img",
                                   "back.bin", "spawned.out", "spawned.err"}));
}

// Every output against every input, by any spelling: nothing is read or written then.
TEST_F(OwnFilesCli, AnOutputThatIsAnInputUnderAnyNameIsRefused) {
  fs::create_hard_link(dir_.path / "img.bin", dir_.path / "hard.bin");
  fs::create_symlink("img.bin", dir_.path / "soft.bin");
  fs::create_directory(dir_.path / "sub");
  const std::string database = Get("database.dat");
  Put("p.bin", "payload");
  const std::vector<std::vector<std::string>> runs = {
      {"--simulate", "--trace", "img.bin", "--yes", "write", "img.bin"},
      {"--simulate", "--trace", "sub/../hard.bin", "--yes", "write", "img.bin"},
      {"--simulate", "--trace", "soft.bin", "verify", "./img.bin"},
      {"--simulate", "--sim-image", "hard.bin", "--yes", "auto", "img.bin"},
      {"--simulate", "--trace", "./database.dat", "detect"},
      {"--simulate", "--sim-image", "database.dat", "detect"},
      {"--simulate", "--trace", "new.bin", "read", "sub/../new.bin"},
      {"tvx", "make", "p.bin", "./p.bin"},
      {"join", "soft.bin", "p.bin", "img.bin"},
  };
  for (const auto& args : runs) {
    const CliResult r = RunCli(args, dir_.path);
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_NE(r.err.find("is the same file as"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Get("img.bin"), image_);
  EXPECT_EQ(Get("database.dat"), database);
  EXPECT_EQ(Get("p.bin"), "payload");
  EXPECT_FALSE(fs::exists(dir_.path / "new.bin"));

  // A trace that cannot be written whole is a failed run, not an empty file and 0.
  testing::FileSizeLimit limit(2000);
  const CliResult full = RunCli(
      {"--simulate=AT24C02", "--chip", "AT24C02", "--trace", "usb.trace", "detect"}, dir_.path);
  EXPECT_EQ(full.status, 1) << full.err;
  EXPECT_NE(full.err.find("tarvix-cli: --trace usb.trace: the trace could not be written whole"),
            std::string::npos)
      << full.err;
}

// A pipe, a device or a folder given for a file is refused at once, by name and kind:
// a pipe once hung the run, and a device as the simulated chip was erased.
TEST_F(OwnFilesCli, WhatIsNotAFileIsRefusedAtOnce) {
  struct Case {
    std::vector<std::string> args;
    std::string said;
  };
  const std::string fifo = "it is a named pipe (FIFO), not a file";
  const std::vector<Case> cases = {
      {{"--simulate", "--yes", "write", "pipe"}, "pipe: " + fifo},
      {{"--simulate", "verify", "pipe"}, "pipe: " + fifo},
      {{"--simulate", "read", "pipe"}, "pipe: " + fifo},
      {{"--simulate", "--yes", "upgrade", "pipe"}, "pipe: " + fifo},
      {{"split", "pipe", "10"}, "pipe: " + fifo},
      {{"join", "out.bin", "img.bin", "pipe"}, "pipe: " + fifo},
      {{"join", "pipe", "img.bin"}, "./pipe.bin: " + fifo},
      {{"db", "unpack", "pipe", "out.txt"}, "pipe: " + fifo},
      {{"--database", "pipe", "chips"}, "--database pipe: " + fifo},
      {{"--simulate", "--trace", "pipe", "detect"}, "--trace pipe: " + fifo},
      {{"--simulate", "--trace", "pipe", "check-new", "--url", "http://127.0.0.1:1/"},
       "--trace pipe: " + fifo},
      {{"feedback", "--problem", "x", "--server", "127.0.0.1:1", "--cafile", "pipe"},
       "--cafile pipe: " + fifo},
      {{"--simulate", "--sim-image", "/dev/null", "detect"},
       "--sim-image /dev/null: it is a character device, not a file"},
      {{"--simulate", "--sim-image", "folder", "detect"},
       "--sim-image folder: it is a folder, not a file"},
  };
  // Each in a folder of its own, all at once: a run that waits on its pipe waits alone.
  std::vector<std::unique_ptr<SpawnedCli>> runs;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fs::path dir = dir_.path / std::to_string(i);
    fs::create_directory(dir);
    fs::copy_file(dir_.path / "database.dat", dir / "database.dat");
    fs::copy_file(dir_.path / "img.bin", dir / "img.bin");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.bin").c_str(), 0644), 0);
    runs.push_back(std::make_unique<SpawnedCli>(dir, cases[i].args));
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(runs[i]->Wait(), 1) << cases[i].args[1];
    EXPECT_NE(runs[i]->Err().find("tarvix-cli: " + cases[i].said + "\n"), std::string::npos)
        << runs[i]->Err();
  }
}

// A disk that fills under a read is said with the path and the system's reason, and
// leaves nothing; a write reads the user's file where it is, so needs no room at all.
TEST_F(OwnFilesCli, AFullDiskIsNamedAndLeavesNothing) {
  Put("big.bin", std::string(2u << 20, 'x'));
  const std::set<std::string> before = Listing(dir_.path);
  testing::FileSizeLimit limit(1u << 20);
  const CliResult read = RunCli({"--simulate", "read", "back.bin"}, dir_.path);
  EXPECT_EQ(read.status, 1);
  EXPECT_NE(read.err.find("tarvix-cli: cannot write back.bin: File too large\n"), std::string::npos)
      << read.err;
  const CliResult write = RunCli({"--simulate", "--yes", "write", "big.bin"}, dir_.path);
  EXPECT_EQ(write.status, 0) << write.err;
  EXPECT_EQ(Listing(dir_.path), before);
}

}  // namespace
}  // namespace tarvix
