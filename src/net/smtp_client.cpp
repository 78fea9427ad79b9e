// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/smtp_client.h"

#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <new>
#include <thread>

#include "net/base64.h"
#include "net/mail_text.h"
#include "net/smtp_error.h"
#include "net/smtp_reply.h"

namespace tarvix {

namespace {

// The pause between a command and the read of its reply.
constexpr std::chrono::milliseconds kReplyPause{10};
constexpr std::size_t kHostNameLimit = 255;

bool UsableAddress(std::string_view address) {
  if (address.empty()) return false;
  for (const char c : address)
    if (c == '\r' || c == '\n' || c == '<' || c == '>' || c == ' ' || c == '\t' || c == '\0')
      return false;
  return true;
}

std::uint16_t MailServicePort() {
  const servent* s = ::getservbyname("mail", "tcp");
  return s != nullptr ? ntohs(static_cast<std::uint16_t>(s->s_port)) : 25;
}

void Pause(ExchangeControl& control) {
  if (!control.ShouldStop()) std::this_thread::sleep_for(kReplyPause);
}

}  // namespace

SmtpClient::SmtpClient() : clock_([] { return std::chrono::system_clock::now(); }) {
  try {
    receive_buffer_.resize(kSmtpBufferSize);
  } catch (const std::bad_alloc&) {
    last_error_ = smtp_error::kLackOfMemory;
  }
}

void SmtpClient::SetServer(std::string name, std::uint16_t port) {
  server_ = std::move(name);
  port_ = port != 0 ? port : MailServicePort();
}

void SmtpClient::SetSenderAddress(std::string address) {
  sender_address_ = UsableAddress(address) ? std::move(address) : std::string();
}

void SmtpClient::SetReplyTo(std::string address) {
  reply_to_ = UsableAddress(address) ? std::move(address) : std::string();
}

bool SmtpClient::AddRecipient(std::string address, std::string name) {
  if (!UsableAddress(address)) {
    last_error_ = smtp_error::kUndefinedRecipientMail;
    return false;
  }
  recipients_.push_back({std::move(name), std::move(address)});
  return true;
}

std::string_view SmtpClient::LastErrorText() const {
  return SmtpErrorText(last_error_);
}

bool SmtpClient::Fail(int code, std::string detail) {
  last_error_ = code;
  detail_ = std::move(detail);
  return false;
}

bool SmtpClient::Command(std::string_view text, ExchangeControl& control) {
  if (connection_.SendAll(text, control) != IoResult::kOk)
    return Fail(smtp_error::kSendFailed, connection_.Error());
  return true;
}

int SmtpClient::ReadReply(ExchangeControl& control) {
  reply_.clear();
  SmtpReplyReader reader(receive_buffer_.size() - 1);
  for (;;) {
    std::size_t got = 0;
    const IoResult r =
        connection_.ReceiveSome(receive_buffer_.data(), receive_buffer_.size() - 1, got, control);
    if (r == IoResult::kClosed) {
      Fail(smtp_error::kConnectionClosed, connection_.Error());
      return -1;
    }
    if (r != IoResult::kOk) {
      Fail(smtp_error::kReceiveFailed, connection_.Error());
      return -1;
    }
    if (reader.Take(std::string_view(receive_buffer_.data(), got))) {
      reply_ = reader.Text();
      return reader.Code();
    }
  }
}

bool SmtpClient::Ehlo(const std::string& host_name, ExchangeControl& control) {
  control.Step("EHLO");
  if (!Command("EHLO " + host_name + "\r\n", control)) return false;
  Pause(control);
  const int code = ReadReply(control);
  if (code < 0) return false;
  if (code != 250) return Fail(smtp_error::kEhloFailed, reply_);
  offers_starttls_ = OffersStartTls(reply_);
  return true;
}

std::string SmtpClient::BodyText() const {
  // Bare line ends become CR LF: SMTP needs them, and a lone LF before "." is how
  // a second message is smuggled past a server.
  return WithCrLf(body_) + "\r\n";
}

std::optional<std::string> SmtpClient::BuildHeader() {
  if (recipients_.empty()) {
    Fail(smtp_error::kUndefinedRecipients);
    return std::nullopt;
  }
  if (sender_address_.empty()) {
    Fail(smtp_error::kUndefinedFrom);
    return std::nullopt;
  }
  std::string h;
  h += "Date: " + MailDate(clock_()) + "\r\n";
  h += "From: " + HeaderText(sender_name_) + " <" + sender_address_ + ">\r\n";
  if (!mailer_.empty()) h += "X-Mailer: " + HeaderText(mailer_) + "\r\n";
  if (!reply_to_.empty()) h += "Reply-To: " + reply_to_ + "\r\n";
  if (priority_ == mail_priority::kHigh)
    h += "X-Priority: 2 (High)\r\n";
  else if (priority_ == mail_priority::kLow)
    h += "X-Priority: 4 (Low)\r\n";
  else
    h += "X-Priority: 3 (Normal)\r\n";
  h += "To: ";
  for (std::size_t i = 0; i < recipients_.size(); ++i) {
    if (i > 0) h += ",";
    const std::string name = HeaderText(recipients_[i].name);
    // An encoded word must stand apart from the "<" that follows it.
    h += name + (IsAscii(name) && name.find("=?") == std::string::npos ? "" : " ");
    h += "<" + recipients_[i].address + ">";
  }
  h += "\r\n";
  if (subject_.empty()) {
    last_error_ = smtp_error::kUndefinedSubject;
    h += "Subject:  \r\n";
  } else {
    h += "Subject: " + HeaderText(subject_) + "\r\n";
  }
  h += "MIME-Version: 1.0\r\n";
  h += "Content-type: text/plain; charset=UTF-8\r\n";
  h += "Content-Transfer-Encoding: " + std::string(EncodingName(ChooseBodyEncoding(BodyText()))) +
       "\r\n";
  h += "\r\n";
  return h;
}

bool SmtpClient::Send(ExchangeControl& control) {
  if (receive_buffer_.empty()) return Fail(smtp_error::kLackOfMemory);
  detail_.clear();
  secure_ = false;
  const bool sent = Exchange(control);
  secure_ = connection_.Secure();
  connection_.Close();
  return sent;
}

bool SmtpClient::Exchange(ExchangeControl& control) {
  namespace e = smtp_error;
  control.Step("connecting to " + server_ + ":" + std::to_string(port_));
  if (!connection_.Connect(server_, port_, control))
    return Fail(e::kInvalidSocket, connection_.Error());

  Pause(control);
  int code = ReadReply(control);
  if (code < 0) return false;
  if (code != 220) return Fail(e::kServerNotReady, reply_);

  char name[kHostNameLimit + 1] = {};
  std::string host_name = "domain";
  if (::gethostname(name, kHostNameLimit) == 0 && name[0] != '\0')
    host_name = name;
  else
    last_error_ = e::kHostNameFailed;  // noted; the send goes on with "domain"
  if (!Ehlo(host_name, control)) return false;

  // Never send the password in the clear to a server that can take it encrypted.
  if (offers_starttls_) {
    control.Step("STARTTLS");
    if (!Command("STARTTLS\r\n", control)) return false;
    Pause(control);
    code = ReadReply(control);
    if (code < 0) return false;
    if (code != 220) return Fail(e::kEhloFailed, "STARTTLS refused: " + reply_);
    if (!connection_.StartTls(server_, ca_file_, control))
      return Fail(e::kEhloFailed, connection_.Error());
    // The server forgets everything it was told before the handshake.
    if (!Ehlo(host_name, control)) return false;
  } else if (!allow_plain_login_) {
    // No STARTTLS may mean a man in the middle took it out of the reply.
    return Fail(e::kPlainLoginRefused, "the server offers no STARTTLS: " + reply_);
  }

  control.Step("AUTH LOGIN");
  if (!Command("AUTH LOGIN\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code != 334) return Fail(e::kAuthLoginFailed, reply_);

  if (login_.empty()) return Fail(e::kUndefinedLogin);
  if (!Command(Base64Encode(login_) + "\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code != 334) return Fail(e::kUndefinedResponse, reply_);

  if (password_.empty()) return Fail(e::kUndefinedPassword);
  if (!Command(Base64Encode(password_) + "\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code == 535) return Fail(e::kBadLoginOrPassword, reply_);
  if (code != 235) return Fail(e::kUndefinedResponse, reply_);

  if (sender_address_.empty()) return Fail(e::kUndefinedFrom);
  control.Step("MAIL FROM");
  if (!Command("MAIL FROM:<" + sender_address_ + ">\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code != 250) return Fail(e::kMailFromFailed, reply_);

  control.Step("RCPT TO");
  if (recipients_.empty()) return Fail(e::kUndefinedRecipients);
  std::size_t accepted = 0;
  for (const MailRecipient& r : recipients_) {
    if (!Command("RCPT TO:<" + r.address + ">\r\n", control)) return false;
    Pause(control);
    if ((code = ReadReply(control)) < 0) return false;
    if (code == 250)
      ++accepted;
    else
      Fail(e::kRcptToFailed, reply_);
  }
  if (accepted == 0) return false;

  control.Step("DATA");
  if (!Command("DATA\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code != 354) return Fail(e::kDataFailed, reply_);

  control.Step("sending the message");
  const std::optional<std::string> header = BuildHeader();
  if (!header) return false;
  if (!Command(*header, control)) return false;
  const std::string text = BodyText();
  const std::string body = DotStuffed(EncodedBody(text, ChooseBodyEncoding(text)));
  for (std::size_t at = 0; at < body.size(); at += kSmtpBufferSize)
    if (!Command(std::string_view(body).substr(at, kSmtpBufferSize), control)) return false;
  if (!Command("\r\n.\r\n", control)) return false;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return false;
  if (code != 250) return Fail(e::kMessageBodyFailed, reply_);

  // The server has taken the mail: a failed goodbye is noted, but the mail is sent
  // (reporting a failure here would only have the user send it twice).
  control.Step("QUIT");
  if (!Command("QUIT\r\n", control)) return true;
  Pause(control);
  if ((code = ReadReply(control)) < 0) return true;
  if (code != 221) Fail(e::kQuitFailed, reply_);
  return true;
}

}  // namespace tarvix
