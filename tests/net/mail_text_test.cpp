// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of an outgoing mail: Base64, the date, header texts, line ends,
// dot-stuffing and the table of error texts.
#include "net/mail_text.h"

#include <gtest/gtest.h>

#include "net/base64.h"
#include "net/decode.h"
#include "net/smtp_error.h"

namespace tarvix {
namespace {

using testing::Base64Decode;
using testing::DecodeHeaderWords;

TEST(Base64, EncodesTheStandardVectors) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  // Long input stays on one line (a login line must not break).
  const std::string long_text(200, '\xFF');
  const std::string encoded = Base64Encode(long_text);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(Base64Decode(encoded), long_text);
}

TEST(MailDate, IsUtcWithEnglishNamesAndAZone) {
  using namespace std::chrono;
  // 2024-02-29 23:05:09 UTC, a Thursday; single digits get their leading zero.
  const auto leap = sys_days{year{2024} / February / 29} + hours{23} + minutes{5} + seconds{9};
  EXPECT_EQ(MailDate(leap), "Thu, 29 Feb 2024 23:05:09 +0000");
  const auto early = sys_days{year{2025} / January / 5} + hours{0} + minutes{0} + seconds{1};
  EXPECT_EQ(MailDate(early), "Sun, 05 Jan 2025 00:00:01 +0000");
  const auto december = sys_days{year{1999} / December / 31} + hours{12};
  EXPECT_EQ(MailDate(december), "Fri, 31 Dec 1999 12:00:00 +0000");
}

TEST(HeaderText, UserLineBreaksNeverStartAHeaderLine) {
  EXPECT_EQ(OneLine("a\r\nBcc: x@y"), "a Bcc: x@y");
  EXPECT_EQ(OneLine("a\nb\rc\r\rd"), "a b c  d");
  EXPECT_EQ(OneLine(std::string("tab\tnul\0end", 11)), "tab\tnul end");
  EXPECT_EQ(HeaderText("plain theme"), "plain theme");
  EXPECT_EQ(HeaderText("evil\r\nBcc: victim@example.com"), "evil Bcc: victim@example.com");
}

TEST(HeaderText, NonAsciiBecomesEncodedWordsThatDecodeBack) {
  const std::string subject = "VRNT_Halcyrin 反馈主题:" + std::string(30, 'x') + "写不进去\r\n好";
  const std::string encoded = HeaderText(subject);
  EXPECT_TRUE(IsAscii(encoded));
  EXPECT_EQ(DecodeHeaderWords(encoded), OneLine(subject));
  // Every word is short enough, every fold is CR LF and a blank, and no word splits
  // a character (each decodes to valid UTF-8 on its own: no stray continuation byte
  // at its start).
  std::size_t at = 0;
  for (std::size_t end; at <= encoded.size(); at = end + 3) {
    end = encoded.find("\r\n ", at);
    if (end == std::string::npos) end = encoded.size();
    const std::string word = encoded.substr(at, end - at);
    EXPECT_LE(word.size(), 75u) << word;
    ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=")) << word;
    const std::string bytes = Base64Decode(word.substr(10, word.size() - 12));
    ASSERT_FALSE(bytes.empty());
    EXPECT_NE(static_cast<unsigned char>(bytes[0]) & 0xC0, 0x80) << word;
    if (end == encoded.size()) break;
  }
}

TEST(BodyText, BareLineEndsBecomeCrLf) {
  EXPECT_EQ(WithCrLf("a\nb\rc\r\nd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
  EXPECT_EQ(WithCrLf("\r"), "\r\n");
  EXPECT_EQ(WithCrLf(""), "");
}

TEST(BodyText, LinesThatBeginWithADotGetOneMore) {
  EXPECT_EQ(DotStuffed(".\r\n"), "..\r\n");
  EXPECT_EQ(DotStuffed("a\r\n.\r\n..b\r\nc.d\r\n."), "a\r\n..\r\n...b\r\nc.d\r\n..");
  // A dot after a bare LF is not at a line start once line ends are CR LF; the two
  // steps run in that order.
  EXPECT_EQ(DotStuffed(WithCrLf("x\n.")), "x\r\n..");
}

TEST(SmtpErrors, TableInOrderAndUnknownCodes) {
  const auto& table = SmtpErrorTable();
  ASSERT_EQ(table.size(), 32u);
  EXPECT_EQ(table.front().first, 0);
  EXPECT_EQ(table.back().first, 407);
  for (std::size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1].first, table[i].first);
  EXPECT_EQ(SmtpErrorText(0), "");
  EXPECT_EQ(SmtpErrorText(203), "Undefined at least one reciepent.");
  EXPECT_EQ(SmtpErrorText(206), "Undefined recipent mail.");
  EXPECT_EQ(SmtpErrorText(306), "Error in message body");
  EXPECT_EQ(SmtpErrorText(404), "Bad login or password.");
  EXPECT_EQ(SmtpErrorText(105), "Functions gethostbyname() or gethostbyaddr() failed.");
  EXPECT_EQ(SmtpErrorText(109), "Undefined error id.");
  EXPECT_EQ(SmtpErrorText(-1), "Undefined error id.");
}

}  // namespace
}  // namespace tarvix
