// SPDX-License-Identifier: GPL-3.0-or-later
// The difference list against a byte-by-byte reference on random differences, fed in
// blocks of odd sizes so that ranges run across block ends; the capped list keeps the
// first ranges and counts the rest, the file keeps all of them.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "production/diff_list.h"

namespace tarvix {
namespace {

// Every range, found one byte at a time.
std::vector<DiffRange> Reference(const std::vector<std::uint8_t>& file,
                                 const std::vector<std::uint8_t>& chip) {
  std::vector<DiffRange> ranges;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == chip[i]) continue;
    if (ranges.empty() || ranges.back().address + ranges.back().length != i) {
      ranges.emplace_back();
      ranges.back().address = i;
    }
    DiffRange& r = ranges.back();
    if (r.length < kDiffBytesKept) {
      r.file[r.length] = file[i];
      r.chip[r.length] = chip[i];
    }
    ++r.length;
  }
  return ranges;
}

TEST(DiffListTest, EveryRangeWithItsBytesAcrossBlockEnds) {
  std::mt19937 gen(11);
  std::vector<std::uint8_t> file(200'000);
  for (auto& b : file) b = static_cast<std::uint8_t>(gen());
  std::vector<std::uint8_t> chip = file;
  // Runs of differences of all lengths, some touching the blocks' ends, one long one.
  for (int run = 0; run < 400; ++run) {
    const std::size_t at = gen() % file.size();
    const std::size_t length = 1 + gen() % 40;
    for (std::size_t i = at; i < std::min(file.size(), at + length); ++i) chip[i] = ~file[i];
  }
  for (std::size_t i = 150'000; i < 170'000; ++i) chip[i] = ~file[i];
  chip.back() = ~file.back();
  const std::vector<DiffRange> expected = Reference(file, chip);

  DiffList capped(10);
  DiffFile all;
  DiffFile few(5);
  ASSERT_TRUE(all.Valid());
  DiffCollector to_list(capped);
  DiffCollector to_file(all);
  DiffCollector to_few(few);
  for (std::size_t at = 0, block = 1; at < file.size(); block = block * 7 % 8191 + 1) {
    const std::size_t n = std::min(block, file.size() - at);
    to_list.Compare(at, file.data() + at, chip.data() + at, n);
    to_file.Compare(at, file.data() + at, chip.data() + at, n);
    to_few.Compare(at, file.data() + at, chip.data() + at, n);
    at += n;
  }
  to_list.Finish();
  to_file.Finish();
  to_few.Finish();

  ASSERT_EQ(all.Count(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(*all.At(i), expected[i]) << DiffRangeText(*all.At(i)) << " / " << i;
  EXPECT_EQ(std::vector<DiffRange>(expected.begin(), expected.begin() + 10), capped.Ranges());
  EXPECT_EQ(capped.MoreRanges(), expected.size() - 10);
  EXPECT_EQ(few.Count(), 5u);
  EXPECT_EQ(few.MoreRanges(), expected.size() - 5);
  EXPECT_EQ(*few.At(4), expected[4]);
  std::uint64_t differing = 0;
  for (const DiffRange& r : expected) differing += r.length;
  EXPECT_EQ(to_list.DifferingBytes(), differing);
  EXPECT_EQ(
      capped.MoreBytes(), differing - [&] {
        std::uint64_t kept = 0;
        for (std::size_t i = 0; i < 10; ++i) kept += expected[i].length;
        return kept;
      }());
  // Jumping to an address: the range holding it, or the next one.
  const std::uint64_t index = all.FirstAtOrAfter(160'000);
  EXPECT_LE(all.At(index)->address, 160'000u);
  EXPECT_GT(all.At(index)->address + all.At(index)->length, 160'000u);
  EXPECT_EQ(all.FirstAtOrAfter(file.size()), all.Count());
  EXPECT_EQ(DiffRangeText(*all.At(index)).substr(0, 9), [&] {
    char head[16];
    std::snprintf(head, sizeof head, "%08llXH",
                  static_cast<unsigned long long>(all.At(index)->address));
    return std::string(head);
  }());
}

}  // namespace
}  // namespace tarvix
