// SPDX-License-Identifier: GPL-3.0-or-later
// A small SMTP client: one mail, sent with AUTH LOGIN over STARTTLS (in the clear only
// where plain login is allowed). Every step that fails ends the send with its own error code
// (smtp_error.h); LastError() keeps it and Detail() says more for diagnostics.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/net_job.h"
#include "net/tcp_connection.h"

namespace tarvix {

// Send and receive buffer size; a reply is kept up to one byte less.
inline constexpr std::size_t kSmtpBufferSize = 10240;

namespace mail_priority {
inline constexpr int kHigh = 2;
inline constexpr int kNormal = 3;
inline constexpr int kLow = 4;
}  // namespace mail_priority

struct MailRecipient {
  std::string name;  // display name, may be empty
  std::string address;
};

class SmtpClient {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  // Records 406 when its buffers cannot be had.
  SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Port 0 means the "mail" service's port, else 25.
  void SetServer(std::string name, std::uint16_t port);
  void SetLogin(std::string login) { login_ = std::move(login); }
  void SetPassword(std::string password) { password_ = std::move(password); }
  void SetSenderName(std::string name) { sender_name_ = std::move(name); }
  // An address with a line break or angle bracket is refused (left unset).
  void SetSenderAddress(std::string address);
  void SetReplyTo(std::string address);
  void SetSubject(std::string subject) { subject_ = std::move(subject); }
  void SetBody(std::string body) { body_ = std::move(body); }
  void SetMailer(std::string mailer) { mailer_ = std::move(mailer); }
  // 2 high, 3 normal, 4 low; anything else is sent as normal.
  void SetPriority(int priority) { priority_ = priority; }
  // An empty or malformed address records 206 and is refused (false).
  bool AddRecipient(std::string address, std::string name = {});
  // Whether the login may go out in the clear to a server that offers no STARTTLS
  // (off: the send ends with 407 before AUTH).
  void AllowPlainLogin(bool allow) { allow_plain_login_ = allow; }
  // Certificates trusted for STARTTLS (PEM file); empty: the system's store.
  void SetTrustedCertificates(std::string ca_file) { ca_file_ = std::move(ca_file); }
  // Where the Date header's time comes from (the system clock by default).
  void SetClock(WallClock clock) { clock_ = std::move(clock); }

  // The whole exchange; true when the server took the mail.
  [[nodiscard]] bool Send(ExchangeControl& control);

  // The header lines of the mail, up to and including the empty line; nothing when
  // they cannot be built (203 without a recipient, 201 without a sender address). A
  // missing subject records 202 and is written empty.
  [[nodiscard]] std::optional<std::string> BuildHeader();

  [[nodiscard]] int LastError() const { return last_error_; }
  [[nodiscard]] std::string_view LastErrorText() const;
  [[nodiscard]] const std::string& Detail() const { return detail_; }
  // Whether the last send ran over TLS.
  [[nodiscard]] bool WasSecure() const { return secure_; }

 private:
  bool Fail(int code, std::string detail = {});
  // The body with CR LF line ends and its closing line end, before any encoding.
  [[nodiscard]] std::string BodyText() const;
  // One command, written whole; false (102) when it cannot be sent.
  bool Command(std::string_view text, ExchangeControl& control);
  // One whole reply; its code, or -1 after recording 400 or 103.
  int ReadReply(ExchangeControl& control);
  bool Ehlo(const std::string& host_name, ExchangeControl& control);
  bool Exchange(ExchangeControl& control);

  std::string server_;
  std::uint16_t port_ = 25;
  std::string login_, password_, sender_name_, sender_address_, reply_to_, subject_, body_, mailer_;
  int priority_ = mail_priority::kNormal;
  std::vector<MailRecipient> recipients_;
  std::string ca_file_;
  bool allow_plain_login_ = false;
  WallClock clock_;

  std::vector<char> receive_buffer_;
  std::string reply_;  // the last reply's lines, each ending in "\n"
  bool offers_starttls_ = false;
  bool secure_ = false;
  TcpConnection connection_;
  int last_error_ = 0;
  std::string detail_;
};

}  // namespace tarvix
