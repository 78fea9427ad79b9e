// SPDX-License-Identifier: GPL-3.0-or-later
// The feedback mail end to end against a real SMTP server (aiosmtpd) the test runs
// on 127.0.0.1, plain and with STARTTLS, and the Send button's own rules.
#include "net/feedback.h"

#include <gtest/gtest.h>

#include <mutex>

#include "net/aiosmtpd_server.h"
#include "net/decode.h"
#include "net/mail_text.h"
#include "net/scripted_smtp_server.h"
#include "net/test_certificate.h"
#include "operations/operation_fixture.h"

namespace tarvix {
namespace {

using namespace std::chrono_literals;
using testing::AiosmtpdServer;
using testing::ReceivedMail;

constexpr char kUser[] = "feedback@mail.test";
constexpr char kPassword[] = "right-password";

FeedbackConfig ConfigFor(std::uint16_t port) {
  FeedbackConfig c = FeedbackConfig::Default();
  c.server = "127.0.0.1";
  c.port = port;
  c.login = kUser;
  c.password = kPassword;
  c.support_address = "support@maker.test";
  c.allow_plain_login = true;  // the test servers speak plain unless a test gives a certificate
  c.timeout = 20s;
  return c;
}

const std::chrono::system_clock::time_point kSentAt =
    std::chrono::sys_days{std::chrono::year{2025} / 11 / 30} + std::chrono::hours{23} +
    std::chrono::minutes{59} + std::chrono::seconds{58};

FeedbackResult Send(const FeedbackForm& form, const FeedbackConfig& config) {
  ExchangeControl control(config.timeout);
  return SendFeedback(form, config, control, [] { return kSentAt; });
}

// The header lines of a stored mail (folds joined) and its body.
struct ParsedMail {
  std::vector<std::string> names;  // header names in order
  std::map<std::string, std::string> values;
  std::string body;
};
ParsedMail Parse(const std::string& content) {
  ParsedMail m;
  const std::size_t end = content.find("\r\n\r\n");
  std::string header = content.substr(0, end + 2);
  m.body = content.substr(end + 4);
  std::size_t at = 0;
  std::string last;
  for (std::size_t eol; (eol = header.find("\r\n", at)) != std::string::npos; at = eol + 2) {
    const std::string line = header.substr(at, eol - at);
    if (!line.empty() && line[0] == ' ') {
      m.values[last] += "\r\n" + line;
      continue;
    }
    last = line.substr(0, line.find(':'));
    m.names.push_back(last);
    m.values[last] = line.substr(line.find(':') + 2);
  }
  return m;
}

// A quoted-printable body decoded (as stored: the text, its closing line end, and the
// empty line before the final ".").
std::string DecodedBody(const ParsedMail& m) {
  EXPECT_EQ(m.values.at("Content-Transfer-Encoding"), "quoted-printable");
  return testing::QuotedPrintableDecode(m.body);
}

class FeedbackMail : public ::testing::Test {
 protected:
  testing::ScratchFolder dir_;
};

TEST_F(FeedbackMail, SentWithAuthLoginArrivesAsTyped) {
  AiosmtpdServer server(dir_.path, kUser, kPassword);
  ASSERT_TRUE(server.Running()) << "python3-aiosmtpd is needed (scripts/deps installs it)";
  const FeedbackForm form{"写入失败", "第一行\n.\nsecond line", "tel 123"};
  const FeedbackResult r = Send(form, ConfigFor(server.Port()));
  ASSERT_TRUE(r.sent) << r.box.text << " / " << r.detail;
  EXPECT_EQ(r.box.text, "send succeed!   ");
  EXPECT_EQ(r.box.title, "info");
  EXPECT_EQ(r.box.icon, BoxIcon::kInformation);
  EXPECT_FALSE(r.secure);

  const std::vector<ReceivedMail> mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const ReceivedMail& mail = mails[0];
  EXPECT_TRUE(mail.authenticated);
  EXPECT_EQ(mail.mail_from, kUser);
  EXPECT_EQ(mail.rcpt_tos, std::vector<std::string>{"support@maker.test"});
  const ParsedMail m = Parse(mail.content);
  EXPECT_EQ(m.names, (std::vector<std::string>{"Date", "From", "X-Mailer", "Reply-To", "X-Priority",
                                               "To", "Subject", "MIME-Version", "Content-type",
                                               "Content-Transfer-Encoding"}));
  EXPECT_EQ(m.values.at("Date"), "Sun, 30 Nov 2025 23:59:58 +0000");
  EXPECT_EQ(testing::DecodeHeaderWords(m.values.at("From")),
            std::string("VRNT_Halcyrin 问题反馈 <") + kUser + ">");
  EXPECT_EQ(m.values.at("X-Mailer"), kMailerName);
  EXPECT_EQ(m.values.at("Reply-To"), kUser);
  EXPECT_EQ(m.values.at("X-Priority"), "3 (Normal)");
  EXPECT_EQ(m.values.at("To"), "<support@maker.test>");
  EXPECT_EQ(testing::DecodeHeaderWords(m.values.at("Subject")), "VRNT_Halcyrin 反馈主题:写入失败");
  EXPECT_EQ(m.values.at("Content-type"), "text/plain; charset=UTF-8");
  // The line of a single "." arrives intact, every line end is CR LF.
  EXPECT_EQ(DecodedBody(m),
            "VRNT_Tarvix V2.x:\r\n第一行\r\n.\r\nsecond line\r\n"
            "------------------联系方式-------------------\r\ntel 123\r\n\r\n");
}

// A server refuses lines over 998 bytes ("500 Line too long"); whatever the user
// types, however long its lines, arrives byte for byte.
TEST_F(FeedbackMail, LongLinesAndMixedTextArriveByteForByte) {
  std::string mixed;
  for (int i = 0; i < 3000; ++i) mixed += "芯片 chip " + std::to_string(i) + " 写入失败. ";
  const std::vector<FeedbackForm> forms = {{std::string(2000, 't'), std::string(120000, 'x'), "c"},
                                           {"中文 theme", mixed + "\n." + mixed, mixed}};
  for (const FeedbackForm& form : forms) {
    testing::ScratchFolder dir;
    AiosmtpdServer server(dir.path, kUser, kPassword);
    ASSERT_TRUE(server.Running());
    const FeedbackResult r = Send(form, ConfigFor(server.Port()));
    ASSERT_TRUE(r.sent) << r.box.text << " / " << r.detail;
    const auto mails = server.Mails();
    ASSERT_EQ(mails.size(), 1u);
    const ParsedMail m = Parse(mails[0].content);
    EXPECT_EQ(DecodedBody(m), WithCrLf(FeedbackBody(form)) + "\r\n\r\n");
    EXPECT_EQ(testing::DecodeHeaderWords(m.values.at("Subject")), FeedbackSubject(form));
  }
}

TEST_F(FeedbackMail, EmptyThemeAndContactArriveAsNull) {
  AiosmtpdServer server(dir_.path, kUser, kPassword);
  ASSERT_TRUE(server.Running());
  const FeedbackResult r = Send({"", "it does not start", ""}, ConfigFor(server.Port()));
  ASSERT_TRUE(r.sent) << r.detail;
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const ParsedMail m = Parse(mails[0].content);
  EXPECT_EQ(testing::DecodeHeaderWords(m.values.at("Subject")), "VRNT_Halcyrin 反馈主题:null");
  EXPECT_TRUE(m.body.ends_with("-------------------\r\nnull\r\n\r\n")) << m.body;
}

TEST_F(FeedbackMail, AThemeWithALineBreakCannotAddAHeader) {
  AiosmtpdServer server(dir_.path, kUser, kPassword);
  ASSERT_TRUE(server.Running());
  const FeedbackResult r = Send({"crash\r\nBcc: victim@example.com", "problem", "me\r\nX-Evil: 1"},
                                ConfigFor(server.Port()));
  ASSERT_TRUE(r.sent) << r.detail;
  const auto mails = server.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, std::vector<std::string>{"support@maker.test"});
  const ParsedMail m = Parse(mails[0].content);
  EXPECT_EQ(m.values.count("Bcc"), 0u);
  EXPECT_EQ(m.values.count("X-Evil"), 0u);
  EXPECT_EQ(testing::DecodeHeaderWords(m.values.at("Subject")),
            "VRNT_Halcyrin 反馈主题:crash Bcc: victim@example.com");
  // The contact is body text; its line break stays a line break there.
  EXPECT_TRUE(m.body.ends_with("\r\nme\r\nX-Evil: 1\r\n\r\n")) << m.body;
}

TEST_F(FeedbackMail, AWrongPasswordIsReportedAsSuch) {
  AiosmtpdServer server(dir_.path, kUser, kPassword);
  ASSERT_TRUE(server.Running());
  FeedbackConfig config = ConfigFor(server.Port());
  config.password = "wrong";
  const FeedbackResult r = Send({"t", "p", "c"}, config);
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.error_code, 404);
  EXPECT_EQ(r.box.text, "sorry:Bad login or password.");
  EXPECT_EQ(r.box.title, "error");
  EXPECT_EQ(r.box.icon, BoxIcon::kWarning);
  EXPECT_TRUE(server.Mails().empty());
}

TEST_F(FeedbackMail, StartTlsWithATestCertificate) {
  const testing::TestCertificate cert = testing::MakeTestCertificate(dir_.path, "smtp");
  const testing::TestCertificate stranger = testing::MakeTestCertificate(dir_.path, "stranger");
  ASSERT_TRUE(cert.ok && stranger.ok);
  // aiosmtpd names STARTTLS among its EHLO lines; other servers name it last.
  for (const bool starttls_last : {false, true}) {
    testing::ScratchFolder dir;
    AiosmtpdServer server(dir.path, kUser, kPassword, cert.certificate, cert.key, starttls_last);
    ASSERT_TRUE(server.Running());
    FeedbackConfig config = ConfigFor(server.Port());
    config.allow_plain_login = false;
    config.ca_file = cert.certificate.string();
    const FeedbackResult r = Send({"tls", "over TLS", "x"}, config);
    ASSERT_TRUE(r.sent) << starttls_last << ": " << r.box.text << " / " << r.detail;
    EXPECT_TRUE(r.secure);
    const auto mails = server.Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_TRUE(mails[0].tls);
    EXPECT_TRUE(mails[0].authenticated);

    // The same server refuses the login to a client that does not trust it.
    config.ca_file = stranger.certificate.string();
    const FeedbackResult refused = Send({"tls", "over TLS", "x"}, config);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.box.text, "sorry:Server returned error after sending EHLO.");
    EXPECT_EQ(server.Mails().size(), 1u);
  }
}

TEST(FeedbackForm, AnEmptyProblemSendsNothing) {
  testing::ScriptedSmtpServer server;
  FeedbackConfig config = ConfigFor(server.Port());
  const FeedbackResult r = Send({"theme", "", "contact"}, config);
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.box.text, "please input your problem!   ");
  EXPECT_EQ(r.box.title, "info");
  EXPECT_EQ(r.box.icon, BoxIcon::kInformation);

  FeedbackSend job(config);
  ASSERT_TRUE(job.Start({"theme", "", "contact"}));
  ASSERT_TRUE(job.Wait(1s));
  EXPECT_EQ(job.Result()->box.text, "please input your problem!   ");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(server.Connections(), 0);
}

TEST(FeedbackForm, SubjectBodyAndNote) {
  EXPECT_EQ(FeedbackSubject({"", "p", ""}), "VRNT_Halcyrin 反馈主题:null");
  EXPECT_EQ(FeedbackSubject({"T", "p", ""}), "VRNT_Halcyrin 反馈主题:T");
  EXPECT_EQ(FeedbackBody({"", "p", ""}),
            "VRNT_Tarvix V2.x:\r\np\r\n------------------联系方式-------------------\r\nnull");
  const FeedbackConfig config = FeedbackConfig::Default();
  const std::string note = FeedbackNote(config);
  EXPECT_NE(note.find(config.support_address), std::string::npos);
  EXPECT_NE(note.find("\r\n"), std::string::npos);
  // The account is built from its stored slices.
  EXPECT_EQ(config.login, MailLogin());
  EXPECT_EQ(MailLogin().size(), 6u + 1 + std::string(kMailDomain).size());
  EXPECT_EQ(MailLogin().substr(6), std::string("@") + kMailDomain);
  EXPECT_EQ(MailPassword().size(), 15u);
  EXPECT_EQ(config.port, 25);
}

// The job a window drives.
TEST(FeedbackJob, ShowsItsStepsAndEndsWithTheBox) {
  testing::ScriptedSmtpServer server;
  std::mutex mutex;
  std::vector<std::string> steps;
  FeedbackSend job(ConfigFor(server.Port()));  // after what its notice uses
  job.SetNotify([&] {
    const std::string step = job.Progress().step;
    std::lock_guard lock(mutex);
    if (steps.empty() || steps.back() != step) steps.push_back(step);
  });
  ASSERT_TRUE(job.Start({"t", "p", "c"}));
  ASSERT_TRUE(job.Wait(20s));
  ASSERT_TRUE(job.Result().has_value());
  EXPECT_EQ(job.Result()->box.text, "send succeed!   ");
  std::lock_guard lock(mutex);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"connecting to 127.0.0.1:" + std::to_string(server.Port()),
                                      "EHLO", "AUTH LOGIN", "MAIL FROM", "RCPT TO", "DATA",
                                      "sending the message", "QUIT"}));
}

TEST(FeedbackJob, CancelAndTimeOut) {
  testing::ScriptedSmtpServer server;
  server.Reply(testing::SmtpStep::kData, testing::kSilence);
  FeedbackConfig config = ConfigFor(server.Port());
  config.timeout = 30s;
  FeedbackSend job(config);
  ASSERT_TRUE(job.Start({"t", "p", "c"}));
  EXPECT_FALSE(job.Start({"t", "p", "c"}));
  for (int i = 0; i < 500 && job.Progress().step != "DATA"; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(job.Running());
  job.Cancel();
  ASSERT_TRUE(job.Wait(5s));
  EXPECT_TRUE(job.Result()->cancelled);
  EXPECT_FALSE(job.Result()->sent);
  EXPECT_TRUE(job.Result()->box.text.empty());

  testing::ScriptedSmtpServer slow;
  slow.Reply(testing::SmtpStep::kData, testing::kSilence);
  config = ConfigFor(slow.Port());
  config.timeout = 400ms;
  const FeedbackResult timed_out = Send({"t", "p", "c"}, config);
  EXPECT_FALSE(timed_out.sent);
  EXPECT_FALSE(timed_out.cancelled);
  EXPECT_EQ(timed_out.box.text, "sorry:Function recv() failed.");
}

}  // namespace
}  // namespace tarvix
