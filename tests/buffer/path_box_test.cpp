// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/path_box.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// A path of `length` characters under /home/user/images/.
std::string PathOfLength(std::size_t length) {
  std::string head = "/home/user/images/";
  return head + std::string(length - head.size() - 4, 'f') + ".bin";
}

TEST(PathBox, FiftyThreeCharactersShowWholeFiftyFourAreShortened) {
  const std::string p53 = PathOfLength(53);
  ASSERT_EQ(p53.size(), 53u);
  EXPECT_EQ(ShortenPathForBox(p53), p53);

  const std::string p54 = PathOfLength(54);
  ASSERT_EQ(p54.size(), 54u);
  // The first folder goes with its "/"; the root "/" stays and the cut is marked.
  EXPECT_EQ(ShortenPathForBox(p54), "/.../user/images/" + p54.substr(18));
}

TEST(PathBox, LongPathsKeepTheRootAndTheirLastFolders) {
  const std::string name(30, 'n');
  const std::string path = "/aaaa/bbbb/cccc/dddd/eeee/ffff/" + name + ".rom";
  EXPECT_EQ(ShortenPathForBox(path), "/.../dddd/eeee/ffff/" + name + ".rom");
  // A file name longer than the box keeps whole, with nothing left to cut.
  const std::string huge = "/d/" + std::string(70, 'x');
  EXPECT_EQ(ShortenPathForBox(huge), "/.../" + std::string(70, 'x'));
  // Relative paths have no root to keep.
  const std::string relative = "one/two/three/" + std::string(45, 'r');
  EXPECT_EQ(ShortenPathForBox(relative), ".../three/" + std::string(45, 'r'));
  EXPECT_EQ(ShortenPathForBox("short.bin"), "short.bin");
  // Length counts characters: 53 of them in more bytes stay whole.
  std::string wide = "/数据/" + std::string(45, 'w') + ".bin";
  ASSERT_GT(wide.size(), 53u);
  EXPECT_EQ(ShortenPathForBox(wide), wide);
  EXPECT_EQ(ShortenPathForBox(wide + "x"), "/.../" + std::string(45, 'w') + ".binx");
}

}  // namespace
}  // namespace tarvix
