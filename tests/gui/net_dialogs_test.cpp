// SPDX-License-Identifier: GPL-3.0-or-later
// The "Version" and "Feedback" dialogs against servers the test starts on 127.0.0.1:
// the window stays live while they work, their results land in the dialog or its
// boxes, and closing them mid-exchange ends the exchange.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

#include "gui/dialogs.h"
#include "gui/feedback_window.h"
#include "gui/version_window.h"
#include "gui/window_fixture.h"
#include "net/decode.h"
#include "net/http_test_server.h"
#include "net/scripted_smtp_server.h"
#include "state/control_ids.h"

namespace tarvix::gui::testing {
namespace {

using tarvix::testing::HttpTestServer;
using tarvix::testing::ScriptedSmtpServer;
using tarvix::testing::SmtpStep;

class NetDialogsTest : public WindowFixture {
 protected:
  void PointAt(const HttpTestServer& server) {
    UpdateCheckConfig config = UpdateCheckConfig::Default();
    config.url = server.Url(kVersionDocumentPath);
    config.link_url = "http://127.0.0.1/site/";
    config.timeout = std::chrono::seconds(20);
    D().SetUpdateCheckConfig(config);
  }
  void PointAt(const ScriptedSmtpServer& server) {
    FeedbackConfig config = FeedbackConfig::Default();
    config.server = server.Host();
    config.port = server.Port();
    config.allow_plain_login = true;
    config.timeout = std::chrono::seconds(20);
    D().SetFeedbackConfig(config);
  }
  std::vector<std::string> Lines(VersionWindow* w) {
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i) lines.push_back(w->Line(i)->text().toStdString());
    return lines;
  }
};

TEST_F(NetDialogsTest, CheckNewShowsTheFiveLinesWithTheProgrammersFirmware) {
  Open();
  HttpTestServer server(200, std::string("\x41\x33", 2));
  PointAt(server);
  Menu(menu_id::kCheckNew);
  VersionWindow* w = D().Version();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle().toStdString(), "Version");
  ASSERT_TRUE(WaitFor([&] { return !w->Checking() && w->Line(4)->text().contains("software"); }));
  // The simulated programmer runs firmware byte 0x12, which shows as V2.2.
  EXPECT_EQ(Lines(w),
            (std::vector<std::string>{
                "new software version: V4.1  ", "new firmware version: V3.3     ",
                "current software version: V4.0     ", "current firmware version: V2.2   ",
                "new software is available,new firmware available"}));
  EXPECT_NE(server.LastRequest().find("GET /updata/VRNT_Tarvix_CV_Info.pdf"), std::string::npos);
  EXPECT_TRUE(w->Link()->text().contains("http://127.0.0.1/site/"));
  EXPECT_TRUE(boxes_.empty());
  w->OkButton()->click();
  Settle();
  EXPECT_EQ(D().Version(), nullptr);
}

TEST_F(NetDialogsTest, ACheckDuringAWriteLeavesTheProgrammerToTheWrite) {
  Open(sim::Timing::kRealistic);
  HttpTestServer server(200, std::string("\x40\x21", 2));
  PointAt(server);
  const std::filesystem::path image = MakeImage("image.bin", 1024 * 1024);
  ASSERT_TRUE(program_->Files().Load(image, true));
  window_->DispatchCommand(control_id::kWrite);
  ASSERT_TRUE(WaitFor([&] { return program_->State().busy_writing.load() != 0; }));
  Menu(menu_id::kCheckNew);
  VersionWindow* w = D().Version();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(WaitFor([&] { return !w->Checking() && !w->Line(4)->text().isEmpty(); }));
  EXPECT_NE(program_->State().busy_writing.load(), 0);
  EXPECT_EQ(w->Line(3)->text().toStdString(), "current firmware version access failed");
  EXPECT_EQ(w->Line(4)->text().toStdString(), "current software is latest");
  w->OkButton()->click();
  ASSERT_TRUE(WaitIdle(60000));
  // The write was not disturbed: the chip holds the image.
  std::ifstream in(image, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  EXPECT_EQ(sim_->bus->Programmer().chip()->ReadRange(0, bytes.size()), bytes);
}

TEST_F(NetDialogsTest, AFailedFetchShowsItsTwoBoxesInsteadOfTheDialog) {
  Open();
  HttpTestServer server(404, "gone");
  PointAt(server);
  Menu(menu_id::kCheckNew);
  ASSERT_TRUE(WaitFor([&] { return boxes_.size() >= 2; }));
  EXPECT_EQ(boxes_[0].text, "请求地址不存在:#404");
  EXPECT_EQ(boxes_[0].title, "VRNT_Tarvix");
  EXPECT_EQ(boxes_[1].text, "version access failed    ");
  EXPECT_EQ(boxes_[1].title, "error");
  Settle();
  EXPECT_EQ(D().Version(), nullptr);
}

TEST_F(NetDialogsTest, ClosingTheVersionDialogStopsACheckThatGetsNoAnswer) {
  Open();
  HttpTestServer server(0, "");
  PointAt(server);
  Menu(menu_id::kCheckNew);
  VersionWindow* w = D().Version();
  ASSERT_NE(w, nullptr);
  // The window thread is free while the server says nothing: the dialog shows the step.
  ASSERT_TRUE(WaitFor([&] { return w->Line(0)->text().startsWith("connecting to "); }));
  EXPECT_TRUE(w->Checking());
  const auto start = std::chrono::steady_clock::now();
  w->OkButton()->click();
  Settle();
  EXPECT_EQ(D().Version(), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(NetDialogsTest, FeedbackSendsTheFormAndKeepsItForAnotherSend) {
  Open();
  ScriptedSmtpServer server;
  PointAt(server);
  Menu(menu_id::kFeedback);
  FeedbackWindow* w = D().Feedback();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle().toStdString(), "Feedback");

  // No problem text: refused, nothing sent.
  w->SendButton()->click();
  ASSERT_TRUE(WaitFor([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_.back().text, "please input your problem!   ");
  EXPECT_EQ(server.Connections(), 0);

  w->ThemeBox()->setText("读取失败");
  w->ProblemBox()->setPlainText("line one\n.\nline three");
  w->SendButton()->click();
  EXPECT_FALSE(w->SendButton()->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return boxes_.size() == 2; }));
  EXPECT_EQ(boxes_.back().text, "send succeed!   ");
  EXPECT_TRUE(w->SendButton()->isEnabled());
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->ThemeBox()->text().toStdString(), "读取失败");
  const std::string data = server.Data();
  const std::size_t subject = data.find("Subject: ");
  ASSERT_NE(subject, std::string::npos) << data;
  const std::size_t subject_end = data.find("\r\nMIME-Version", subject);
  EXPECT_EQ(tarvix::testing::DecodeHeaderWords(data.substr(subject + 9, subject_end - subject - 9)),
            "VRNT_Halcyrin 反馈主题:读取失败");
  // A typed line end goes out as CR LF, a lone "." doubled, the empty contact as "null".
  EXPECT_NE(data.find("line one\r\n..\r\nline three\r\n"), std::string::npos) << data;
  EXPECT_NE(data.find("-------------------\r\nnull\r\n"), std::string::npos) << data;
}

TEST_F(NetDialogsTest, FeedbackShowsTheServersRefusalAndCancelStopsASend) {
  Open();
  {
    ScriptedSmtpServer server;
    server.Reply(SmtpStep::kPassword, "535 no\r\n");
    PointAt(server);
    Menu(menu_id::kFeedback);
    FeedbackWindow* w = D().Feedback();
    ASSERT_NE(w, nullptr);
    w->ProblemBox()->setPlainText("it broke");
    w->SendButton()->click();
    ASSERT_TRUE(WaitFor([&] { return !boxes_.empty(); }));
    EXPECT_EQ(boxes_.back().text, "sorry:Bad login or password.");
    EXPECT_EQ(boxes_.back().title, "error");
    w->close();
    Settle();
  }
  boxes_.clear();
  ScriptedSmtpServer silent;
  silent.Reply(SmtpStep::kGreeting, tarvix::testing::kSilence);
  PointAt(silent);
  Menu(menu_id::kFeedback);
  FeedbackWindow* w = D().Feedback();
  ASSERT_NE(w, nullptr);
  w->ProblemBox()->setPlainText("it broke");
  w->SendButton()->click();
  ASSERT_TRUE(WaitFor([&] { return w->Sending() && !w->StepLine()->text().isEmpty(); }));
  const auto start = std::chrono::steady_clock::now();
  w->reject();
  Settle();
  EXPECT_EQ(D().Feedback(), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace tarvix::gui::testing
