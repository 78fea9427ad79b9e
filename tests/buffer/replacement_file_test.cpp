// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/replacement_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "buffer/stream_copy.h"
#include "buffer/tools_test_support.h"

namespace tarvix {
namespace {

using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::WriteBytes;

std::size_t Entries(const ScratchDir& dir) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

TEST(ReplacementFile, TheOldFileStaysUntilTheNewOneIsCommitted) {
  ScratchDir dir("replace");
  const auto old_bytes = Pattern(3000, 1), new_bytes = Pattern(100, 2);
  WriteBytes(dir / "out.bin", old_bytes);
  ReplacementFile file(dir / "out.bin");
  ASSERT_TRUE(file.Valid());
  EXPECT_EQ(file.TemporaryPath().parent_path(), dir.path());
  ASSERT_TRUE(WriteAt(file.Fd(), new_bytes, 0));
  EXPECT_EQ(ReadBytes(dir / "out.bin"), old_bytes);
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadBytes(dir / "out.bin"), new_bytes);
  EXPECT_EQ(Entries(dir), 1u);
}

TEST(ReplacementFile, AbandonedOrDestroyedLeavesTheOldFileAndNoTrace) {
  ScratchDir dir("abandon");
  const auto old_bytes = Pattern(500);
  WriteBytes(dir / "out.bin", old_bytes);
  {
    ReplacementFile file(dir / "out.bin");
    ASSERT_TRUE(WriteAt(file.Fd(), Pattern(9000, 4), 0));
  }
  EXPECT_EQ(ReadBytes(dir / "out.bin"), old_bytes);
  ReplacementFile again(dir / "new.bin");
  ASSERT_TRUE(again.Valid());
  again.Abandon();
  EXPECT_FALSE(again.Commit());
  EXPECT_FALSE(std::filesystem::exists(dir / "new.bin"));
  EXPECT_EQ(Entries(dir), 1u);
}

TEST(ReplacementFile, KeepsPermissionsAndWritesThroughALink) {
  ScratchDir dir("link");
  WriteBytes(dir / "real.bin", Pattern(10));
  ::chmod((dir / "real.bin").c_str(), 0640);
  std::filesystem::create_symlink(dir / "real.bin", dir / "link.bin");
  ReplacementFile file(dir / "link.bin");
  ASSERT_TRUE(file.Valid());
  ASSERT_TRUE(WriteAt(file.Fd(), Pattern(20, 9), 0));
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bin"));
  EXPECT_EQ(ReadBytes(dir / "real.bin"), Pattern(20, 9));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "real.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ReplacementFile, RefusesWhatItMustNotReplace) {
  ScratchDir dir("refuse");
  std::filesystem::create_directory(dir / "folder.bin");
  ReplacementFile folder(dir / "folder.bin");
  EXPECT_FALSE(folder.Valid());
  EXPECT_EQ(folder.Error(), EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.bin"));

  ReplacementFile nowhere(dir / "no such folder" / "out.bin");
  EXPECT_FALSE(nowhere.Valid());
  EXPECT_EQ(nowhere.Error(), ENOENT);

  // A write-protected file keeps its protection (root may write anything).
  WriteBytes(dir / "kept.bin", Pattern(7));
  ::chmod((dir / "kept.bin").c_str(), 0444);
  ReplacementFile kept(dir / "kept.bin");
  EXPECT_EQ(kept.Valid(), ::access((dir / "kept.bin").c_str(), W_OK) == 0);
  EXPECT_EQ(Entries(dir), kept.Valid() ? 3u : 2u);
}

}  // namespace
}  // namespace tarvix
