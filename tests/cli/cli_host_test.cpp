// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_host.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tarvix::cli {
namespace {

struct Terminal {
  std::istringstream in;
  std::ostringstream err;
  CliHostOptions Options(bool yes, bool stdin_tty, bool stderr_tty = false) {
    CliHostOptions o;
    o.yes = yes;
    o.stdin_is_tty = stdin_tty;
    o.stderr_is_tty = stderr_tty;
    o.in = &in;
    o.err = &err;
    return o;
  }
};

LocalTime Noon() {
  return {12, 3, 4};
}

TEST(CliHost, YesAcceptsEveryQuestionWithoutReading) {
  Terminal t;
  t.in.str("n\nn\n");
  CliHost host(t.Options(true, true), Noon);
  EXPECT_TRUE(host.Confirm("datas will be overwritten ! continue ?"));
  EXPECT_EQ(host.MessageBox("save ?", "warning", BoxIcon::kQuestion, BoxButtons::kYesNo),
            BoxAnswer::kYes);
  EXPECT_EQ(t.in.tellg(), 0);  // nothing was read
  EXPECT_NE(t.err.str().find("Information: datas will be overwritten ! continue ?\n"),
            std::string::npos)
      << t.err.str();
}

TEST(CliHost, WithoutTerminalQuestionsAreRefused) {
  Terminal t;
  t.in.str("y\n");
  CliHost host(t.Options(false, false), Noon);
  EXPECT_FALSE(host.Confirm("go ?"));
  EXPECT_EQ(host.MessageBox("save ?", "warning", BoxIcon::kQuestion, BoxButtons::kYesNoCancel),
            BoxAnswer::kNo);
  // A box without a choice is simply shown.
  EXPECT_EQ(host.MessageBox("chip is blank    ", "info", BoxIcon::kInformation, BoxButtons::kOk),
            BoxAnswer::kOk);
  EXPECT_EQ(t.in.tellg(), 0);
  EXPECT_NE(t.err.str().find("use --yes"), std::string::npos);
  EXPECT_NE(t.err.str().find("info: chip is blank    \n"), std::string::npos);
}

TEST(CliHost, OnATerminalTheAnswerIsAsked) {
  Terminal t;
  t.in.str("y\nnope\n OK \n");
  CliHost host(t.Options(false, true), Noon);
  EXPECT_TRUE(host.Confirm("first ?"));
  EXPECT_FALSE(host.Confirm("second ?"));
  EXPECT_EQ(host.MessageBox("third ?", "t", BoxIcon::kQuestion, BoxButtons::kOkCancel),
            BoxAnswer::kOk);
  // End of input refuses.
  EXPECT_EQ(host.MessageBox("fourth ?", "t", BoxIcon::kQuestion, BoxButtons::kYesNo),
            BoxAnswer::kNo);
  EXPECT_NE(t.err.str().find("[ok/cancel] "), std::string::npos);
  EXPECT_NE(t.err.str().find("[y/n] "), std::string::npos);
}

TEST(CliHost, StatusLinesAreTimeStampedLikeTheLogPane) {
  Terminal t;
  CliHost host(t.Options(false, false), Noon);
  host.ShowStatus("start write...", false, true);
  host.ShowStatus("write succeed,256 bytes,0:1", false, false);
  host.MessageBox("a\r\nb", "version information", BoxIcon::kInformation, BoxButtons::kOk);
  EXPECT_EQ(t.err.str(),
            "12:03:04  start write...\n12:03:04  write succeed,256 bytes,0:1\n"
            "version information: a\nb\n");  // no bell and no bar off a terminal
  EXPECT_EQ(host.LastStatus(), "write succeed,256 bytes,0:1");
  EXPECT_EQ(host.LogLines().size(), 2u);
}

TEST(CliHost, ProgressBarOnlyOnATerminal) {
  Terminal plain;
  CliHost quiet(plain.Options(false, false, false), Noon);
  quiet.ShowProgress(true);
  quiet.SetProgress(50, "Read50%", CaptionAlign::kCentre);
  EXPECT_EQ(plain.err.str(), "");
  EXPECT_EQ(quiet.Progress().position, 50);  // the model still follows

  Terminal tty;
  CliHost host(tty.Options(false, false, true), Noon);
  host.ShowProgress(true);
  host.SetProgress(50, "Read50%", CaptionAlign::kCentre);
  const std::string drawn = tty.err.str();
  // The caption carries the percentage itself: it is not shown twice.
  EXPECT_NE(drawn.find("[###############---------------] Read50%"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.find("50% Read"), std::string::npos) << drawn;
  // A status line clears the bar first and draws it again after itself.
  host.ShowStatus("Read finished", false, false);
  const std::string after = tty.err.str().substr(drawn.size());
  EXPECT_EQ(after.find("\r\x1b[K12:03:04  Read finished\n"), 0u) << after;
  EXPECT_NE(after.find("] Read50%"), std::string::npos);
  host.ShowProgress(false);
  EXPECT_EQ(tty.err.str().substr(tty.err.str().size() - 4), "\r\x1b[K");
}

}  // namespace
}  // namespace tarvix::cli

namespace tarvix::cli {
namespace {

TEST(CliHost, ACaptionWithoutPercentageGetsOneAndLongWorkAnEstimate) {
  Terminal tty;
  std::int64_t now = 0;
  CliHostOptions o = tty.Options(false, false, true);
  o.now_ms = [&now] { return now; };
  CliHost host(o, Noon);
  host.ShowProgress(true);
  host.SetProgress(0, "firmware erasing...", CaptionAlign::kCentre);
  EXPECT_NE(tty.err.str().find("] 0% firmware erasing..."), std::string::npos) << tty.err.str();

  host.SetProgress(0, "written0%", CaptionAlign::kCentre);
  now = 1000;
  host.SetProgress(10, "written10%", CaptionAlign::kCentre);
  EXPECT_EQ(tty.err.str().find("ETA"), std::string::npos) << "too early to tell";
  now = 5000;  // 20% in 5 s: 20 s to go
  host.SetProgress(20, "written20%", CaptionAlign::kCentre);
  EXPECT_NE(tty.err.str().find("] written20%  ETA 0:20"), std::string::npos) << tty.err.str();

  // The next step (another caption word) starts its own estimate.
  now = 6000;
  host.SetProgress(1, "verified1%", CaptionAlign::kCentre);
  const std::string tail = tty.err.str().substr(tty.err.str().rfind('\r'));
  EXPECT_EQ(tail.find("ETA"), std::string::npos) << tail;
  now = 16000;  // 50% in 10 s
  host.SetProgress(50, "verified50%", CaptionAlign::kCentre);
  EXPECT_NE(tty.err.str().find("verified50%  ETA 0:10"), std::string::npos) << tty.err.str();
  EXPECT_EQ(MinutesSeconds(605), "10:05");
}

// The log pane refreshes a text logged twice in a row; the terminal shows it once.
TEST(CliHost, ARepeatedTextIsShownOnce) {
  Terminal plain;
  CliHost host(plain.Options(false, false), Noon);
  host.ShowStatus("find SPI FLASH", false, false);
  host.ShowStatus("find SPI FLASH", false, false);
  host.ClearLog();  // an auto run starts: the pane empties, the terminal keeps its lines
  host.ShowStatus("find SPI FLASH", false, false);
  host.ShowStatus("open succeed", false, false);
  host.ShowStatus("find SPI FLASH", false, false);
  EXPECT_EQ(plain.err.str(),
            "12:03:04  find SPI FLASH\n12:03:04  open succeed\n12:03:04  find SPI FLASH\n");
  host.Notice("waiting for a chip");
  host.Notice("waiting for a chip");
  EXPECT_EQ(plain.err.str().substr(plain.err.str().size() - 29), "12:03:04  waiting for a chip\n");
  EXPECT_EQ(host.LastStatus(), "find SPI FLASH");  // a notice is no status

  // On a terminal the line itself is refreshed, while nothing else came below it.
  Terminal tty;
  CliHost live(tty.Options(false, false, true), Noon);
  live.ShowStatus("device connected,not find chip!", true, false);
  live.ShowStatus("device connected,not find chip!", true, false);
  EXPECT_EQ(tty.err.str(),
            "12:03:04  device connected,not find chip!\n"
            "\x1b[1A\r\x1b[K12:03:04  device connected,not find chip!\n");
  live.BreakLine();  // a result went to stdout below it
  live.ShowStatus("device connected,not find chip!", true, false);
  EXPECT_EQ(tty.err.str().size(), 2 * 42u + 8u) << "neither printed again nor moved over";
}

TEST(CliHost, AfterAnInterruptNothingClaimsSuccessAndNothingIsAccepted) {
  Terminal t;
  t.in.str("y\n");
  CliHost host(t.Options(true, true), Noon);
  host.SetInterrupted();
  host.ShowStatus("Read succeed.0:3", false, false);
  host.ShowStatus("read succeed! ", false, false);
  host.ShowStatus("Read finished", false, false);
  EXPECT_FALSE(host.Confirm("datas will be overwritten ! continue ?"));
  const std::string err = t.err.str();
  EXPECT_EQ(err.find("succeed"), std::string::npos) << err;
  EXPECT_NE(err.find("12:03:04  Read finished\n"), std::string::npos) << err;
  EXPECT_NE(err.find("(interrupted: answered Cancel)"), std::string::npos) << err;
  // The model still holds what the operation reported.
  EXPECT_EQ(host.LogLines().size(), 3u);
}

TEST(CliHost, CapturedBoxesAreKeptNotPrinted) {
  Terminal t;
  CliHost host(t.Options(false, false), Noon);
  host.CaptureBoxes("version information");
  host.MessageBox("\r\nfirmware SN:123456", "version information", BoxIcon::kInformation,
                  BoxButtons::kOk);
  host.MessageBox("firmware version access failed  ", "info", BoxIcon::kNone, BoxButtons::kOk);
  EXPECT_EQ(host.CapturedBox(), "\r\nfirmware SN:123456");
  EXPECT_EQ(t.err.str(), "info: firmware version access failed  \n");
}

}  // namespace
}  // namespace tarvix::cli

#include "app/bulk_mode.h"
#include "device/clock.h"

namespace tarvix::cli {
namespace {

// The bulk run's wait between chips as the terminal shows it: the core's wait line,
// refreshed about once a second, stays one line; a programmer that goes missing during
// the wait keeps its own line (with one bell) until it is back.
TEST(CliHost, TheWaitBetweenChipsIsOneRefreshedLinePerState) {
  Terminal tty;
  CliHost host(tty.Options(false, false, true), Noon);
  MainState state;
  state.bulk_mode = 1;
  VirtualClock clock;
  int looks = 0;
  const auto look = [&]() -> SocketLook {
    ++looks;
    if (looks == 600) state.bulk_mode = 0;
    if (looks <= 300) return {-2, "device is unconnected", true};  // 3 s without programmer
    return {-1, "device connected,not find chip!", true};
  };
  EXPECT_EQ(WaitForNextChip(state, clock, host, look), BulkWaitResult::kStopped);
  const std::string out = tty.err.str();
  const std::string refresh = "\x1b[1A\r\x1b[K";
  EXPECT_EQ(out, "12:03:04  device is unconnected\n\a" + refresh +
                     "12:03:04  device is unconnected\n" + refresh +
                     "12:03:04  device is unconnected\n"
                     "12:03:04  waiting for a chip\n" +
                     refresh + "12:03:04  waiting for a chip\n" + refresh +
                     "12:03:04  waiting for a chip\n")
      << out;

  // Where lines cannot be rewritten (a log file), each state is one line.
  Terminal plain;
  CliHost logged(plain.Options(false, false, false), Noon);
  state.bulk_mode = 1;
  looks = 0;
  EXPECT_EQ(WaitForNextChip(state, clock, logged, look), BulkWaitResult::kStopped);
  EXPECT_EQ(plain.err.str(), "12:03:04  device is unconnected\n12:03:04  waiting for a chip\n");
}

}  // namespace
}  // namespace tarvix::cli
