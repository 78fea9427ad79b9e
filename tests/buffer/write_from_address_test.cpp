// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/write_from_address.h"

#include <gtest/gtest.h>

#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "buffer/tools_test_support.h"

namespace tarvix {
namespace {

using testing::BoxHost;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::Slice;
using testing::WriteBytes;

struct WfaFixture : ::testing::Test {
  ScratchDir dir{"wfa"};
  MainState state;
  BoxHost host;
  std::unique_ptr<ImageBuffer> buffer;
  std::vector<std::filesystem::path> loads;
  std::unique_ptr<WriteFromAddress> dialog;

  WfaFixture() {
    state.paths = Paths::FromBase(dir.path());
    buffer = std::make_unique<ImageBuffer>(state);
    dialog = std::make_unique<WriteFromAddress>(
        state.paths.temp_folder, host, [this](const std::filesystem::path& p) {
          loads.push_back(p);
          return buffer->LoadFrom(p) == ImageBuffer::Status::kOk;
        });
  }
  std::vector<std::uint8_t> Image() const { return ReadBytes(state.paths.working_copy); }
  void ExpectOnlyBox(std::string_view text) {
    const auto boxes = host.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].title, "error");
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
  }
};

TEST_F(WfaFixture, OffsetBecomesAddressZeroOfTheLoadedImage) {
  const auto bytes = Pattern(3 * 1048576 + 11);
  WriteBytes(dir / "kopf + bild.bin", bytes);
  dialog->Open();
  EXPECT_EQ(dialog->StateText(), "State");
  EXPECT_EQ(dialog->AddressText(), "0");
  EXPECT_FALSE(dialog->AddressLocked());
  ASSERT_EQ(dialog->Ok("0", dir / "kopf + bild.bin"), WriteFromAddressOutcome::kLoaded);
  EXPECT_EQ(Image(), bytes);
  EXPECT_EQ(loads, std::vector<std::filesystem::path>{dir / "temp" / "tempFile.bin"});
  EXPECT_EQ(dialog->StateText(), "file dealing...");

  ASSERT_EQ(dialog->Ok(" 1048581 ", dir / "kopf + bild.bin"), WriteFromAddressOutcome::kLoaded);
  EXPECT_EQ(Image(), Slice(bytes, 1048581, bytes.size() - 1048581));
  EXPECT_EQ(buffer->Size(), bytes.size() - 1048581);
  EXPECT_TRUE(host.Boxes().empty());
}

TEST_F(WfaFixture, OffsetAtTheEndIsOutOfRangeAndOneLessGivesOneByte) {
  const auto bytes = Pattern(500);
  WriteBytes(dir / "a.bin", bytes);
  EXPECT_EQ(dialog->Ok("500", dir / "a.bin"), WriteFromAddressOutcome::kOutOfRange);
  ExpectOnlyBox("the address is out of range!   ");
  EXPECT_TRUE(loads.empty());
  EXPECT_FALSE(buffer->Loaded());
  ASSERT_EQ(dialog->Ok("499", dir / "a.bin"), WriteFromAddressOutcome::kLoaded);
  EXPECT_EQ(Image(), std::vector<std::uint8_t>{bytes[499]});
}

TEST_F(WfaFixture, AddressThatIsNoNumberStopsBeforeAnythingHappens) {
  WriteBytes(dir / "a.bin", Pattern(100));
  dialog->Open(dir / "a.bin", 7);
  for (const char* text : {"12x", "-1", "", "4294967296"}) {
    EXPECT_EQ(dialog->Ok(text, dir / "a.bin"), WriteFromAddressOutcome::kNotANumber) << text;
    EXPECT_EQ(dialog->Offset(), 7u);
  }
  EXPECT_EQ(host.Boxes().size(), 4u);
  EXPECT_EQ(host.Boxes()[0].text, "Please enter an unsigned integer.");
  EXPECT_TRUE(loads.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "temp"));
  EXPECT_EQ(ParseStartOffset("4294967295"), 4294967295u);
}

TEST_F(WfaFixture, UnopenableFileAndUncreatableScratchAreReported) {
  EXPECT_EQ(dialog->Ok("0", dir / "gone.bin"), WriteFromAddressOutcome::kOpenFailed);
  ExpectOnlyBox("file open failed!   ");
  // The scratch was created (and is empty), so nothing is loaded.
  EXPECT_EQ(std::filesystem::file_size(dir / "temp" / "tempFile.bin"), 0u);
  EXPECT_TRUE(loads.empty());

  std::filesystem::remove_all(dir / "temp");
  WriteBytes(dir / "temp", {1, 2, 3});  // a file where the folder should be
  WriteBytes(dir / "a.bin", Pattern(10));
  BoxHost other;
  WriteFromAddress blocked(state.paths.temp_folder, other, [](const auto&) { return true; });
  EXPECT_EQ(blocked.Ok("0", dir / "a.bin"), WriteFromAddressOutcome::kScratchFailed);
  ASSERT_EQ(other.Boxes().size(), 1u);
  EXPECT_EQ(other.Boxes()[0].text, "temp file create failed!   ");
}

TEST_F(WfaFixture, ReadOnlyFileLoadsAndStaysUntouched) {
  const auto bytes = Pattern(64);
  WriteBytes(dir / "ro.bin", bytes);
  std::filesystem::permissions(dir / "ro.bin", std::filesystem::perms::owner_read,
                               std::filesystem::perm_options::replace);
  ASSERT_EQ(dialog->Ok("16", dir / "ro.bin"), WriteFromAddressOutcome::kLoaded);
  EXPECT_EQ(Image(), Slice(bytes, 16, 48));
  EXPECT_EQ(ReadBytes(dir / "ro.bin"), bytes);
}

TEST_F(WfaFixture, BrowsingToACapFileLocksTheBaseAndABinFileUnlocksIt) {
  const auto picks = [](std::optional<std::filesystem::path> file) {
    return [file] { return file; };
  };
  dialog->Open();
  EXPECT_TRUE(dialog->Browse("100", picks(dir / "x.cap")));
  EXPECT_EQ(dialog->Offset(), 2048u);
  EXPECT_TRUE(dialog->AddressLocked());
  EXPECT_TRUE(dialog->Browse("2048", picks(dir / "y.bin")));
  EXPECT_EQ(dialog->Offset(), 2048u);
  EXPECT_FALSE(dialog->AddressLocked());
  EXPECT_EQ(dialog->File(), dir / "y.bin");
  EXPECT_TRUE(dialog->Browse("5", picks(std::nullopt)));  // Cancel keeps the file
  EXPECT_EQ(dialog->Offset(), 5u);
  EXPECT_EQ(dialog->File(), dir / "y.bin");
}

TEST_F(WfaFixture, CapFilesLoadThroughTheLoadOperationWithTheirHeaderSkipped) {
  HexPage page(*buffer, state, host);
  ChangeLog log(ChangeLog::PathIn(dir.path()));
  FileLoadSave files(*buffer, page, log, host);
  files.SetCapFileHandler([&](const std::filesystem::path& file, std::uint32_t base) {
    return LoadFromFileAddress(
        state.paths.temp_folder, host,
        [&](const std::filesystem::path& p) { return files.Load(p, false); }, file, base);
  });
  const auto bytes = Pattern(2048 + 256);
  WriteBytes(dir / "dump ö.CAP", bytes);
  ASSERT_TRUE(files.Load(dir / "dump ö.CAP", true));
  EXPECT_EQ(Image(), Slice(bytes, 2048, 256));
  EXPECT_EQ(buffer->CurrentPath(), dir / "temp" / "tempFile.bin");

  // A header and nothing after it is out of range.
  WriteBytes(dir / "short.cap", Pattern(2048));
  EXPECT_FALSE(files.Load(dir / "short.cap", true));
  EXPECT_EQ(host.BoxTexts().back(), "the address is out of range!   ");
}

}  // namespace
}  // namespace tarvix
