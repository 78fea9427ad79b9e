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
  EXPECT_NE(drawn.find("[###############---------------] 50% Read50%"), std::string::npos) << drawn;
  // A status line clears the bar first and draws it again after itself.
  host.ShowStatus("Read finished", false, false);
  const std::string after = tty.err.str().substr(drawn.size());
  EXPECT_EQ(after.find("\r\x1b[K12:03:04  Read finished\n"), 0u) << after;
  EXPECT_NE(after.find("50% Read50%"), std::string::npos);
  host.ShowProgress(false);
  EXPECT_EQ(tty.err.str().substr(tty.err.str().size() - 4), "\r\x1b[K");
}

}  // namespace
}  // namespace tarvix::cli
