// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/memory_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvix {
namespace {

struct Messages {
  std::vector<std::string> seen;
  MemoryBlock::Reporter reporter() {
    return [this](std::string_view m) { seen.emplace_back(m); };
  }
};

TEST(MemoryBlock, AccessBeforeCreateReportsNotCreated) {
  Messages m;
  MemoryBlock block(m.reporter());
  EXPECT_EQ(block.SetByte(0, 1), 0);
  EXPECT_EQ(block.GetByte(0), 0);
  EXPECT_EQ(block.Data(), nullptr);
  EXPECT_EQ(block.Size(), 0u);
  ASSERT_EQ(m.seen.size(), 4u);
  for (const auto& s : m.seen) EXPECT_EQ(s, MemoryBlock::kNotCreatedMessage);
}

TEST(MemoryBlock, BoundsAtSizeDifferForGetAndSet) {
  Messages m;
  MemoryBlock block(m.reporter());
  ASSERT_NE(block.Create(4), nullptr);
  EXPECT_EQ(block.SetByte(3, 0x42), 1);
  EXPECT_EQ(block.GetByte(3), 0x42);
  EXPECT_TRUE(m.seen.empty());
  // Reading at size reports "not created"; writing there reports the range.
  EXPECT_EQ(block.GetByte(4), 0);
  EXPECT_EQ(block.SetByte(4, 1), 0);
  ASSERT_EQ(m.seen.size(), 2u);
  EXPECT_EQ(m.seen[0], MemoryBlock::kNotCreatedMessage);
  EXPECT_EQ(m.seen[1], MemoryBlock::kRangeMessage);
}

TEST(MemoryBlock, ReleaseTwiceFreesOnceAndLeavesBlockUnusable) {
  Messages m;
  MemoryBlock block(m.reporter());
  ASSERT_NE(block.Create(8), nullptr);
  block.Release();
  block.Release();
  EXPECT_FALSE(block.Created());
  EXPECT_EQ(block.GetByte(0), 0);
  EXPECT_EQ(m.seen.size(), 1u);
}

}  // namespace
}  // namespace tarvix
