// SPDX-License-Identifier: GPL-3.0-or-later
// An SMTP server whose every reply a test can replace, for the failure replies a
// real server will not give on demand. It speaks plain or, when asked, offers
// STARTTLS with a test certificate; it records every byte the client sent
// (decrypted after the handshake) and the raw DATA section.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/loopback_server.h"

namespace tarvix::testing {

enum class SmtpStep {
  kGreeting,
  kEhlo,
  kStartTls,
  kAuthLogin,
  kLogin,
  kPassword,
  kMailFrom,
  kRcptTo,
  kData,
  kEndOfData,
  kQuit,
};

// At the end of a reply: close the connection after sending what comes before it
// (alone: close instead of replying).
inline const std::string kHangUp = "<hang up>";
// As a reply: say nothing and keep the connection until the client leaves.
inline const std::string kSilence = "<silence>";

struct ScriptedSmtpOptions {
  bool offer_starttls = false;
  std::filesystem::path certificate, key;  // needed with offer_starttls
  bool split_replies = false;              // each reply in two pieces, 30 ms apart
};

class ScriptedSmtpServer {
 public:
  using Options = ScriptedSmtpOptions;

  ScriptedSmtpServer() : ScriptedSmtpServer(Options{}) {}
  explicit ScriptedSmtpServer(Options options)
      : options_(std::move(options)), server_([this](int fd) { Serve(fd); }) {}

  // The reply (lines with their CR LF) sent at `step` instead of the usual one.
  void Reply(SmtpStep step, std::string reply) {
    std::lock_guard lock(mutex_);
    replies_[step] = std::move(reply);
  }
  // The reply sent the next time `step` comes round only (one recipient of several).
  void ReplyOnce(SmtpStep step, std::string reply) {
    std::lock_guard lock(mutex_);
    once_[step].push_back(std::move(reply));
  }

  [[nodiscard]] std::string Host() const { return "127.0.0.1"; }
  [[nodiscard]] std::uint16_t Port() const { return server_.Port(); }
  [[nodiscard]] std::string Address() const { return server_.Address(); }
  [[nodiscard]] int Connections() const { return server_.Connections(); }
  // Everything the client sent, in order.
  [[nodiscard]] std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // Received() from the handshake on (what went encrypted).
  [[nodiscard]] std::string ReceivedOverTls() const {
    std::lock_guard lock(mutex_);
    return tls_from_ < received_.size() ? received_.substr(tls_from_) : std::string();
  }
  // The DATA section as sent: from after the 354 up to and including "\r\n.\r\n".
  [[nodiscard]] std::string Data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  [[nodiscard]] bool UsedTls() const {
    std::lock_guard lock(mutex_);
    return tls_from_ != std::string::npos;
  }
  // Waits until the client's connection has been served to its end.
  [[nodiscard]] bool WaitDone(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard lock(mutex_);
        if (done_) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

 private:
  struct Peer {
    int fd;
    SSL* ssl = nullptr;
    std::string pending;
  };

  std::string ReplyFor(SmtpStep step, std::string usual) {
    std::lock_guard lock(mutex_);
    if (auto once = once_.find(step); once != once_.end() && !once->second.empty()) {
      std::string reply = std::move(once->second.front());
      once->second.pop_front();
      return reply;
    }
    const auto found = replies_.find(step);
    return found == replies_.end() ? usual : found->second;
  }

  bool Write(Peer& p, const std::string& bytes) {
    if (p.ssl != nullptr) return SSL_write(p.ssl, bytes.data(), static_cast<int>(bytes.size())) > 0;
    return SendAllTo(p.fd, bytes);
  }
  // False: hang up.
  bool Answer(Peer& p, SmtpStep step, std::string usual) {
    std::string reply = ReplyFor(step, std::move(usual));
    if (reply == kSilence) {
      char buffer[512];
      while (!server_.Stopping()) {
        pollfd w{p.fd, POLLIN, 0};
        if (::poll(&w, 1, 20) > 0 && ::recv(p.fd, buffer, sizeof buffer, 0) <= 0) break;
      }
      return false;
    }
    const bool hang_up = reply.ends_with(kHangUp);
    if (hang_up) {
      reply.resize(reply.size() - kHangUp.size());
      if (!reply.empty()) Write(p, reply);
      return false;
    }
    if (!options_.split_replies || reply.size() < 2) return Write(p, reply);
    const std::size_t half = reply.size() / 2;
    if (!Write(p, reply.substr(0, half))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return Write(p, reply.substr(half));
  }
  // One line with its CR LF; false when the client is gone.
  bool ReadLine(Peer& p, std::string& line) {
    for (;;) {
      const std::size_t end = p.pending.find("\r\n");
      if (end != std::string::npos) {
        line = p.pending.substr(0, end + 2);
        p.pending.erase(0, end + 2);
        return true;
      }
      char buffer[4096];
      const int n = p.ssl != nullptr ? SSL_read(p.ssl, buffer, sizeof buffer)
                                     : static_cast<int>(::recv(p.fd, buffer, sizeof buffer, 0));
      if (n <= 0) return false;
      p.pending.append(buffer, static_cast<std::size_t>(n));
      std::lock_guard lock(mutex_);
      received_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  bool StartTls(Peer& p, SSL_CTX*& ctx) {
    ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr ||
        SSL_CTX_use_certificate_file(ctx, options_.certificate.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, options_.key.c_str(), SSL_FILETYPE_PEM) != 1)
      return false;
    p.ssl = SSL_new(ctx);
    SSL_set_fd(p.ssl, p.fd);
    p.pending.clear();
    {
      std::lock_guard lock(mutex_);
      tls_from_ = received_.size();
    }
    return SSL_accept(p.ssl) == 1;
  }

  void Serve(int fd) {
    Peer p{fd, nullptr, {}};
    SSL_CTX* ctx = nullptr;
    Converse(p, ctx);
    if (p.ssl != nullptr) SSL_free(p.ssl);
    if (ctx != nullptr) SSL_CTX_free(ctx);
    ERR_clear_error();
    std::lock_guard lock(mutex_);
    done_ = true;
  }

  void Converse(Peer& p, SSL_CTX*& ctx) {
    if (!Answer(p, SmtpStep::kGreeting, "220 test.local ESMTP ready\r\n")) return;
    enum class Expect { kCommand, kLogin, kPassword } expect = Expect::kCommand;
    std::string line;
    while (ReadLine(p, line)) {
      if (expect == Expect::kLogin) {
        expect = Expect::kPassword;
        if (!Answer(p, SmtpStep::kLogin, "334 UGFzc3dvcmQ6\r\n")) return;
        continue;
      }
      if (expect == Expect::kPassword) {
        expect = Expect::kCommand;
        if (!Answer(p, SmtpStep::kPassword, "235 2.7.0 Authentication successful\r\n")) return;
        continue;
      }
      const std::string verb = line.substr(0, line.find_first_of(" \r"));
      if (verb == "EHLO") {
        const std::string tls =
            options_.offer_starttls && p.ssl == nullptr ? "250-STARTTLS\r\n" : "";
        if (!Answer(p, SmtpStep::kEhlo,
                    "250-test.local\r\n250-AUTH LOGIN\r\n" + tls + "250 8BITMIME\r\n"))
          return;
      } else if (verb == "STARTTLS") {
        if (!Answer(p, SmtpStep::kStartTls, "220 2.0.0 go ahead\r\n")) return;
        if (!StartTls(p, ctx)) return;
      } else if (line == "AUTH LOGIN\r\n") {
        if (!Answer(p, SmtpStep::kAuthLogin, "334 VXNlcm5hbWU6\r\n")) return;
        expect = Expect::kLogin;
      } else if (verb == "MAIL") {
        if (!Answer(p, SmtpStep::kMailFrom, "250 2.1.0 Ok\r\n")) return;
      } else if (verb == "RCPT") {
        if (!Answer(p, SmtpStep::kRcptTo, "250 2.1.5 Ok\r\n")) return;
      } else if (verb == "DATA") {
        const std::string reply = ReplyFor(SmtpStep::kData, "354 End data with .\r\n");
        if (!Answer(p, SmtpStep::kData, reply)) return;
        if (reply.rfind("354", 0) != 0) continue;
        std::string data;
        while (ReadLine(p, line)) {
          data += line;
          if (line == ".\r\n") break;  // every line ends in CR LF, so this one starts a line
        }
        {
          std::lock_guard lock(mutex_);
          data_ = data;
        }
        if (!Answer(p, SmtpStep::kEndOfData, "250 2.0.0 Ok: queued\r\n")) return;
      } else if (verb == "QUIT") {
        Answer(p, SmtpStep::kQuit, "221 2.0.0 Bye\r\n");
        return;
      } else {
        if (!Write(p, "500 5.5.2 unknown command\r\n")) return;
      }
    }
  }

  Options options_;
  mutable std::mutex mutex_;
  std::map<SmtpStep, std::string> replies_;
  std::map<SmtpStep, std::deque<std::string>> once_;
  std::string received_;
  std::size_t tls_from_ = std::string::npos;
  std::string data_;
  bool done_ = false;
  LoopbackServer server_;  // last: it stops before the fields it serves from go
};

}  // namespace tarvix::testing
