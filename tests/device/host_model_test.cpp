// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/host_model.h"

#include <gtest/gtest.h>

#include "device/clock.h"
#include "device/operation_clock.h"
#include "device/recording_host.h"
#include "device/version_notice.h"

namespace tarvix {
namespace {

using Kind = HostRecord::Kind;

TEST(LogPane, TimeStampPadsMinutesAndSecondsButNotHours) {
  EXPECT_EQ(LogTimeStamp({9, 5, 7}), "9:05:07  ");
  EXPECT_EQ(LogTimeStamp({0, 0, 0}), "0:00:00  ");
  EXPECT_EQ(LogTimeStamp({23, 59, 59}), "23:59:59  ");
  EXPECT_EQ(LogTimeStamp({10, 40, 3}), "10:40:03  ");
}

TEST(LogPane, RepeatedTextRefreshesItsLineAndOthersAddLines) {
  LocalTime now{9, 5, 7};
  LogPane pane([&] { return now; });
  pane.Append("start write...");
  now = {9, 5, 9};
  const auto again = pane.Append("start write...");
  EXPECT_TRUE(again.replaced);
  EXPECT_EQ(pane.Lines(), std::vector<std::string>{"9:05:09  start write..."});

  pane.Append("B");
  pane.Append("start write...");
  EXPECT_EQ(pane.Lines().size(), 3u);  // A, B, A: the second A is a new line
  EXPECT_EQ(pane.Text(), "9:05:09  start write...\r\n9:05:09  B\r\n9:05:09  start write...");

  // After clearing, the remembered text makes no phantom line break.
  pane.Clear();
  EXPECT_EQ(pane.Text(), "");
  now = {10, 0, 0};
  const auto first = pane.Append("start write...");
  EXPECT_FALSE(first.replaced);
  EXPECT_EQ(pane.Text(), "10:00:00  start write...");
}

TEST(LogPane, OnlyTheVeryLastTextCountsAsARepeat) {
  LogPane pane([] { return LocalTime{1, 2, 3}; });
  pane.Append("write succeed,256 bytes,0:1");
  pane.Append("write succeed");   // a prefix is a different text
  pane.Append("write succeed ");  // so is a trailing blank
  EXPECT_EQ(pane.Lines().size(), 3u);
  EXPECT_EQ(pane.LastText(), "write succeed ");
}

TEST(LogPane, EmptyTextIsLoggedAsAStampedLine) {
  LogPane pane([] { return LocalTime{1, 2, 3}; });
  pane.Append("");
  EXPECT_EQ(pane.Lines(), std::vector<std::string>{"1:02:03  "});
}

TEST(HostModel, ShowStatusSetsLineColourBeepAndLogs) {
  MainState state;
  RecordingHost host(&state);
  host.SetTime({8, 1, 2});
  std::vector<HostModel::Change> changes;
  host.AddListener([&](HostModel::Change c) { changes.push_back(c); });

  EXPECT_EQ(host.Status().text, "state");
  host.ShowStatus("device connect error", true, true);
  EXPECT_EQ(host.Status().text, "device connect error");
  EXPECT_TRUE(host.Status().red);
  EXPECT_EQ(state.red_flag.load(), 1);
  EXPECT_EQ(host.BeepRequests(), 1);
  EXPECT_EQ(host.LogText(), "8:01:02  device connect error");
  EXPECT_EQ(changes,
            (std::vector<HostModel::Change>{HostModel::Change::kStatus, HostModel::Change::kLog,
                                            HostModel::Change::kBeep}));

  host.ShowStatus("erase succeed.0:3", false, false);
  EXPECT_FALSE(host.Status().red);
  EXPECT_EQ(state.red_flag.load(), 0);
  EXPECT_EQ(host.BeepRequests(), 1);
  EXPECT_EQ(host.LogLines().size(), 2u);
  // A status is one call in the record, not a status and a separate log line.
  EXPECT_EQ(host.Count(Kind::kStatus), 2u);
  EXPECT_EQ(host.Count(Kind::kLogLine), 0u);

  host.ClearLog();
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_EQ(host.Status().text, "erase succeed.0:3");  // the status line stays
}

TEST(HostModel, ProgressKeepsCaptionAlignmentAndClampsPosition) {
  RecordingHost host;
  EXPECT_FALSE(host.Progress().visible);
  host.ShowProgress(true);
  host.SetProgress(42, "Read42%", CaptionAlign::kCentre);
  ProgressState p = host.Progress();
  EXPECT_TRUE(p.visible);
  EXPECT_EQ(p.position, 42);
  EXPECT_EQ(p.caption, "Read42%");
  EXPECT_EQ(p.align, CaptionAlign::kCentre);
  host.SetProgress(250, "x", CaptionAlign::kLeft);
  EXPECT_EQ(host.Progress().position, 100);
  host.SetProgress(-3, "x", CaptionAlign::kLeft);
  EXPECT_EQ(host.Progress().position, 0);
  host.ShowProgress(false);
  EXPECT_FALSE(host.Progress().visible);
}

TEST(HostModel, PicturesStartWithTheSecondPictureImage) {
  RecordingHost host;
  EXPECT_EQ(host.Picture(kSecondPictureControl), 208);
  EXPECT_EQ(host.Picture(kChipPictureControl), 0);
  host.SetPicture(kSecondPictureControl, 227);
  EXPECT_EQ(host.Picture(kSecondPictureControl), 227);
}

TEST(RecordingHost, AnswersFromItsScriptThenOkOrYes) {
  RecordingHost host;
  host.QueueConfirm(false);
  host.QueueAnswer(BoxAnswer::kNo);
  EXPECT_FALSE(host.Confirm("datas will be overwritten ! continue ?"));
  EXPECT_EQ(host.MessageBox("q", "t", BoxIcon::kQuestion, BoxButtons::kYesNo), BoxAnswer::kNo);
  EXPECT_TRUE(host.Confirm("again ?"));
  EXPECT_EQ(host.MessageBox("q", "t", BoxIcon::kQuestion, BoxButtons::kYesNo), BoxAnswer::kYes);
  EXPECT_EQ(host.MessageBox("i", "info", BoxIcon::kNone, BoxButtons::kOk), BoxAnswer::kOk);
  const auto confirms = host.RecordsOf(Kind::kConfirm);
  ASSERT_EQ(confirms.size(), 2u);
  EXPECT_EQ(confirms[0].title, "Information");
  EXPECT_EQ(confirms[0].answer, BoxAnswer::kCancel);
  EXPECT_EQ(confirms[1].answer, BoxAnswer::kOk);
  EXPECT_EQ(host.Records().size(), 5u);
}

TEST(RecordingHost, HostModelConfirmGoesThroughAnInformationBox) {
  // A front end that only answers boxes gets Confirm's box with OK and Cancel.
  struct BoxOnly : HostModel {
    std::string title;
    BoxButtons buttons{};
    BoxAnswer MessageBox(std::string_view, std::string_view t, BoxIcon, BoxButtons b) override {
      title = t;
      buttons = b;
      return BoxAnswer::kCancel;
    }
    void PlaySound(const std::filesystem::path&) override {}
  } host;
  EXPECT_FALSE(host.Confirm("go ?"));
  EXPECT_EQ(host.title, "Information");
  EXPECT_EQ(host.buttons, BoxButtons::kOkCancel);
}

TEST(CommandState, MenuItemsGrayedAtCreation) {
  CommandState s;
  for (int id : {32806, 32784, 32783, 32807, 32803, 32810, 32801, 32804, 32815})
    EXPECT_TRUE(s.IsMenuGrayed(id)) << id;
  for (int id : {1004, 1019, 1020, 1021, 1023, 1035, 1022, 32817, 32818, 1024, 32788, 32808})
    EXPECT_FALSE(s.IsMenuGrayed(id)) << id;
  EXPECT_TRUE(s.IsEnabled(1020));
  EXPECT_EQ(s.Caption(1026), "Bulk Mode(F2)");
  EXPECT_EQ(s.Tooltip(1004), "CTRL+O:brower");
  EXPECT_EQ(s.Tooltip(1006), "click to change file mode");
}

TEST(CommandState, DisableGraysControlAndMenuItemGrayOnlyTheMenu) {
  CommandState s;
  std::vector<CommandState::Change> changes;
  s.AddListener([&](const CommandState::Change& c) { changes.push_back(c); });
  s.DisableCommand(1022);
  EXPECT_FALSE(s.IsEnabled(1022));
  EXPECT_TRUE(s.IsMenuGrayed(1022));
  ASSERT_EQ(changes.size(), 2u);
  s.DisableCommand(1022);  // no change, no notice
  EXPECT_EQ(changes.size(), 2u);
  s.EnableCommand(1022);
  EXPECT_TRUE(s.IsEnabled(1022));
  EXPECT_FALSE(s.IsMenuGrayed(1022));

  s.EnableMenuItem(32804);
  EXPECT_FALSE(s.IsMenuGrayed(32804));
  s.GrayMenuItem(32804);
  EXPECT_TRUE(s.IsMenuGrayed(32804));
  EXPECT_TRUE(s.IsEnabled(32804));
  // Enabling a command also lifts a gray set at creation.
  s.EnableCommand(32803);
  EXPECT_FALSE(s.IsMenuGrayed(32803));
}

TEST(CommandState, WriteFromFileAddressFollowsOpen) {
  CommandState s;
  s.EnableMenuItem(32815);
  std::vector<CommandState::Change> changes;
  s.AddListener([&](const CommandState::Change& c) { changes.push_back(c); });
  // A write or verify keeps the image in use: both load routes gray together.
  s.DisableCommand(1004);
  EXPECT_TRUE(s.IsMenuGrayed(32815));
  EXPECT_TRUE(s.IsEnabled(32815));  // it has no control of its own
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes.back().id, 32815);
  s.EnableCommand(1004);
  EXPECT_FALSE(s.IsMenuGrayed(32815));
  // Other commands leave it alone.
  s.DisableCommand(1021);
  EXPECT_FALSE(s.IsMenuGrayed(32815));
}

TEST(CommandState, BusyCaptionsOfTheStoppableButtons) {
  CommandState s;
  struct Expect {
    int id;
    const char *idle, *busy, *idle_tip, *busy_tip;
  };
  for (const Expect& e :
       {Expect{1020, "Erase(F4)", "Stop erase(F4)", "F4:erase chip", "F4:stop erase chip"},
        Expect{1021, "Write(F6)", "Stop Write(F6)", "F6:write chip", "F6:stop write chip"},
        Expect{1023, "Verify(F8)", "Stop verify(F8)", "F8:verify chip", "F8:stop verify chip"},
        Expect{1022, "Read(F7)", "Stop read(F7)", "F7:read chip", "F7:stop read chip"},
        Expect{1035, "Blank(F3)", "Stop blank(F3)", "F3:check chip blank",
               "F3:stop check chip blank"}}) {
    EXPECT_EQ(s.Caption(e.id), e.idle);
    s.SetBusyCaption(e.id, true);
    EXPECT_EQ(s.Caption(e.id), e.busy);
    EXPECT_EQ(s.Caption(e.id).substr(0, 4), "Stop");
    EXPECT_EQ(s.Tooltip(e.id), e.busy_tip);
    EXPECT_TRUE(s.IsBusy(e.id));
    s.SetBusyCaption(e.id, false);
    EXPECT_EQ(s.Caption(e.id), e.idle);
    EXPECT_EQ(s.Tooltip(e.id), e.idle_tip);
    EXPECT_FALSE(s.IsBusy(e.id));
  }
  // Auto, Test, Bulk Mode and unknown ids have no stop caption of their own.
  for (int id : {1019, 1024, 1026, 4711}) {
    const std::string before = s.Caption(id);
    s.SetBusyCaption(id, true);
    EXPECT_EQ(s.Caption(id), before);
    EXPECT_FALSE(s.IsBusy(id));
  }
  s.SetCaption(1026, "Stop bulk 3 (F2)");
  EXPECT_EQ(s.Caption(1026), "Stop bulk 3 (F2)");
}

TEST(VersionNotice, OnlyForFiveVolt24SeriesChips) {
  ChipRecord r;
  r.type = "24 EEPROM";
  r.voltage = "5";
  RecordingHost host;
  ShowVersionNotice(host, &r);
  ASSERT_EQ(
      host.StatusTexts(),
      std::vector<std::string>{"******only version 2.0 and above device supports this chip******"});
  EXPECT_FALSE(host.LastStatus().red);
  EXPECT_FALSE(host.LastStatus().beep);

  for (auto [type, voltage] :
       {std::pair{"24 EEPROM", "3.3"}, std::pair{"24 EEPROM", "5.0"}, std::pair{"24 EEPROM", "5 "},
        std::pair{"93 EEPROM", "5"}, std::pair{"25 SPI FLASH", "5"}}) {
    r.type = type;
    r.voltage = voltage;
    ShowVersionNotice(host, &r);
  }
  ShowVersionNotice(host, nullptr);
  EXPECT_EQ(host.StatusTexts().size(), 1u);
}

TEST(OperationClock, FormatsMinutesAndSecondsWithoutLeadingZeros) {
  EXPECT_EQ(FormatElapsed(65), "1:5");
  EXPECT_EQ(FormatElapsed(59), "0:59");
  EXPECT_EQ(FormatElapsed(600), "10:0");
  EXPECT_EQ(FormatElapsed(0), "0:0");
  EXPECT_EQ(FormatElapsed(3600 * 5 + 1), "300:1");
}

TEST(OperationClock, ElapsedIsRightAcrossMidnight) {
  VirtualClock clock;
  clock.Advance((23 * 3600 + 59 * 60 + 30) * 1000LL);  // 23:59:30 on the wall
  OperationClock op(clock);
  clock.Advance(65 * 1000 + 999);  // now 00:00:35 and a bit on the wall
  EXPECT_EQ(op.ElapsedSeconds(), 65);
  EXPECT_EQ(op.ElapsedText(), "1:5");
  op.Start();
  EXPECT_EQ(op.ElapsedText(), "0:0");
  clock.Advance(600 * 1000);
  EXPECT_EQ(op.ElapsedText(), "10:0");
}

}  // namespace
}  // namespace tarvix
