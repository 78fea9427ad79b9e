// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/image_buffer.h"

#include <sys/stat.h>

#include "buffer/buffer_fixture.h"
#include "buffer/byte_sum.h"

namespace tarvix::testing_buffer {
namespace {

TEST(ImageBufferFormat, SumsShowTenDigitsWithBlanksAsZeros) {
  EXPECT_EQ(FormatSum(0), "0000000000");
  EXPECT_EQ(FormatSum(0x12345), "0000012345");
  EXPECT_EQ(FormatSum(0xFFull * 256), "000000FF00");
  // The high 32 bits take two digits, the low eight.
  EXPECT_EQ(FormatSum(0x1200000034ull), "1200000034");
  EXPECT_EQ(FormatSum(0xAB00000000ull), "AB00000000");
  EXPECT_EQ(SizeText(0), "0.00KB");
  EXPECT_EQ(SizeText(1536), "1.50KB");
  EXPECT_EQ(SizeText(100), "0.10KB");
}

TEST(ImageBufferFormat, ByteSumMatchesPlainLoopAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(255 - i % 7);
  for (std::size_t start : {0u, 1u, 3u}) {
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 1023u, 1024u, 1025u, 2990u}) {
      std::uint64_t expect = 0;
      for (std::size_t i = 0; i < n; ++i) expect += data[start + i];
      EXPECT_EQ(ByteSum(data.data() + start, n), expect) << start << "+" << n;
    }
  }
  std::vector<std::uint8_t> ff(1 << 20, 0xFF);
  EXPECT_EQ(ByteSum(ff.data(), ff.size()), 255ull << 20);
}

using ImageBufferTest = BufferTest;

TEST_F(ImageBufferTest, NothingLoadedShowsZeroLabelsAndNoRows) {
  EXPECT_FALSE(buffer_->Loaded());
  EXPECT_EQ(buffer_->FileSumText(), "0000000000");
  EXPECT_EQ(buffer_->ChipSumText(), "0000000000");
  EXPECT_EQ(buffer_->SizeLabel(), "0");
  EXPECT_EQ(buffer_->ChipRows(), 16u);
  EXPECT_EQ(buffer_->ScrollRows(), 16u);
  std::uint8_t byte = 0;
  EXPECT_EQ(buffer_->ReadWorking(0, {&byte, 1}), -1);
  EXPECT_EQ(buffer_->WriteByte(0, 1), ImageBuffer::Status::kNotLoaded);
}

TEST_F(ImageBufferTest, EmptyFileHasNoRowsAndChipSumOfBlanks) {
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("empty.bin", {})), ImageBuffer::Status::kOk);
  EXPECT_TRUE(buffer_->Loaded());
  EXPECT_EQ(buffer_->Size(), 0u);
  EXPECT_EQ(buffer_->RowCount(), 0u);
  EXPECT_EQ(buffer_->FileSum(), 0u);
  EXPECT_EQ(buffer_->ChipSum(), 256u * 255);
  EXPECT_EQ(buffer_->ScrollRows(), 16u);
  EXPECT_TRUE(fs::exists(state_.paths.working_copy));
  EXPECT_EQ(fs::file_size(state_.paths.working_copy), 0u);
}

TEST_F(ImageBufferTest, OneByteOverARowMultipleAddsARow) {
  auto bytes = Counting(33);
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", bytes)), ImageBuffer::Status::kOk);
  EXPECT_EQ(buffer_->RowCount(), 3u);
  EXPECT_EQ(buffer_->FileSum(), Sum(bytes));
  EXPECT_EQ(buffer_->ChipSum(), Sum(bytes) + (256 - 33) * 255u);
  EXPECT_EQ(buffer_->SizeLabel(), "0.03KB");
  EXPECT_EQ(ReadFile(state_.paths.working_copy), bytes);
}

TEST_F(ImageBufferTest, ChipSumCoversOnlyTheFirstCapacityBytes) {
  auto bytes = Counting(1024, 7);
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", bytes)), ImageBuffer::Status::kOk);
  std::vector<std::uint8_t> first(bytes.begin(), bytes.begin() + 256);
  EXPECT_EQ(buffer_->ChipSum(), Sum(first));
  EXPECT_EQ(buffer_->FileSum(), Sum(bytes));
  EXPECT_EQ(buffer_->RowCount(), 64u);
  EXPECT_EQ(buffer_->ScrollRows(), 64u);

  // A bigger chip: padding instead of a cut; a smaller one: a shorter prefix.
  SetCapacity(4096);
  EXPECT_EQ(buffer_->ChipSum(), Sum(bytes) + (4096 - 1024) * 255u);
  EXPECT_EQ(buffer_->ScrollRows(), 256u);
  SetCapacity(16);
  EXPECT_EQ(buffer_->ChipSum(), Sum({bytes.begin(), bytes.begin() + 16}));
  SetCapacity(1024);
  EXPECT_EQ(buffer_->ChipSum(), buffer_->FileSum());
}

TEST_F(ImageBufferTest, EditsKeepBothSumsEqualToARescan) {
  auto bytes = Counting(300);
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", bytes)), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(10, 0xEE), ImageBuffer::Status::kOk);   // inside the chip
  ASSERT_EQ(buffer_->WriteByte(290, 0x00), ImageBuffer::Status::kOk);  // past the chip
  ASSERT_EQ(buffer_->Fill(250, 20, 0x11), ImageBuffer::Status::kOk);   // across its end
  // Past the end: the gap becomes 0xFF and counts in both sums as far as it is inside.
  ASSERT_EQ(buffer_->WriteByte(400, 0x42), ImageBuffer::Status::kOk);

  auto now = ReadFile(state_.paths.working_copy);
  ASSERT_EQ(now.size(), 401u);
  EXPECT_EQ(buffer_->Size(), 401u);
  EXPECT_EQ(now[10], 0xEE);
  EXPECT_EQ(now[299], 299 % 256);
  for (std::size_t i = 300; i < 400; ++i) ASSERT_EQ(now[i], 0xFF) << i;
  EXPECT_EQ(now[400], 0x42);
  EXPECT_EQ(buffer_->FileSum(), Sum(now));
  EXPECT_EQ(buffer_->ChipSum(), Sum({now.begin(), now.begin() + 256}));
  EXPECT_EQ(buffer_->RowCount(), 26u);

  // Capacity past the image: the same counters, no rescan needed.
  SetCapacity(1024);
  EXPECT_EQ(buffer_->ChipSum(), Sum(now) + (1024 - 401) * 255u);
  ASSERT_EQ(buffer_->WriteByte(1000, 0x00), ImageBuffer::Status::kOk);
  now = ReadFile(state_.paths.working_copy);
  EXPECT_EQ(buffer_->ChipSum(), Sum(now) + 23 * 255u);
}

TEST_F(ImageBufferTest, ZeroChunksAreCopiedAsHolesAndReadBackAsZeros) {
  std::vector<std::uint8_t> bytes((5u << 20) / 2, 0);  // 2.5 MiB, ends in a zero chunk
  bytes[(1u << 20) + 5] = 0x77;
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("zeros.bin", bytes)), ImageBuffer::Status::kOk);
  EXPECT_EQ(buffer_->Size(), bytes.size());
  EXPECT_EQ(buffer_->FileSum(), 0x77u);
  EXPECT_EQ(ReadFile(state_.paths.working_copy), bytes);
  struct stat st {};
  ASSERT_EQ(::stat(state_.paths.working_copy.c_str(), &st), 0);
  EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, bytes.size());
}

TEST_F(ImageBufferTest, ExtendToAndChipSizedReadUseBlankBytes) {
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", {1, 2, 3})), ImageBuffer::Status::kOk);
  std::vector<std::uint8_t> out(8, 0);
  ASSERT_TRUE(buffer_->ReadChipSized(1, out));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{2, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(buffer_->ExtendTo(6), ImageBuffer::Status::kOk);
  EXPECT_EQ(ReadFile(state_.paths.working_copy),
            (std::vector<std::uint8_t>{1, 2, 3, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(buffer_->FileSum(), 6u + 3 * 255);
  ASSERT_EQ(buffer_->ExtendTo(2), ImageBuffer::Status::kOk);  // never shrinks
  EXPECT_EQ(buffer_->Size(), 6u);
}

TEST_F(ImageBufferTest, ChangedRangesMergeAndClearOnSave) {
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", Counting(100))), ImageBuffer::Status::kOk);
  EXPECT_TRUE(buffer_->ChangedRanges().empty());
  ASSERT_EQ(buffer_->WriteByte(10, 0), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(12, 0), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(11, 0), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->Fill(50, 5, 0), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(120, 0), ImageBuffer::Status::kOk);  // gap 100..119 too
  std::map<std::uint64_t, std::uint64_t> expect{{10, 13}, {50, 55}, {100, 121}};
  EXPECT_EQ(buffer_->ChangedRanges(), expect);
  buffer_->MarkSaved();
  EXPECT_TRUE(buffer_->ChangedRanges().empty());
}

TEST_F(ImageBufferTest, SourceThatCannotBeOpenedLeavesThePreviousImageLoaded) {
  auto first = Counting(40);
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("first.bin", first)), ImageBuffer::Status::kOk);
  ASSERT_EQ(buffer_->WriteByte(0, 0x99), ImageBuffer::Status::kOk);

  EXPECT_EQ(buffer_->LoadFrom(base_ / "missing.bin"), ImageBuffer::Status::kSourceOpenFailed);
  fs::create_directory(base_ / "folder.bin");
  EXPECT_EQ(buffer_->LoadFrom(base_ / "folder.bin"), ImageBuffer::Status::kSourceOpenFailed);
  ASSERT_EQ(::mkfifo((base_ / "pipe.bin").c_str(), 0600), 0);
  EXPECT_EQ(buffer_->LoadFrom(base_ / "pipe.bin"), ImageBuffer::Status::kSourceOpenFailed);

  EXPECT_TRUE(buffer_->Loaded());
  EXPECT_EQ(buffer_->CurrentPath(), base_ / "first.bin");
  auto working = ReadFile(state_.paths.working_copy);
  EXPECT_EQ(working[0], 0x99);
  EXPECT_EQ(buffer_->Size(), 40u);
}

TEST_F(ImageBufferTest, WorkingCopyThatCannotBeCreatedKeepsThePreviousImage) {
  auto first = Counting(40);
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("first.bin", first)), ImageBuffer::Status::kOk);
  // A fresh buffer whose working copy path is taken by a folder.
  MainState other;
  other.paths = Paths::FromBase(base_ / "blocked");
  fs::create_directories(other.paths.working_copy);
  ImageBuffer blocked(other);
  EXPECT_EQ(blocked.LoadFrom(base_ / "first.bin"), ImageBuffer::Status::kWorkingOpenFailed);
  EXPECT_FALSE(blocked.Loaded());
  EXPECT_TRUE(buffer_->Loaded());
}

TEST_F(ImageBufferTest, SystemFilesAreRecognisedInAnySpelling) {
  EXPECT_TRUE(buffer_->IsSystemFile(state_.paths.working_copy));
  EXPECT_TRUE(buffer_->IsSystemFile(base_ / "temp" / ".." / "k_est0.dll"));
  EXPECT_FALSE(buffer_->IsSystemFile(base_ / "k_est2.dll"));
  fs::create_symlink(state_.paths.working_copy, base_ / "link.bin");
  WriteFile(state_.paths.working_copy, {});
  EXPECT_TRUE(buffer_->IsSystemFile(base_ / "link.bin"));
}

TEST_F(ImageBufferTest, SourceChangesOnDiskAreNoticed) {
  auto path = MakeFile("a.bin", Counting(64));
  ASSERT_EQ(buffer_->LoadFrom(path), ImageBuffer::Status::kOk);
  EXPECT_FALSE(buffer_->SourceChangedOnDisk());
  WriteFile(path, Counting(65));
  EXPECT_TRUE(buffer_->SourceChangedOnDisk());
  buffer_->MarkSaved();
  EXPECT_FALSE(buffer_->SourceChangedOnDisk());
  fs::remove(path);
  EXPECT_TRUE(buffer_->SourceChangedOnDisk());
}

TEST_F(ImageBufferTest, ListenersHearEveryKindOfChange) {
  std::vector<ImageBuffer::Change> heard;
  buffer_->AddListener([&](ImageBuffer::Change c) { heard.push_back(c); });
  ASSERT_EQ(buffer_->LoadFrom(MakeFile("a.bin", Counting(8))), ImageBuffer::Status::kOk);
  auto has = [&](ImageBuffer::Change c) {
    return std::find(heard.begin(), heard.end(), c) != heard.end();
  };
  EXPECT_TRUE(has(ImageBuffer::Change::kImage));
  heard.clear();
  ASSERT_EQ(buffer_->WriteByte(3, 9), ImageBuffer::Status::kOk);
  EXPECT_TRUE(has(ImageBuffer::Change::kContents));
  EXPECT_TRUE(has(ImageBuffer::Change::kFileSum));
  EXPECT_TRUE(has(ImageBuffer::Change::kChipSum));
  heard.clear();
  SetCapacity(512);
  EXPECT_TRUE(has(ImageBuffer::Change::kRows));
}

}  // namespace
}  // namespace tarvix::testing_buffer
