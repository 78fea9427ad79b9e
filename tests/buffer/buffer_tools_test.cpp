// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/buffer_tools.h"

#include <gtest/gtest.h>

#include <numeric>

#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/tools_test_support.h"

namespace tarvix {
namespace {

using testing::BoxHost;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::WriteBytes;

struct BufferToolsFixture : ::testing::Test {
  ScratchDir dir{"tools"};
  MainState state;
  BoxHost host;
  std::unique_ptr<ImageBuffer> buffer;
  std::unique_ptr<HexPage> page;

  BufferToolsFixture() {
    state.paths = Paths::FromBase(dir.path());
    buffer = std::make_unique<ImageBuffer>(state);
    page = std::make_unique<HexPage>(*buffer, state, host);
  }
  void Load(const std::vector<std::uint8_t>& bytes) {
    WriteBytes(dir / "bild ü.bin", bytes);
    ASSERT_EQ(buffer->LoadFrom(dir / "bild ü.bin"), ImageBuffer::Status::kOk);
    page->Refresh();
  }
  std::vector<std::uint8_t> Working() const { return ReadBytes(state.paths.working_copy); }
  static std::uint64_t Sum(const std::vector<std::uint8_t>& v) {
    return std::accumulate(v.begin(), v.end(), std::uint64_t{0});
  }
};

TEST(GoToAddressRows, LastPageIsAlwaysFullAndAVisibleByteDoesNotScroll) {
  // 100 rows, address 0x630 (row 99): rows 80 to 99, not 99 onward.
  EXPECT_EQ(TopRowShowing(0x630, 0, 100), 80u);
  EXPECT_EQ(TopRowShowing(0x300, 0, 100), 48u);
  EXPECT_EQ(TopRowShowing(0x13F, 0, 100), 0u);  // last byte of the first page
  EXPECT_EQ(TopRowShowing(0x140, 0, 100), 20u);
  EXPECT_EQ(TopRowShowing(0x2F, 2, 100), 2u);
  EXPECT_EQ(TopRowShowing(0x1F, 2, 100), 1u);
  // A one-page image scrolled down by a larger chip comes back to its start.
  EXPECT_EQ(TopRowShowing(0x10, 10, 5), 0u);
}

TEST_F(BufferToolsFixture, GoToAddressScrollsFocusesAndOpensTheEditBoxInEditMode) {
  Load(Pattern(1600));
  ASSERT_TRUE(GoToAddress(*buffer, *page, host, 0x630));
  EXPECT_EQ(buffer->TopRow(), 80u);
  EXPECT_EQ(page->FocusCell(), (GridCell{20, 1}));
  EXPECT_TRUE(page->FollowFocus());
  EXPECT_FALSE(page->EditBoxOpen());

  page->ToggleModeFromCheckBox();
  ASSERT_TRUE(page->EditMode());
  ASSERT_TRUE(GoToAddress(*buffer, *page, host, 0x25));
  EXPECT_EQ(buffer->TopRow(), 2u);
  EXPECT_EQ(page->FocusCell(), (GridCell{1, 6}));
  ASSERT_TRUE(page->EditBoxOpen());
  EXPECT_EQ(page->Box().cell, (GridCell{1, 6}));
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02X", Pattern(1600)[0x25]);
  EXPECT_EQ(page->Box().text, expected);
  EXPECT_EQ(page->Box().selection_start, 0);
  EXPECT_EQ(page->Box().selection_end, 2);
}

TEST_F(BufferToolsFixture, GoToAddressPastTheEndReportsAndKeepsTheView) {
  Load(Pattern(100));
  EXPECT_FALSE(GoToAddress(*buffer, *page, host, 100));
  const auto statuses = host.Statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().text, "address is out of range!");
  EXPECT_TRUE(statuses.back().red);
  const auto boxes = host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "address is out of range!");
  EXPECT_EQ(boxes[0].title, "info");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kWarning);
  EXPECT_TRUE(page->FocusCell().IsNone());
}

TEST(BufferToolBoxes, KeystrokesThatAreNoDigitAreTakenBack) {
  BoxHost host;
  KeystrokeResult r = CheckKeystroke("1G2", 2, BoxCheck::kHex, host);
  EXPECT_EQ(r.text, "12");
  EXPECT_EQ(r.caret, 1u);
  EXPECT_EQ(r.message, "please input hex data!   ");
  EXPECT_EQ(CheckKeystroke("Z", 1, BoxCheck::kMoveToHex, host).message,
            "please input hex data!    ");
  r = CheckKeystroke("12A", 3, BoxCheck::kDecimal, host);
  EXPECT_EQ(r.text, "12");
  EXPECT_EQ(r.message, "please input hex data!    ");
  EXPECT_TRUE(CheckKeystroke("1F", 2, BoxCheck::kHex, host).message.empty());
  EXPECT_TRUE(CheckKeystroke("G", 0, BoxCheck::kHex, host).message.empty());
  // A letter of two UTF-8 bytes leaves no half of itself behind.
  r = CheckKeystroke(
      "1\xC3\xBC"
      "2",
      3, BoxCheck::kHex, host);
  EXPECT_EQ(r.text, "12");
  EXPECT_EQ(r.caret, 1u);
  EXPECT_EQ(host.Boxes().size(), 4u);

  EXPECT_EQ(ParseHexBox("FFFFFFFF", kAddressDigits), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHexBox("1a", kAddressDigits), 0x1Au);
  EXPECT_FALSE(ParseHexBox("100000000", kAddressDigits));
  EXPECT_FALSE(ParseHexBox("", kAddressDigits));
  EXPECT_EQ(ParseDecimalBox("9999999999", kLengthDigits), 9999999999u);
  EXPECT_FALSE(ParseDecimalBox("1 2", kLengthDigits));
  // A box wide enough for more than 64 bits refuses such a number instead of wrapping
  // round (found by fuzz/box_numbers).
  EXPECT_EQ(ParseHexBox("FFFFFFFFFFFFFFFF", 20), UINT64_MAX);
  EXPECT_FALSE(ParseHexBox("10000000000000000", 20));
  EXPECT_EQ(ParseDecimalBox("18446744073709551615", 20), UINT64_MAX);
  EXPECT_FALSE(ParseDecimalBox("18446744073709551616", 20));
}

TEST(BufferToolBoxes, FillRequestIsCheckedInTheDialogsOrder) {
  EXPECT_EQ(ValidateFillRequest("", "", ""), "please input fill address!   ");
  EXPECT_EQ(ValidateFillRequest("0", "", ""), "please input fill length!   ");
  EXPECT_EQ(ValidateFillRequest("0", "1", ""), "please input fill data!   ");
  EXPECT_EQ(ValidateFillRequest("0", "1", "G"), "please input hex data!   ");
  EXPECT_EQ(ValidateFillRequest("0", "x", "55"), "please input hex data!    ");
  EXPECT_EQ(ValidateFillRequest("0", "1", "55"), "");
}

TEST_F(BufferToolsFixture, FillPastTheEndPadsTheGapWithBlankBytes) {
  const auto image = Pattern(16);
  Load(image);
  page->ToggleModeFromCheckBox();
  FileFill fill(*buffer, *page, host, "tarvix");
  fill.SetAddressText("20");
  fill.SetLengthText("3");
  fill.SetDataText("55");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  std::vector<std::uint8_t> expected = image;
  expected.resize(0x20, 0xFF);
  expected.insert(expected.end(), 3, 0x55);
  EXPECT_EQ(Working(), expected);
  EXPECT_EQ(buffer->Size(), 0x23u);
  EXPECT_EQ(buffer->FileSum(), Sum(expected));
  EXPECT_EQ(fill.StateText(), "fill finished");
  EXPECT_EQ(host.Statuses().back().text, "fill finished");
  EXPECT_FALSE(host.Statuses().back().red);
  // The hex view shows the new bytes.
  EXPECT_EQ(page->CellText(3, 1), "55");
  EXPECT_EQ(page->CellText(2, 1), "FF");

  // Length 0 past the end still pads up to the address.
  fill.SetAddressText("30");
  fill.SetLengthText("0");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  EXPECT_EQ(buffer->Size(), 0x30u);
}

TEST_F(BufferToolsFixture, FillFromTheEndAppendsAndOffersTheNewEnd) {
  Load(Pattern(0x23));
  page->ToggleModeFromCheckBox();
  FileFill fill(*buffer, *page, host, "tarvix");
  EXPECT_EQ(fill.AddressText(), "0");
  EXPECT_EQ(fill.LengthText(), "1");
  EXPECT_EQ(fill.StateText(), "null");
  fill.SetFromEnd(true);
  EXPECT_EQ(fill.AddressText(), "23");
  EXPECT_TRUE(fill.AddressReadOnly());
  fill.SetLengthText("16");
  fill.SetDataText("A5");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  EXPECT_EQ(buffer->Size(), 0x33u);
  EXPECT_EQ(fill.AddressText(), "33");
  ASSERT_EQ(fill.Ok(), FillOutcome::kFilled);
  EXPECT_EQ(buffer->Size(), 0x43u);
  const auto working = Working();
  EXPECT_EQ(std::vector<std::uint8_t>(working.begin() + 0x23, working.end()),
            std::vector<std::uint8_t>(32, 0xA5));
  fill.SetFromEnd(false);
  EXPECT_EQ(fill.AddressText(), "0");
  EXPECT_FALSE(fill.AddressReadOnly());
}

TEST_F(BufferToolsFixture, FillIsRefusedWithEmptyBoxesOrInScanMode) {
  const auto image = Pattern(64);
  Load(image);
  FileFill fill(*buffer, *page, host, "tarvix");
  EXPECT_EQ(fill.Ok(), FillOutcome::kRefused);  // the data box starts empty
  EXPECT_EQ(host.Boxes().back().text, "please input fill data!   ");
  fill.SetDataText("00");
  EXPECT_EQ(fill.Ok(), FillOutcome::kScanMode);
  EXPECT_EQ(fill.StateText(), "file is in scan mode ");
  EXPECT_EQ(host.Statuses().back().text, "file is in scan mode! ");
  EXPECT_TRUE(host.Statuses().back().red);
  EXPECT_EQ(host.Boxes().back().text, "file is in scan mode! ");
  EXPECT_EQ(host.Boxes().back().title, "tarvix");
  EXPECT_EQ(host.Boxes().back().icon, BoxIcon::kNone);
  EXPECT_EQ(Working(), image);
}

TEST_F(BufferToolsFixture, MoveToGoesToTheAddressOrAsksForOne) {
  Load(Pattern(1000));
  EXPECT_FALSE(MoveToAddress(*buffer, *page, host, ""));
  EXPECT_EQ(host.Boxes().back().text, "please input address! ");
  EXPECT_TRUE(MoveToAddress(*buffer, *page, host, "3E7"));
  EXPECT_EQ(buffer->TopRow(), 43u);  // 63 rows: the last page starts at row 43
  EXPECT_EQ(page->FocusCell(), (GridCell{20, 8}));
  EXPECT_FALSE(MoveToAddress(*buffer, *page, host, "3E8"));
}

TEST_F(BufferToolsFixture, ViewDataFileSideReadsBytesAndWordsAndGoesThere) {
  BoxHost quiet;
  EXPECT_EQ(ReadViewDataFile(*buffer, *page, quiet, 0, false).state, "file unopened");
  EXPECT_EQ(ReadViewDataFile(*buffer, *page, quiet, 0, false).file_data, "null");

  std::vector<std::uint8_t> image(0x41);
  std::iota(image.begin(), image.end(), std::uint8_t{0});
  image[0x20] = 0x0A;
  image[0x21] = 0xBC;
  Load(image);
  EXPECT_FALSE(ViewDataAddress("", true, host));
  EXPECT_EQ(host.Boxes().back().text, "please input the address!   ");
  // Word address 0x10 of a 16-bit chip is byte 0x20.
  const auto address = ViewDataAddress("10", true, host);
  ASSERT_EQ(address, 0x20u);
  ViewDataFile r = ReadViewDataFile(*buffer, *page, host, *address, true);
  EXPECT_EQ(r.file_data, "0ABC");
  EXPECT_EQ(r.state, "file read succeed");
  EXPECT_EQ(page->FocusCell(), (GridCell{3, 1}));
  EXPECT_EQ(ReadViewDataFile(*buffer, *page, host, 0x20, false).file_data, "0A");
  // The last byte's partner lies past the end and reads as a blank byte.
  EXPECT_EQ(ReadViewDataFile(*buffer, *page, host, 0x40, true).file_data, "40FF");
  r = ReadViewDataFile(*buffer, *page, host, 0x41, false);
  EXPECT_EQ(r.file_data, "overflow");
  EXPECT_EQ(r.state, "file overflow");
}

}  // namespace
}  // namespace tarvix
