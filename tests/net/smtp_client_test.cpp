// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP client against a scripted server on 127.0.0.1: the exchange byte for
// byte, the error code of every step, STARTTLS, and the mail's text.
#include "net/smtp_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/base64.h"
#include "net/decode.h"
#include "net/scripted_smtp_server.h"
#include "net/smtp_error.h"
#include "net/test_certificate.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using namespace std::chrono_literals;
using testing::kHangUp;
using testing::kSilence;
using testing::ScriptedSmtpServer;
using testing::SmtpStep;

const std::chrono::system_clock::time_point kSentAt =
    std::chrono::sys_days{std::chrono::year{2024} / 3 / 7} + std::chrono::hours{8} +
    std::chrono::minutes{9} + std::chrono::seconds{10};

std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, 255) == 0 && name[0] != '\0' ? name : "domain";
}

// A client filled as the feedback dialog fills it.
void Fill(SmtpClient& client, const std::string& host, std::uint16_t port) {
  client.SetServer(host, port);
  client.SetLogin("sender@mail.test");
  client.SetPassword("secret-pass");
  client.SetSenderName("Sender");
  client.SetSenderAddress("sender@mail.test");
  client.SetReplyTo("sender@mail.test");
  client.SetSubject("Subject line");
  ASSERT_TRUE(client.AddRecipient("support@maker.test"));
  client.SetPriority(mail_priority::kNormal);
  client.SetMailer("TestMailer");
  client.SetBody("Body line");
  client.SetClock([] { return kSentAt; });
  client.AllowPlainLogin(true);  // the scripted server speaks plain unless told otherwise
}

bool SendTo(SmtpClient& client, std::chrono::milliseconds timeout = 10s) {
  ExchangeControl control(timeout);
  return client.Send(control);
}

TEST(SmtpClient, PlainExchangeByteForByte) {
  ScriptedSmtpServer server;
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  ASSERT_TRUE(SendTo(client)) << client.LastErrorText() << " " << client.Detail();
  EXPECT_EQ(client.LastError(), 0);
  EXPECT_FALSE(client.WasSecure());
  ASSERT_TRUE(server.WaitDone());
  const std::string header =
      "Date: Thu, 07 Mar 2024 08:09:10 +0000\r\n"
      "From: Sender <sender@mail.test>\r\n"
      "X-Mailer: TestMailer\r\n"
      "Reply-To: sender@mail.test\r\n"
      "X-Priority: 3 (Normal)\r\n"
      "To: <support@maker.test>\r\n"
      "Subject: Subject line\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-type: text/plain; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "\r\n";
  EXPECT_EQ(server.Received(), "EHLO " + HostName() +
                                   "\r\n"
                                   "AUTH LOGIN\r\n" +
                                   Base64Encode("sender@mail.test") + "\r\n" +
                                   Base64Encode("secret-pass") +
                                   "\r\n"
                                   "MAIL FROM:<sender@mail.test>\r\n"
                                   "RCPT TO:<support@maker.test>\r\n"
                                   "DATA\r\n" +
                                   header +
                                   "Body line\r\n"
                                   "\r\n.\r\n"
                                   "QUIT\r\n");
}

// A STARTTLS a man in the middle took out of the reply must not get the password.
TEST(SmtpClient, WithoutStartTlsNoLoginGoesOutUnlessAllowed) {
  ScriptedSmtpServer server;
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.AllowPlainLogin(false);
  EXPECT_FALSE(SendTo(client));
  EXPECT_EQ(client.LastError(), smtp_error::kPlainLoginRefused);
  EXPECT_EQ(client.LastErrorText(), "Server offers no encryption: login not sent.");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received(), "EHLO " + HostName() + "\r\n");
}

struct StepFailure {
  SmtpStep step;
  std::string reply;
  int code;
  std::string last_command;  // the last thing the client sent
};

TEST(SmtpClient, EachStepFailsWithItsOwnCode) {
  const std::vector<StepFailure> cases = {
      {SmtpStep::kGreeting, "421 busy\r\n", 401, ""},
      {SmtpStep::kGreeting, "220 hello\r\n" + kHangUp, 400, ""},
      {SmtpStep::kEhlo, "502 no\r\n", 301, "EHLO " + HostName()},
      {SmtpStep::kEhlo, kHangUp, 400, "EHLO " + HostName()},
      {SmtpStep::kAuthLogin, "504 not here\r\n", 302, "AUTH LOGIN"},
      {SmtpStep::kLogin, "535 who\r\n", 405, Base64Encode("sender@mail.test")},
      {SmtpStep::kPassword, "535 5.7.8 bad\r\n", 404, Base64Encode("secret-pass")},
      {SmtpStep::kPassword, "454 later\r\n", 405, Base64Encode("secret-pass")},
      {SmtpStep::kMailFrom, "553 no\r\n", 300, "MAIL FROM:<sender@mail.test>"},
      {SmtpStep::kRcptTo, "550 no such user\r\n", 305, "RCPT TO:<support@maker.test>"},
      {SmtpStep::kData, "554 no\r\n", 303, "DATA"},
      {SmtpStep::kEndOfData, "552 too big\r\n", 306, "."},
      {SmtpStep::kEndOfData, kHangUp, 400, "."},
  };
  for (const StepFailure& f : cases) {
    ScriptedSmtpServer server;
    server.Reply(f.step, f.reply);
    SmtpClient client;
    Fill(client, server.Host(), server.Port());
    EXPECT_FALSE(SendTo(client)) << f.code;
    EXPECT_EQ(client.LastError(), f.code) << f.reply;
    ASSERT_TRUE(server.WaitDone());
    // Nothing was sent after the step that failed.
    const std::string received = server.Received();
    const std::string expected_tail = f.last_command.empty() ? "" : f.last_command + "\r\n";
    EXPECT_TRUE(received.ends_with(expected_tail)) << f.code << ": " << received;
    if (f.last_command.empty()) {
      EXPECT_EQ(received, "") << f.code;
    }
  }
}

TEST(SmtpClient, ClosedAfterTheGreetingSaysSo) {
  ScriptedSmtpServer server;
  server.Reply(SmtpStep::kGreeting, "220 hello\r\n" + kHangUp);
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  EXPECT_FALSE(SendTo(client));
  EXPECT_EQ(client.LastError(), smtp_error::kConnectionClosed);
  EXPECT_EQ(client.LastErrorText(), "Server has closed the connection.");
}

TEST(SmtpClient, AMailTakenBeforeAFailedGoodbyeCountsAsSent) {
  for (const std::string& quit : {std::string("500 what\r\n"), kHangUp}) {
    ScriptedSmtpServer server;
    server.Reply(SmtpStep::kQuit, quit);
    SmtpClient client;
    Fill(client, server.Host(), server.Port());
    EXPECT_TRUE(SendTo(client));
    EXPECT_EQ(client.LastError(), quit == kHangUp ? 400 : 304);
  }
}

TEST(SmtpClient, RepliesInPiecesAndOverSeveralLines) {
  ScriptedSmtpServer::Options options;
  options.split_replies = true;
  ScriptedSmtpServer server(options);
  server.Reply(SmtpStep::kGreeting, "220-first line\r\n220-second line\r\n220 ready\r\n");
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  EXPECT_TRUE(SendTo(client)) << client.LastErrorText() << " " << client.Detail();
  EXPECT_EQ(client.LastError(), 0);
}

TEST(SmtpClient, ARefusedRecipientAmongOthersStillSends) {
  ScriptedSmtpServer server;
  server.ReplyOnce(SmtpStep::kRcptTo, "550 5.1.1 no such user\r\n");
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  ASSERT_TRUE(client.AddRecipient("second@maker.test", "Second"));
  EXPECT_TRUE(SendTo(client)) << client.LastErrorText() << " " << client.Detail();
  // The refusal is on record; the mail still went to the recipient that was taken.
  EXPECT_EQ(client.LastError(), smtp_error::kRcptToFailed);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_NE(
      server.Received().find("RCPT TO:<support@maker.test>\r\nRCPT TO:<second@maker.test>\r\n"),
      std::string::npos);
  EXPECT_NE(server.Data().find("\r\nTo: <support@maker.test>,Second<second@maker.test>\r\n"),
            std::string::npos)
      << server.Data();
}

TEST(SmtpClient, MissingFieldsRecordTheirCodes) {
  {
    ScriptedSmtpServer server;
    SmtpClient client;
    Fill(client, server.Host(), server.Port());
    client.SetLogin("");
    EXPECT_FALSE(SendTo(client));
    EXPECT_EQ(client.LastError(), smtp_error::kUndefinedLogin);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_TRUE(server.Received().ends_with("AUTH LOGIN\r\n"));
  }
  {
    ScriptedSmtpServer server;
    SmtpClient client;
    Fill(client, server.Host(), server.Port());
    client.SetPassword("");
    EXPECT_FALSE(SendTo(client));
    EXPECT_EQ(client.LastError(), smtp_error::kUndefinedPassword);
  }
  {
    ScriptedSmtpServer server;
    SmtpClient client;
    Fill(client, server.Host(), server.Port());
    client.SetSenderAddress("");
    EXPECT_FALSE(SendTo(client));
    EXPECT_EQ(client.LastError(), smtp_error::kUndefinedFrom);
  }
  {
    ScriptedSmtpServer server;
    SmtpClient client;
    client.SetServer(server.Host(), server.Port());
    client.SetLogin("a@b.test");
    client.SetPassword("p");
    client.SetSenderAddress("a@b.test");
    client.AllowPlainLogin(true);
    EXPECT_FALSE(client.AddRecipient(""));
    EXPECT_EQ(client.LastError(), smtp_error::kUndefinedRecipientMail);
    EXPECT_FALSE(client.AddRecipient("x@y.test>\r\nRCPT TO:<z@y.test"));
    EXPECT_FALSE(SendTo(client));
    EXPECT_EQ(client.LastError(), smtp_error::kUndefinedRecipients);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received().find("RCPT"), std::string::npos);
  }
}

TEST(SmtpClient, UnreachableServersAreAnInvalidSocket) {
  std::uint16_t closed_port;
  {
    ScriptedSmtpServer gone;
    closed_port = gone.Port();
  }
  for (const std::string& host : {std::string("127.0.0.1"), std::string("300.1.2.3"),
                                  std::string("1.2.3"), std::string("")}) {
    SmtpClient client;
    Fill(client, host, closed_port);
    EXPECT_FALSE(SendTo(client)) << host;
    EXPECT_EQ(client.LastError(), smtp_error::kInvalidSocket) << host;
    EXPECT_FALSE(client.Detail().empty()) << host;
  }
}

TEST(SmtpClient, ASilentServerTimesOutAsAFailedReceive) {
  ScriptedSmtpServer server;
  server.Reply(SmtpStep::kGreeting, kSilence);
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  EXPECT_FALSE(SendTo(client, 300ms));
  EXPECT_EQ(client.LastError(), smtp_error::kReceiveFailed);
  EXPECT_EQ(client.Detail(), "timed out");
}

TEST(SmtpClient, HeaderVariants) {
  SmtpClient client;
  client.SetClock([] { return kSentAt; });
  EXPECT_EQ(client.BuildHeader(), std::nullopt);
  EXPECT_EQ(client.LastError(), smtp_error::kUndefinedRecipients);
  ASSERT_TRUE(client.AddRecipient("to@x.test"));
  EXPECT_EQ(client.BuildHeader(), std::nullopt);
  EXPECT_EQ(client.LastError(), smtp_error::kUndefinedFrom);
  client.SetSenderAddress("from@x.test");
  client.SetPriority(mail_priority::kHigh);
  std::optional<std::string> h = client.BuildHeader();
  ASSERT_TRUE(h.has_value());
  // No subject: noted, written empty; no mailer and no reply-to lines.
  EXPECT_EQ(client.LastError(), smtp_error::kUndefinedSubject);
  EXPECT_EQ(*h,
            "Date: Thu, 07 Mar 2024 08:09:10 +0000\r\n"
            "From:  <from@x.test>\r\n"
            "X-Priority: 2 (High)\r\n"
            "To: <to@x.test>\r\n"
            "Subject:  \r\n"
            "MIME-Version: 1.0\r\n"
            "Content-type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: 7bit\r\n\r\n");
  client.SetPriority(mail_priority::kLow);
  EXPECT_NE(client.BuildHeader()->find("X-Priority: 4 (Low)\r\n"), std::string::npos);
  client.SetPriority(7);
  EXPECT_NE(client.BuildHeader()->find("X-Priority: 3 (Normal)\r\n"), std::string::npos);
  client.SetBody("中文");
  EXPECT_NE(client.BuildHeader()->find("Content-Transfer-Encoding: quoted-printable\r\n"),
            std::string::npos);
}

TEST(SmtpClient, BodyLinesAreDotStuffedAndLineEndsMadeCrLf) {
  ScriptedSmtpServer server;
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetBody(".\nfirst\r\n.\r\n..two\rlast.\n.");
  ASSERT_TRUE(SendTo(client));
  ASSERT_TRUE(server.WaitDone());
  const std::string data = server.Data();
  const std::size_t body = data.find("\r\n\r\n") + 4;
  EXPECT_EQ(data.substr(body), "..\r\nfirst\r\n..\r\n...two\r\nlast.\r\n..\r\n\r\n.\r\n");
}

TEST(SmtpClient, ABodyLargerThanTheBufferArrivesWhole) {
  ScriptedSmtpServer server;
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "line " + std::to_string(i) + "\r\n";
  ASSERT_GT(body.size(), 2 * kSmtpBufferSize);
  client.SetBody(body);
  ASSERT_TRUE(SendTo(client)) << client.LastErrorText();
  ASSERT_TRUE(server.WaitDone());
  const std::string data = server.Data();
  EXPECT_EQ(data.substr(data.find("\r\n\r\n") + 4), body + "\r\n\r\n.\r\n");
}

TEST(SmtpClient, ASubjectWithALineBreakStaysOneHeader) {
  ScriptedSmtpServer server;
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetSubject("hello\r\nBcc: victim@example.com\r\n\r\nfake body");
  ASSERT_TRUE(SendTo(client));
  ASSERT_TRUE(server.WaitDone());
  const std::string data = server.Data();
  const std::string header = data.substr(0, data.find("\r\n\r\n") + 2);
  EXPECT_NE(header.find("\r\nSubject: hello Bcc: victim@example.com  fake body\r\n"),
            std::string::npos)
      << header;
  EXPECT_EQ(header.find("\r\nBcc:"), std::string::npos);
  EXPECT_EQ(data.substr(data.find("\r\n\r\n") + 4), "Body line\r\n\r\n.\r\n");
}

// STARTTLS with a certificate made for the test.
class SmtpTls : public ::testing::Test {
 protected:
  void SetUp() override {
    cert_ = testing::MakeTestCertificate(dir_.path, "server");
    other_ = testing::MakeTestCertificate(dir_.path, "other");
    ASSERT_TRUE(cert_.ok && other_.ok);
    options_.offer_starttls = true;
    options_.certificate = cert_.certificate;
    options_.key = cert_.key;
  }
  testing::ScratchFolder dir_;
  testing::TestCertificate cert_, other_;
  ScriptedSmtpServer::Options options_;
};

TEST_F(SmtpTls, UpgradesBeforeTheLoginWhenOffered) {
  ScriptedSmtpServer server(options_);
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetTrustedCertificates(cert_.certificate.string());
  ASSERT_TRUE(SendTo(client)) << client.LastErrorText() << " " << client.Detail();
  EXPECT_TRUE(client.WasSecure());
  ASSERT_TRUE(server.WaitDone());
  ASSERT_TRUE(server.UsedTls());
  const std::string hello = "EHLO " + HostName() + "\r\n";
  const std::string all = server.Received();
  const std::string secure = server.ReceivedOverTls();
  // In the clear: the greeting's EHLO and STARTTLS only. The rest went encrypted,
  // starting with a fresh EHLO.
  EXPECT_EQ(all.substr(0, all.size() - secure.size()), hello + "STARTTLS\r\n");
  EXPECT_TRUE(secure.starts_with(hello + "AUTH LOGIN\r\n" + Base64Encode("sender@mail.test") +
                                 "\r\n" + Base64Encode("secret-pass") + "\r\n"))
      << secure;
  EXPECT_TRUE(secure.ends_with("\r\n.\r\nQUIT\r\n"));
}

TEST_F(SmtpTls, AnUntrustedCertificateStopsBeforeThePassword) {
  ScriptedSmtpServer server(options_);
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetTrustedCertificates(other_.certificate.string());
  EXPECT_FALSE(SendTo(client));
  EXPECT_EQ(client.LastError(), smtp_error::kEhloFailed);
  EXPECT_NE(client.Detail().find("certificate"), std::string::npos) << client.Detail();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Received().find(Base64Encode("secret-pass")), std::string::npos);
  EXPECT_EQ(server.Received().find("AUTH"), std::string::npos);
}

TEST_F(SmtpTls, ARefusedStartTlsStopsBeforeTheLogin) {
  ScriptedSmtpServer server(options_);
  server.Reply(SmtpStep::kStartTls, "454 4.7.0 TLS not available\r\n");
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetTrustedCertificates(cert_.certificate.string());
  EXPECT_FALSE(SendTo(client));
  EXPECT_EQ(client.LastError(), smtp_error::kEhloFailed);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_TRUE(server.Received().ends_with("STARTTLS\r\n"));
}

TEST_F(SmtpTls, TheCertificateMustNameTheServer) {
  // Trusted, but made out to another server.
  const testing::TestCertificate elsewhere =
      testing::MakeTestCertificate(dir_.path, "elsewhere", "DNS:mail.elsewhere.test");
  ASSERT_TRUE(elsewhere.ok);
  options_.certificate = elsewhere.certificate;
  options_.key = elsewhere.key;
  ScriptedSmtpServer server(options_);
  SmtpClient client;
  Fill(client, server.Host(), server.Port());
  client.SetTrustedCertificates(elsewhere.certificate.string());
  EXPECT_FALSE(SendTo(client));
  EXPECT_EQ(client.LastError(), smtp_error::kEhloFailed);
  EXPECT_NE(client.Detail().find("certificate"), std::string::npos) << client.Detail();
}

}  // namespace
}  // namespace tarvix
