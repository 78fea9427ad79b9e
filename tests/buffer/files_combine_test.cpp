// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/files_combine.h"

#include <gtest/gtest.h>

#include "buffer/tools_test_support.h"

namespace tarvix {
namespace {

using testing::BoxHost;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::WriteBytes;

std::vector<std::uint8_t> Joined(const std::vector<std::vector<std::uint8_t>>& parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(FilesCombinePath, AddsTheSeparatorAndBinOnlyWhenMissing) {
  EXPECT_EQ(CombineOutputPath("/d", "out"), "/d/out.bin");
  EXPECT_EQ(CombineOutputPath("/d/", "out.rom"), "/d/out.rom");
  EXPECT_EQ(CombineOutputPath("/d", "v1.2"), "/d/v1.2");
}

TEST(FilesCombine, JoinsInListOrderIncludingEmptyAndLargeFiles) {
  ScratchDir dir("combine");
  const auto a = Pattern(1000, 1), b = Pattern(0), c = Pattern(2 * 1048576 + 3, 3);
  WriteBytes(dir / "a file.bin", a);
  WriteBytes(dir / "leer.bin", b);
  WriteBytes(dir / "ç.rom", c);
  FilesCombine dialog(dir.path().string());
  EXPECT_EQ(dialog.FileName(), "combine.bin");
  dialog.SetFileName("out");
  dialog.Add({dir / "ç.rom", dir / "a file.bin"});
  dialog.Add({dir / "leer.bin", dir / "a file.bin"});
  BoxHost host;
  const CombineResult r = dialog.Combine(host);
  ASSERT_EQ(r.outcome, CombineOutcome::kSucceeded);
  EXPECT_EQ(r.output, dir / "out.bin");
  EXPECT_EQ(r.inputs_copied, 4u);
  EXPECT_EQ(ReadBytes(dir / "out.bin"), Joined({c, a, b, a}));
  const auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "files combine succeed  ");
  EXPECT_EQ(boxes[0].title, "succeed");
}

TEST(FilesCombine, EmptyListMakesAnEmptyFileAndExistingOutputIsReplaced) {
  ScratchDir dir("combine empty");
  WriteBytes(dir / "out.rom", Pattern(50));
  BoxHost host;
  const CombineResult r = CombineFiles(dir.path().string() + "/", "out.rom", {}, host);
  EXPECT_EQ(r.outcome, CombineOutcome::kSucceeded);
  EXPECT_EQ(std::filesystem::file_size(dir / "out.rom"), 0u);
}

TEST(FilesCombine, UnopenableInputWritesNothing) {
  ScratchDir dir("combine missing");
  WriteBytes(dir / "a.bin", Pattern(3000));
  WriteBytes(dir / "c.bin", Pattern(10));
  std::filesystem::create_directory(dir / "folder.bin");
  BoxHost host;
  for (const char* bad : {"gone.bin", "folder.bin"}) {
    const CombineResult r =
        CombineFiles(dir.path().string(), "out", {dir / "a.bin", dir / bad, dir / "c.bin"}, host);
    EXPECT_EQ(r.outcome, CombineOutcome::kInputFailed);
    EXPECT_EQ(r.inputs_copied, 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  }
  const auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "file open failed  ");
  EXPECT_EQ(boxes[0].title, "failed");
  // Nothing else is left in the folder either.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

TEST(FilesCombine, AFailedCombineLeavesAnExistingOutputAsItWas) {
  ScratchDir dir("combine keep");
  const auto keep = Pattern(5000, 7);
  WriteBytes(dir / "keep.bin", keep);
  WriteBytes(dir / "a.bin", Pattern(1024));
  WriteBytes(dir / "big.bin", Pattern(200000, 3));
  BoxHost host;
  // An input that cannot be opened.
  EXPECT_EQ(
      CombineFiles(dir.path().string(), "keep.bin", {dir / "a.bin", dir / "missing.bin"}, host)
          .outcome,
      CombineOutcome::kInputFailed);
  EXPECT_EQ(ReadBytes(dir / "keep.bin"), keep);
  // A write that fails half-way, as on a full disk.
  {
    testing::FileSizeLimit limit(100000);
    EXPECT_EQ(CombineFiles(dir.path().string(), "keep.bin", {dir / "a.bin", dir / "big.bin"}, host)
                  .outcome,
              CombineOutcome::kWriteFailed);
  }
  EXPECT_EQ(ReadBytes(dir / "keep.bin"), keep);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
  // A complete one replaces it, with its permissions.
  std::filesystem::permissions(dir / "keep.bin", std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_write |
                                                     std::filesystem::perms::group_read);
  EXPECT_EQ(CombineFiles(dir.path().string(), "keep.bin", {dir / "a.bin"}, host).outcome,
            CombineOutcome::kSucceeded);
  EXPECT_EQ(ReadBytes(dir / "keep.bin"), Pattern(1024));
  EXPECT_EQ(std::filesystem::status(dir / "keep.bin").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

TEST(FilesCombine, OutputThatIsAnInputIsRefusedBeforeAnythingIsTruncated) {
  ScratchDir dir("combine self");
  const auto a = Pattern(500), b = Pattern(600, 2);
  WriteBytes(dir / "a.bin", a);
  WriteBytes(dir / "b.bin", b);
  BoxHost host;
  const CombineResult r =
      CombineFiles(dir.path().string(), "b.bin", {dir / "a.bin", dir / "b.bin"}, host);
  EXPECT_EQ(r.outcome, CombineOutcome::kOutputIsInput);
  EXPECT_EQ(ReadBytes(dir / "b.bin"), b);
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].title, "failed");
}

TEST(FilesCombine, MissingFieldsAndUncreatableOutputAreReported) {
  ScratchDir dir("combine fields");
  WriteBytes(dir / "a.bin", Pattern(5));
  BoxHost host;
  EXPECT_EQ(CombineFiles("", "out", {dir / "a.bin"}, host).outcome, CombineOutcome::kNoSavePath);
  EXPECT_EQ(CombineFiles(dir.path().string(), "", {dir / "a.bin"}, host).outcome,
            CombineOutcome::kNoFileName);
  EXPECT_EQ(CombineFiles((dir / "no such folder").string(), "out", {dir / "a.bin"}, host).outcome,
            CombineOutcome::kOutputFailed);
  const auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "please set save path  ");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[1].text, "please input file name   ");
  EXPECT_EQ(boxes[2].title, "failed");
}

TEST(FilesCombine, DeleteRemovesEverySelectedEntry) {
  FilesCombine dialog;
  dialog.Add({"a", "b", "c", "d", "e"});
  dialog.Delete({3, 0, 3, 9});
  EXPECT_EQ(dialog.Inputs(), (std::vector<std::filesystem::path>{"b", "c", "e"}));
}

}  // namespace
}  // namespace tarvix
