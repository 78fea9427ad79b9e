// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/file_division.h"

#include <gtest/gtest.h>

#include "buffer/tools_test_support.h"

namespace tarvix {
namespace {

using testing::BoxHost;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::Slice;
using testing::WriteBytes;
using Spans = std::vector<DivisionSpan>;

TEST(FileDivisionPlan, CutsAtEachNodeAndKeepsTheRestAsTheLastPiece) {
  EXPECT_EQ(PlanDivision("1024,2048", 4096), (Spans{{0, 1024}, {1024, 1024}, {2048, 2048}}));
  // A trailing comma adds no node.
  EXPECT_EQ(PlanDivision("1024,", 4096), (Spans{{0, 1024}, {1024, 3072}}));
  // A node past the end cuts nothing; one at the end leaves an empty last piece.
  EXPECT_EQ(PlanDivision("8192", 4096), (Spans{{0, 4096}}));
  EXPECT_EQ(PlanDivision("4096", 4096), (Spans{{0, 4096}, {4096, 0}}));
  // The first node past the end stops the reading: 2048 after it is not used.
  EXPECT_EQ(PlanDivision("1024,5000,2048", 4096), (Spans{{0, 1024}, {1024, 3072}}));
  // Too large for 64 bits still counts as past the end.
  EXPECT_EQ(PlanDivision("99999999999999999999999", 10), (Spans{{0, 10}}));
}

TEST(FileDivisionPlan, NodesThatDoNotIncreaseAreIgnored) {
  // The later node is read on its own, not glued to the ignored one's digits.
  EXPECT_EQ(PlanDivision("2048,1024,3000", 4096), (Spans{{0, 2048}, {2048, 952}, {3000, 1096}}));
  EXPECT_EQ(PlanDivision("0,1024,1024,,2048", 4096),
            (Spans{{0, 1024}, {1024, 1024}, {2048, 2048}}));
  EXPECT_EQ(PlanDivision("5", 0), (Spans{{0, 0}}));
}

TEST(FileDivisionNodes, FullWidthCommasBecomeAsciiAndOnlyDigitsAndCommasPass) {
  EXPECT_EQ(NormaliseDivisionNodes("1024\xEF\xBC\x8C"
                                   "2048"),
            "1024,2048");
  EXPECT_TRUE(ValidDivisionNodes("1024,2048"));
  EXPECT_TRUE(ValidDivisionNodes("1024,"));
  EXPECT_FALSE(ValidDivisionNodes(",1024"));
  EXPECT_FALSE(ValidDivisionNodes("10a4"));
  EXPECT_FALSE(ValidDivisionNodes("1024, 2048"));
  EXPECT_FALSE(ValidDivisionNodes("-1"));
  EXPECT_FALSE(ValidDivisionNodes(""));
}

TEST(FileDivisionNames, RangeGoesBeforeTheExtensionOfTheFileName) {
  EXPECT_EQ(DivisionPieceName("/d/a.bin", {0, 1024}), "/d/a_0-1023.bin");
  EXPECT_EQ(DivisionPieceName("/d/a.bin", {1024, 3072}), "/d/a_1024-4095.bin");
  EXPECT_EQ(DivisionPieceName("/d/a.bin", {4096, 0}), "/d/a_4096-4095.bin");
  EXPECT_EQ(DivisionPieceName("a.tar.gz", {0, 2}), "a.tar_0-1.gz");
  // No extension: the range ends the name; a dot in a folder name is not used.
  EXPECT_EQ(DivisionPieceName("/d/firmware", {0, 16}), "/d/firmware_0-15");
  EXPECT_EQ(DivisionPieceName("/d/v1.2/image", {16, 16}), "/d/v1.2/image_16-31");
  EXPECT_EQ(DivisionPieceName("/d/.hidden", {0, 1}), "/d/.hidden_0-0");
  // Beyond 32 bits the numbers stay exact.
  EXPECT_EQ(DivisionPieceName("x.bin", {0, 5000000000ull}), "x_0-4999999999.bin");
}

TEST(FileDivision, DividesAFileWithAwkwardNameIntoExactPieces) {
  ScratchDir dir("divide");
  const auto source = dir / "bild ü.bin";
  const auto bytes = Pattern(4096);
  WriteBytes(source, bytes);
  BoxHost host;
  const DivisionResult r = DivideFile(source,
                                      "1024\xEF\xBC\x8C"
                                      "2048",
                                      host);
  ASSERT_EQ(r.outcome, DivisionOutcome::kSucceeded);
  EXPECT_EQ(r.nodes_text, "1024,2048");
  ASSERT_EQ(r.pieces.size(), 3u);
  EXPECT_EQ(r.pieces[0], dir / "bild ü_0-1023.bin");
  EXPECT_EQ(ReadBytes(dir / "bild ü_0-1023.bin"), Slice(bytes, 0, 1024));
  EXPECT_EQ(ReadBytes(dir / "bild ü_1024-2047.bin"), Slice(bytes, 1024, 1024));
  EXPECT_EQ(ReadBytes(dir / "bild ü_2048-4095.bin"), Slice(bytes, 2048, 2048));
  EXPECT_EQ(ReadBytes(source), bytes);
  const auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "file divide succeed!  ");
  EXPECT_EQ(boxes[0].title, "succeed");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kInformation);
}

TEST(FileDivision, PiecesLargerThanTheCopyBufferAreExact) {
  ScratchDir dir("divide big");
  const auto source = dir / "big.rom";
  const auto bytes = Pattern(3 * 1048576 + 5, 7);
  WriteBytes(source, bytes);
  BoxHost host;
  const DivisionResult r = DivideFile(source, "1048577", host);
  ASSERT_EQ(r.outcome, DivisionOutcome::kSucceeded);
  EXPECT_EQ(ReadBytes(dir / "big_0-1048576.rom"), Slice(bytes, 0, 1048577));
  EXPECT_EQ(ReadBytes(dir / "big_1048577-3145732.rom"),
            Slice(bytes, 1048577, bytes.size() - 1048577));
}

TEST(FileDivision, NodeAtTheEndGivesAnEmptyPieceAndEmptySourceOneEmptyPiece) {
  ScratchDir dir("divide end");
  const auto source = dir / "a.bin";
  WriteBytes(source, Pattern(4096));
  BoxHost host;
  ASSERT_EQ(DivideFile(source, "4096", host).outcome, DivisionOutcome::kSucceeded);
  EXPECT_EQ(ReadBytes(dir / "a_0-4095.bin").size(), 4096u);
  ASSERT_TRUE(std::filesystem::exists(dir / "a_4096-4095.bin"));
  EXPECT_EQ(std::filesystem::file_size(dir / "a_4096-4095.bin"), 0u);

  const auto empty = dir / "empty.bin";
  WriteBytes(empty, {});
  const DivisionResult r = DivideFile(empty, "1024", host);
  EXPECT_EQ(r.outcome, DivisionOutcome::kSucceeded);
  ASSERT_EQ(r.pieces.size(), 1u);
  EXPECT_EQ(r.pieces[0], dir / "empty_0--1.bin");
  EXPECT_EQ(std::filesystem::file_size(r.pieces[0]), 0u);
}

TEST(FileDivision, RefusedInputShowsItsBoxAndWritesNothing) {
  ScratchDir dir("divide refuse");
  const auto source = dir / "a.bin";
  WriteBytes(source, Pattern(100));
  BoxHost host;
  EXPECT_EQ(DivideFile("", "10", host).outcome, DivisionOutcome::kNoFile);
  EXPECT_TRUE(host.Boxes().empty());
  EXPECT_EQ(DivideFile(source, "", host).outcome, DivisionOutcome::kNoNodes);
  const DivisionResult bad = DivideFile(source,
                                        "\xEF\xBC\x8C"
                                        "10",
                                        host);
  EXPECT_EQ(bad.outcome, DivisionOutcome::kBadNodes);
  EXPECT_EQ(bad.nodes_text, ",10");  // the box shows the replaced comma even so
  EXPECT_EQ(DivideFile(source, "1O", host).outcome, DivisionOutcome::kBadNodes);
  EXPECT_EQ(host.BoxTexts(), (std::vector<std::string>{"please input division nodes   ",
                                                       "input division nodes error  ",
                                                       "input division nodes error  "}));
  EXPECT_EQ(host.Boxes()[0].title, "info");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FileDivision, MissingOrUnreadableSourceIsReported) {
  ScratchDir dir("divide missing");
  BoxHost host;
  EXPECT_EQ(DivideFile(dir / "gone.bin", "10", host).outcome, DivisionOutcome::kSourceFailed);
  std::filesystem::create_directory(dir / "folder.bin");
  EXPECT_EQ(DivideFile(dir / "folder.bin", "10", host).outcome, DivisionOutcome::kSourceFailed);
  EXPECT_EQ(host.BoxTexts(),
            (std::vector<std::string>{"file divide failed!   ", "file divide failed!   "}));
}

TEST(FileDivision, PieceThatCannotBeCreatedStopsAndKeepsEarlierPieces) {
  ScratchDir dir("divide blocked");
  const auto source = dir / "a.bin";
  const auto bytes = Pattern(4096);
  WriteBytes(source, bytes);
  std::filesystem::create_directory(dir / "a_1024-2047.bin");
  BoxHost host;
  const DivisionResult r = DivideFile(source, "1024,2048", host);
  EXPECT_EQ(r.outcome, DivisionOutcome::kPieceFailed);
  EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{"file create failed   "});
  ASSERT_EQ(r.pieces.size(), 1u);
  EXPECT_EQ(ReadBytes(r.pieces[0]), Slice(bytes, 0, 1024));
  EXPECT_FALSE(std::filesystem::exists(dir / "a_2048-4095.bin"));
}

TEST(FileDivision, APieceThatCannotBeWrittenWholeLeavesTheOldFileOfThatName) {
  ScratchDir dir("divide keep");
  const auto source = dir / "a.bin";
  const auto bytes = Pattern(300000);
  WriteBytes(source, bytes);
  const auto old_piece = Pattern(777, 5);
  WriteBytes(dir / "a_1000-299999.bin", old_piece);
  BoxHost host;
  DivisionResult r;
  {
    testing::FileSizeLimit limit(200000);
    r = DivideFile(source, "1000", host);
  }
  EXPECT_EQ(r.outcome, DivisionOutcome::kPieceFailed);
  ASSERT_EQ(r.pieces.size(), 1u);
  EXPECT_EQ(ReadBytes(r.pieces[0]), Slice(bytes, 0, 1000));
  EXPECT_EQ(ReadBytes(dir / "a_1000-299999.bin"), old_piece);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

TEST(FileDivision, PieceNameLinkedToTheSourceNeverTruncatesIt) {
  ScratchDir dir("divide link");
  const auto source = dir / "a.bin";
  const auto bytes = Pattern(4096);
  WriteBytes(source, bytes);
  std::filesystem::create_symlink(source, dir / "a_0-1023.bin");
  BoxHost host;
  EXPECT_EQ(DivideFile(source, "1024", host).outcome, DivisionOutcome::kPieceFailed);
  EXPECT_EQ(ReadBytes(source), bytes);
}

}  // namespace
}  // namespace tarvix
