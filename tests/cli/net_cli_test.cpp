// SPDX-License-Identifier: GPL-3.0-or-later
// check-new and feedback through the real binary, against servers on 127.0.0.1.
#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "cli/cli_spawn.h"
#include "net/base64.h"
#include "net/http_test_server.h"
#include "net/scripted_smtp_server.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using testing::HttpTestServer;
using testing::RunCli;
using testing::ScriptedSmtpServer;
using testing::SmtpStep;
using testing::SpawnedCli;

const std::string kDb = TARVIX_DATABASE_DAT;
constexpr char kPath[] = "/updata/VRNT_Tarvix_CV_Info.pdf";

TEST(CliCheckNew, PrintsTheFiveLinesWithTheSimulatedProgrammer) {
  HttpTestServer server(200, "\x41\x23");
  const auto r = RunCli({"--database", kDb, "--simulate", "check-new", "--url", server.Url(kPath)});
  ASSERT_EQ(r.status, 0) << r.err;
  // The simulated programmer answers 0x12 (V2.2); the document names 0x23.
  EXPECT_EQ(r.out,
            "new software version: V4.1  \n"
            "new firmware version: V2.3     \n"
            "current software version: V4.0     \n"
            "current firmware version: V2.2   \n"
            "new software is available,new firmware available\n");
}

TEST(CliCheckNew, JsonHasTheLinesAndTheLink) {
  HttpTestServer server(200, "\x40\x22");
  const auto r =
      RunCli({"--database", kDb, "--simulate", "--json", "check-new", "--url", server.Url(kPath)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"ok\":true,\"status\":\"\",\"lines\":[\"new software version: V4.0  \","
            "\"new firmware version: V2.2     \",\"current software version: V4.0     \","
            "\"current firmware version: V2.2   \","
            "\"current software is latest,current firmware is latest\"],\"http_status\":200,"
            "\"error_code\":0,\"error\":\"\",\"link\":\"http://www.tarvix.example/\","
            "\"firmware_byte\":18}\n");
}

TEST(CliCheckNew, ARefusedFetchShowsBothBoxesAndFails) {
  HttpTestServer server(404, "");
  const auto r = RunCli({"--database", kDb, "--simulate", "check-new", "--url", server.Url(kPath)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("VRNT_Tarvix: 请求地址不存在:#404\nerror: version access failed    \n"),
            std::string::npos)
      << r.err;
  const auto json =
      RunCli({"--database", kDb, "--simulate", "--json", "check-new", "--url", server.Url(kPath)});
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("\"ok\":false"), std::string::npos);
  EXPECT_NE(json.out.find("\"lines\":[]"), std::string::npos);
  EXPECT_NE(json.out.find("\"error_code\":404,\"error\":\"请求地址不存在:#404\""),
            std::string::npos)
      << json.out;
}

TEST(CliCheckNew, WithoutAProgrammerOnlyTheFirmwareLineFails) {
  HttpTestServer server(200, "\x40\x21");
  // No --simulate: the real bus, which has no programmer on a test machine.
  const auto r = RunCli({"check-new", "--url", server.Url(kPath)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "new software version: V4.0  \n"
            "new firmware version: V2.1     \n"
            "current software version: V4.0     \n"
            "current firmware version access failed\n"
            "current software is latest\n");
  EXPECT_EQ(RunCli({"check-new", "--url"}).status, 2);
  EXPECT_EQ(RunCli({"check-new", "now"}).status, 2);
}

TEST(CliFeedback, SendsAndSaysSo) {
  ScriptedSmtpServer server;
  const auto r = RunCli({"feedback", "--problem", "line one\nline two", "--theme", "T", "--server",
                         server.Address(), "--allow-plain-login"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "send succeed!   \n");
  ASSERT_TRUE(server.WaitDone());
  // The program's own account, the support address, and the typed text with CR LF.
  EXPECT_NE(server.Received().find("MAIL FROM:<tarvix@mailhost.example>\r\n"), std::string::npos);
  EXPECT_NE(server.Received().find("RCPT TO:<support@tarvix.example>\r\n"), std::string::npos);
  EXPECT_NE(server.Data().find("\r\n\r\nVRNT_Tarvix V2.x:\r\nline one\r\nline two\r\n"),
            std::string::npos)
      << server.Data();
  EXPECT_TRUE(server.Data().ends_with("\r\nnull\r\n\r\n.\r\n"));
}

TEST(CliFeedback, FailuresPrintTheSorryTextAndTheCode) {
  // Without STARTTLS the login is not sent unless the command line allows it.
  ScriptedSmtpServer plain;
  const auto refused = RunCli({"feedback", "--problem", "p", "--server", plain.Address()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "sorry:Server offers no encryption: login not sent.\n");
  ASSERT_TRUE(plain.WaitDone());
  EXPECT_EQ(plain.Received().find("AUTH"), std::string::npos);

  ScriptedSmtpServer server;
  server.Reply(SmtpStep::kPassword, "535 5.7.8 no\r\n");
  const auto r =
      RunCli({"feedback", "--problem", "p", "--server", server.Address(), "--allow-plain-login"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "sorry:Bad login or password.\n");
  EXPECT_NE(r.err.find("535 5.7.8 no"), std::string::npos) << r.err;

  ScriptedSmtpServer again;
  again.Reply(SmtpStep::kPassword, "535 5.7.8 no\r\n");
  const auto json = RunCli(
      {"--json", "feedback", "--problem", "p", "--server", again.Address(), "--allow-plain-login"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out.rfind("{\"ok\":false,\"status\":\"\",\"error_code\":404,"
                           "\"text\":\"sorry:Bad login or password.\",",
                           0),
            0u)
      << json.out;
}

TEST(CliFeedback, AnEmptyProblemAndBadArguments) {
  ScriptedSmtpServer server;
  const auto empty = RunCli({"feedback", "--problem", "", "--server", server.Address()});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "please input your problem!   \n");
  EXPECT_EQ(server.Connections(), 0);

  EXPECT_EQ(RunCli({"feedback"}).status, 2);
  EXPECT_EQ(RunCli({"feedback", "--theme", "t"}).status, 2);
  EXPECT_EQ(RunCli({"feedback", "--problem", "p", "--server", "host:99999"}).status, 2);
  EXPECT_EQ(RunCli({"feedback", "--problem", "p", "--server", ":25"}).status, 2);
  EXPECT_EQ(RunCli({"feedback", "--problem", "p", "--bcc", "x"}).status, 2);
}

// Ctrl-C while a server keeps the exchange waiting ends it at once: "interrupted",
// 130, and neither the lines nor a failure box.
TEST(CliNetInterrupt, CtrlCStopsAWaitingExchange) {
  using namespace std::chrono_literals;
  HttpTestServer http(0, "");  // takes the request and never answers
  ScriptedSmtpServer smtp;
  smtp.Reply(SmtpStep::kGreeting, testing::kSilence);
  const std::vector<std::vector<std::string>> runs = {
      {"check-new", "--url", http.Url(kPath)},
      {"feedback", "--problem", "p", "--server", smtp.Address()}};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    testing::ScratchFolder dir;
    SpawnedCli cli(dir.path, runs[i]);
    ASSERT_TRUE(cli.Started());
    const auto reached = [&] { return i == 0 ? http.Connections() > 0 : smtp.Connections() > 0; };
    for (int t = 0; t < 2000 && !reached(); ++t) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(reached()) << runs[i][0];
    const auto pressed = std::chrono::steady_clock::now();
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 130) << runs[i][0];
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 10s) << runs[i][0];  // not the 30 s
    EXPECT_EQ(cli.Out(), "") << runs[i][0];
    EXPECT_EQ(cli.Err(), "interrupted\n") << runs[i][0];
  }
}

}  // namespace
}  // namespace tarvix
