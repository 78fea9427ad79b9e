// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvix {
namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvix_settings_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = dir_ / "kest2.dll";
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  void WriteFile(std::vector<std::uint8_t> bytes) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  std::vector<std::uint8_t> ReadFile() {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  Settings Make() {
    return Settings(file_, [this](std::string_view m) { messages_.emplace_back(m); });
  }
  fs::path dir_, file_;
  std::vector<std::string> messages_;
};

TEST_F(SettingsTest, EmptyFileLeavesEverythingOnAndUnchanged) {
  WriteFile({});
  Settings s = Make();
  s.Load();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(s.IsOn(static_cast<SettingItem>(i)));
  EXPECT_TRUE(ReadFile().empty());
}

TEST_F(SettingsTest, MissingFileIsCreatedEmpty) {
  Settings s = Make();
  s.Load();
  EXPECT_TRUE(fs::exists(file_));
  EXPECT_TRUE(s.IsOn(SettingItem::kRemindSound));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsTest, TwoByteFileTurnsSoundOffWithoutLengtheningIt) {
  WriteFile({0, 1});
  Settings s = Make();
  s.Load();
  EXPECT_FALSE(s.IsOn(SettingItem::kRemindSound));
  EXPECT_TRUE(s.IsOn(SettingItem::kAutoRecognize));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkErase));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkWrite));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkVerify));
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{0, 1}));
  ASSERT_TRUE(s.Toggle(SettingItem::kBulkWrite));
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{0, 1, 1, 0, 1}));
}

TEST_F(SettingsTest, AnyValueButOneIsOff) {
  WriteFile({1, 2, 0, 7, 1});
  Settings s = Make();
  s.Load();
  EXPECT_TRUE(s.IsOn(SettingItem::kRemindSound));
  EXPECT_FALSE(s.IsOn(SettingItem::kAutoRecognize));
  EXPECT_FALSE(s.IsOn(SettingItem::kBulkErase));
  EXPECT_FALSE(s.IsOn(SettingItem::kBulkWrite));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkVerify));
  // Turning Auto Recognize off at start-up rewrote its byte as 0.
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{1, 0, 0, 7, 1}));
}

TEST_F(SettingsTest, AutoRecognizeOffOnEmptyFileWritesOneThenZero) {
  WriteFile({});
  Settings s = Make();
  s.Load();
  ASSERT_TRUE(s.Toggle(SettingItem::kAutoRecognize));
  EXPECT_FALSE(s.IsOn(SettingItem::kAutoRecognize));
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{1, 0}));
  ASSERT_TRUE(s.Toggle(SettingItem::kAutoRecognize));
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{1, 1}));
  ASSERT_TRUE(s.Toggle(SettingItem::kRemindSound));
  EXPECT_EQ(ReadFile(), (std::vector<std::uint8_t>{0, 1}));
}

TEST_F(SettingsTest, UnwritableFileKeepsCheckMarksAndTellsTheUser) {
  // Every write to /dev/full fails, even for root.
  Settings s("/dev/full", [this](std::string_view m) { messages_.emplace_back(m); });
  EXPECT_FALSE(s.Toggle(SettingItem::kBulkErase));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkErase));
  EXPECT_FALSE(s.Toggle(SettingItem::kRemindSound));
  EXPECT_TRUE(s.IsOn(SettingItem::kRemindSound));
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], Settings::kCannotWriteMessage);
}

TEST_F(SettingsTest, UnopenableFileTurnsSoundOffAndSaysSo) {
  // A directory in place of the file cannot be opened for writing, even by root.
  fs::create_directories(file_);
  Settings s = Make();
  std::vector<SettingItem> changed;
  s.AddListener([&](SettingItem i) { changed.push_back(i); });
  s.Load();
  EXPECT_FALSE(s.IsOn(SettingItem::kRemindSound));
  EXPECT_TRUE(s.IsOn(SettingItem::kAutoRecognize));
  EXPECT_EQ(changed, (std::vector<SettingItem>{SettingItem::kRemindSound}));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], Settings::kCannotOpenMessage);
  EXPECT_FALSE(s.Toggle(SettingItem::kBulkVerify));
  EXPECT_TRUE(s.IsOn(SettingItem::kBulkVerify));
}

TEST(SettingIds, MatchTheMenu) {
  EXPECT_EQ(SettingCommandId(SettingItem::kRemindSound), 32809);
  EXPECT_EQ(SettingCommandId(SettingItem::kAutoRecognize), 32811);
  EXPECT_EQ(SettingCommandId(SettingItem::kBulkVerify), 32822);
  EXPECT_EQ(SettingCaption(SettingItem::kBulkErase), " Erase ");
}

}  // namespace
}  // namespace tarvix
