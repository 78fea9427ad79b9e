// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "buffer/tools_test_support.h"
#include "cli/cli_runner.h"

namespace tarvix {
namespace {

using testing::Pattern;
using testing::ReadBytes;
using testing::RunCli;
using testing::ScratchDir;
using testing::Slice;
using testing::WriteBytes;

TEST(CliSplitJoin, SplitThenJoinGivesTheFileBack) {
  ScratchDir dir("cli split");
  const auto bytes = Pattern(4096, 9);
  WriteBytes(dir / "mein bild.bin", bytes);
  const auto split = RunCli({"split", "mein bild.bin",
                             "1024\xEF\xBC\x8C"
                             "2048"},
                            dir.path());
  ASSERT_EQ(split.status, 0) << split.err;
  EXPECT_EQ(split.out, "mein bild_0-1023.bin\nmein bild_1024-2047.bin\nmein bild_2048-4095.bin\n");
  EXPECT_EQ(split.err, "succeed: file divide succeed!  \n");
  EXPECT_EQ(ReadBytes(dir / "mein bild_1024-2047.bin"), Slice(bytes, 1024, 1024));

  const auto join = RunCli({"join", "zurück", "mein bild_0-1023.bin", "mein bild_1024-2047.bin",
                            "mein bild_2048-4095.bin"},
                           dir.path());
  ASSERT_EQ(join.status, 0) << join.err;
  EXPECT_EQ(join.out, "./zurück.bin\n");
  EXPECT_EQ(join.err, "succeed: files combine succeed  \n");
  EXPECT_EQ(ReadBytes(dir / "zurück.bin"), bytes);
}

TEST(CliSplitJoin, BadNodesAreAUsageErrorWithTheDialogsMessage) {
  ScratchDir dir("cli nodes");
  WriteBytes(dir / "a.bin", Pattern(10));
  const auto r = RunCli({"split", "a.bin", ",5"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "info: input division nodes error  \n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunCli({"split", "a.bin", ""}, dir.path()).err,
            "info: please input division nodes   \n");
  EXPECT_EQ(RunCli({"split", "a.bin"}, dir.path()).status, 2);
  EXPECT_EQ(RunCli({"join", "out.bin"}, dir.path()).status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
}

TEST(CliSplitJoin, FailuresExitWithOneAndWriteNothing) {
  ScratchDir dir("cli fail");
  WriteBytes(dir / "a.bin", Pattern(300));
  const auto split = RunCli({"split", "gone.bin", "10"}, dir.path());
  EXPECT_EQ(split.status, 1);
  // The dialog's text, then which file and why.
  EXPECT_EQ(split.err,
            "info: file divide failed!   \ntarvix-cli: gone.bin: No such file or directory\n");

  const auto join = RunCli({"--json", "join", "out", "a.bin", "gone.bin"}, dir.path());
  EXPECT_EQ(join.status, 1);
  EXPECT_EQ(join.err,
            "failed: file open failed  \ntarvix-cli: gone.bin: No such file or directory\n");
  EXPECT_EQ(join.out,
            "{\"ok\":false,\"status\":\"file open failed  \",\"output\":\"./out.bin\","
            "\"inputs_copied\":1,\"bytes\":300}\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
}

TEST(CliSplitJoin, AFailedJoinLeavesAnExistingOutputByteForByte) {
  ScratchDir dir("cli keep");
  const auto keep = Pattern(4000, 3);
  WriteBytes(dir / "keep.bin", keep);
  WriteBytes(dir / "a.bin", Pattern(1024));
  const auto join = RunCli({"join", "keep.bin", "a.bin", "missing.bin"}, dir.path());
  EXPECT_EQ(join.status, 1);
  EXPECT_EQ(ReadBytes(dir / "keep.bin"), keep);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
}  // namespace tarvix
