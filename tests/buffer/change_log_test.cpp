// SPDX-License-Identifier: GPL-3.0-or-later
#include "buffer/change_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include "buffer/buffer_fixture.h"

namespace tarvix::testing_buffer {
namespace {

const std::string kBegin = std::string(39, '-') + "BEGIN" + std::string(39, '-');
const std::string kEnd = std::string(40, '-') + "END" + std::string(40, '-');
const std::string kUserTitleGbk = "\xCE\xC4\xBC\xFE\xD0\xDE\xB8\xC4\xC8\xE7\xCF\xC2\xA3\xBA";
const std::string kChipTitleGbk =
    "\xD0\xBE\xC6\xAC\xC4\xDA\xCA\xFD\xBE\xDD\xB1\xA3\xB4\xE6\xC8\xE7\xCF\xC2\xA3\xBA";

TEST(ChangeLogText, GbkConversionSubstitutesWhatGbkCannotHold) {
  EXPECT_EQ(ToGbk("plain ascii\r\n"), "plain ascii\r\n");
  EXPECT_EQ(ToGbk("文件修改如下："), kUserTitleGbk);
  EXPECT_EQ(ToGbk("caf\xC3\xA9"), "caf\xA8\xA6");
  // An emoji has no GBK form; a stray byte is not UTF-8: each becomes one "?" and
  // the text around survives.
  EXPECT_EQ(ToGbk("a\xF0\x9F\x98\x80"
                  "b"),
            "a?b");
  EXPECT_EQ(ToGbk("x\xFFy\xE6\xB5"), "x?y?");
  EXPECT_EQ(ToGbk("测\xF0\x9F\x98\x80试"), "\xB2\xE2?\xCA\xD4");
}

TEST(ChangeLogText, TimeStampHasFourLeadingBlanks) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  t.tm_isdst = -1;
  EXPECT_EQ(LogTimeStamp(std::mktime(&t)), "    2024-03-05 07:08:09");
}

using ChangeLogTest = BufferTest;

TEST_F(ChangeLogTest, UserFileRecordLayout) {
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteUserFileHead("    2024-03-05 07:08:09", "a b.bin");
  log_->WriteChange(0x10, 0xFF, 0x00);
  log_->WriteChange(0x11, 0xFF, 0x01);
  log_->WriteChange(0x1234ABCD, std::nullopt, 0x5A);
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  EXPECT_EQ(LogText(), "\r\n" + kBegin + "\r\n    2024-03-05 07:08:09 a b.bin " + kUserTitleGbk +
                           "\r\n"
                           "        [00000010]: FF --> 00\r\n"
                           "        [00000011]: FF --> 01\r\n"
                           "        [1234ABCD]: null --> 5A\r\n" +
                           kEnd);
  EXPECT_EQ(kBegin.size(), 83u);
  EXPECT_EQ(kEnd.size(), 83u);

  // The next record starts with its own line break, right after "END".
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteChipDataHead("    2024-03-05 07:08:10", "W25Q80");
  log_->WriteSavedAs("W25Q80", "out.bin");
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  const std::string text = LogText();
  const std::string second = "\r\n" + kBegin + "\r\n    2024-03-05 07:08:10 W25Q80 " +
                             kChipTitleGbk +
                             "\r\n        [W25Q80 chip data] saved as [out.bin]\r\n" + kEnd;
  ASSERT_GE(text.size(), second.size());
  EXPECT_EQ(text.substr(text.size() - second.size()), second);
  EXPECT_EQ(text.substr(text.size() - second.size() - kEnd.size(), kEnd.size()), kEnd);
}

TEST_F(ChangeLogTest, NonAsciiFileNamesAreWrittenAsGbkAndNeverDropped) {
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteUserFileHead("    t", "测试\xF0\x9F\x98\x80.bin");
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  EXPECT_NE(LogText().find("    t \xB2\xE2\xCA\xD4?.bin " + kUserTitleGbk), std::string::npos);
}

TEST_F(ChangeLogTest, RollsOverAtExactly100MiB) {
  // One byte below the limit: appended to.
  ASSERT_EQ(::truncate(log_->Path().c_str(), kChangeLogLimit - 1), 0);
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  EXPECT_EQ(fs::file_size(log_->Path()), kChangeLogLimit - 1 + kEnd.size());

  // At the limit: emptied first.
  ASSERT_EQ(::truncate(log_->Path().c_str(), kChangeLogLimit), 0);
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  EXPECT_EQ(LogText(), kEnd);
}

TEST_F(ChangeLogTest, PrepareNeverTruncatesAndADeletedLogIsCreatedAgain) {
  WriteFile(log_->Path(), {'o', 'l', 'd'});
  ASSERT_TRUE(log_->Prepare());
  EXPECT_EQ(LogText(), "old");
  fs::remove(log_->Path());
  ASSERT_TRUE(log_->OpenRecord());
  log_->WriteEnd();
  ASSERT_TRUE(log_->CloseRecord());
  EXPECT_EQ(LogText(), kEnd);
}

TEST_F(ChangeLogTest, ALogThatCannotBeOpenedIsReported) {
  fs::remove(log_->Path());
  fs::create_directory(log_->Path());
  EXPECT_FALSE(log_->OpenRecord());
  EXPECT_FALSE(log_->RecordOpen());
}

TEST_F(ChangeLogTest, ShowLogAsksTheShellAndReportsAMissingFile) {
  fs::path opened;
  int shown_here = 0;
  const auto show_here = [&](const std::string&) { ++shown_here; };
  log_->Show(
      host_,
      [&](const fs::path& p) {
        opened = p;
        return true;
      },
      show_here);
  EXPECT_EQ(opened, base_ / "修改记录.txt");
  EXPECT_TRUE(host_.BoxTexts().empty());
  EXPECT_EQ(shown_here, 0);

  fs::remove(log_->Path());
  log_->Show(
      host_, [&](const fs::path&) { return false; }, show_here);
  EXPECT_EQ(shown_here, 0);
  ASSERT_EQ(host_.BoxTexts().size(), 1u);
  auto box = host_.RecordsOf(HostRecord::Kind::kMessageBox).back();
  EXPECT_EQ(box.text, "not find file");
  EXPECT_EQ(box.title, "info");
  EXPECT_EQ(box.icon, BoxIcon::kWarning);
  EXPECT_FALSE(fs::exists(log_->Path()));
}

}  // namespace
}  // namespace tarvix::testing_buffer
