// SPDX-License-Identifier: GPL-3.0-or-later
// One TCP connection with every wait bounded by an ExchangeControl (time-out and
// cancel), upgradable to TLS in place (OpenSSL) for STARTTLS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/name_lookup.h"
#include "net/net_job.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace tarvix {

enum class IoResult : std::uint8_t {
  kOk,
  kFailed,   // the call failed (Error() says why)
  kClosed,   // the peer closed the connection
  kStopped,  // cancelled or out of time
};

class TcpConnection {
 public:
  TcpConnection() = default;
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // A `host` that begins with a letter is looked up by name; anything else must be a
  // dotted IPv4 address. Tries each address in turn. False when none connects.
  [[nodiscard]] bool Connect(const std::string& host, std::uint16_t port, ExchangeControl& control);
  // All of `bytes`, through TLS once it is on.
  [[nodiscard]] IoResult SendAll(std::string_view bytes, ExchangeControl& control);
  // Whatever has arrived, at least one byte, at most `size`.
  [[nodiscard]] IoResult ReceiveSome(char* buffer, std::size_t size, std::size_t& received,
                                     ExchangeControl& control);
  // The TLS handshake on the open connection. The server's certificate must chain to
  // `ca_file` (PEM; empty: the system's trusted certificates) and name `host`.
  [[nodiscard]] bool StartTls(const std::string& host, const std::string& ca_file,
                              ExchangeControl& control);

  void Close();
  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  [[nodiscard]] bool Secure() const { return ssl_ != nullptr; }
  // Why the last call failed, for diagnostics.
  [[nodiscard]] const std::string& Error() const { return error_; }

 private:
  IoResult WaitFor(short events, ExchangeControl& control);
  IoResult TlsWait(int ssl_result, ExchangeControl& control);

  int fd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string error_;
};

}  // namespace tarvix
