// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/tcp_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace tarvix {

namespace {

// OpenSSL writes to the socket with write(), which raises SIGPIPE on a connection
// the peer has reset; that must not end the process. Blocks it on this thread for
// the duration and swallows one raised meanwhile.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pending_before_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeBlock() {
    if (!pending_before_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{0, 0};
        sigtimedwait(&pipe_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipe_{};
  sigset_t old_{};
  bool pending_before_ = false;
};

std::string OpenSslError(const char* what) {
  std::string text = what;
  if (const unsigned long e = ERR_get_error(); e != 0) {
    char buffer[256];
    ERR_error_string_n(e, buffer, sizeof buffer);
    text += ": ";
    text += buffer;
  }
  ERR_clear_error();
  return text;
}

bool IsIpLiteral(const std::string& host) {
  in6_addr v6{};
  in_addr v4{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

TcpConnection::~TcpConnection() {
  Close();
}

void TcpConnection::Close() {
  if (ssl_ != nullptr) {
    if (fd_ >= 0) {
      SigpipeBlock block;
      SSL_shutdown(ssl_);  // best effort; the socket goes next anyway
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (ctx_ != nullptr) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

IoResult TcpConnection::WaitFor(short events, ExchangeControl& control) {
  for (;;) {
    if (control.ShouldStop()) {
      error_ = control.Cancelled() ? "cancelled" : "timed out";
      return IoResult::kStopped;
    }
    pollfd p{fd_, events, 0};
    const int r = ::poll(&p, 1, control.WaitSliceMs());
    if (r > 0) return IoResult::kOk;  // errors and hang-ups show in the call that follows
    if (r < 0 && errno != EINTR) {
      error_ = std::string("poll: ") + std::strerror(errno);
      return IoResult::kFailed;
    }
  }
}

bool TcpConnection::Connect(const std::string& host, std::uint16_t port, ExchangeControl& control) {
  Close();
  error_.clear();
  std::vector<SocketAddress> addresses;
  if (!host.empty() && std::isalpha(static_cast<unsigned char>(host[0]))) {
    if (!LookUpName(host, port, control, addresses, error_)) return false;
  } else {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) != 1) {
      error_ = "not a dotted IPv4 address: " + host;
      return false;
    }
    SocketAddress s;
    std::memcpy(&s.address, &v4, sizeof v4);
    s.length = sizeof v4;
    addresses.push_back(s);
  }

  for (const SocketAddress& a : addresses) {
    const int fd = ::socket(a.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      error_ = std::string("socket: ") + std::strerror(errno);
      continue;
    }
    fd_ = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0) return true;
    if (errno == EINPROGRESS) {
      const IoResult waited = WaitFor(POLLOUT, control);
      if (waited == IoResult::kStopped) {
        Close();
        return false;
      }
      int so_error = 0;
      socklen_t len = sizeof so_error;
      if (waited == IoResult::kOk && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) == 0 &&
          so_error == 0)
        return true;
      if (so_error != 0) error_ = std::string("connect: ") + std::strerror(so_error);
    } else {
      error_ = std::string("connect: ") + std::strerror(errno);
    }
    Close();
  }
  if (error_.empty()) error_ = "no address for " + host;
  return false;
}

IoResult TcpConnection::TlsWait(int ssl_result, ExchangeControl& control) {
  switch (SSL_get_error(ssl_, ssl_result)) {
    case SSL_ERROR_WANT_READ:
      return WaitFor(POLLIN, control);
    case SSL_ERROR_WANT_WRITE:
      return WaitFor(POLLOUT, control);
    case SSL_ERROR_ZERO_RETURN:
      error_ = "the server closed the connection";
      return IoResult::kClosed;
    case SSL_ERROR_SYSCALL:
      if (errno == 0 || errno == ECONNRESET || errno == EPIPE) {
        error_ = "the server closed the connection";
        ERR_clear_error();
        return IoResult::kClosed;
      }
      error_ = std::string("TLS: ") + std::strerror(errno);
      ERR_clear_error();
      return IoResult::kFailed;
    default:
      error_ = OpenSslError("TLS");
      return IoResult::kFailed;
  }
}

IoResult TcpConnection::SendAll(std::string_view bytes, ExchangeControl& control) {
  if (fd_ < 0) return IoResult::kFailed;
  while (!bytes.empty()) {
    if (control.ShouldStop()) {
      error_ = control.Cancelled() ? "cancelled" : "timed out";
      return IoResult::kStopped;
    }
    if (ssl_ != nullptr) {
      SigpipeBlock block;
      ERR_clear_error();
      std::size_t written = 0;
      const int r = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written);
      if (r == 1) {
        bytes.remove_prefix(written);
        continue;
      }
      if (const IoResult w = TlsWait(r, control); w != IoResult::kOk) return w;
      continue;
    }
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (const IoResult w = WaitFor(POLLOUT, control); w != IoResult::kOk) return w;
    } else if (errno != EINTR) {
      error_ = std::string("send: ") + std::strerror(errno);
      return IoResult::kFailed;
    }
  }
  return IoResult::kOk;
}

IoResult TcpConnection::ReceiveSome(char* buffer, std::size_t size, std::size_t& received,
                                    ExchangeControl& control) {
  received = 0;
  if (fd_ < 0) return IoResult::kFailed;
  for (;;) {
    if (ssl_ != nullptr) {
      ERR_clear_error();
      // Records already decrypted are not visible to poll(); read before waiting.
      const int r = SSL_read_ex(ssl_, buffer, size, &received);
      if (r == 1) return IoResult::kOk;
      if (const IoResult w = TlsWait(r, control); w != IoResult::kOk) return w;
      continue;
    }
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) {
      received = static_cast<std::size_t>(n);
      return IoResult::kOk;
    }
    if (n == 0 || errno == ECONNRESET) {
      error_ = "the server closed the connection";
      return IoResult::kClosed;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (const IoResult w = WaitFor(POLLIN, control); w != IoResult::kOk) return w;
    } else if (errno != EINTR) {
      error_ = std::string("recv: ") + std::strerror(errno);
      return IoResult::kFailed;
    }
  }
}

bool TcpConnection::StartTls(const std::string& host, const std::string& ca_file,
                             ExchangeControl& control) {
  if (fd_ < 0 || ssl_ != nullptr) return false;
  error_.clear();
  ERR_clear_error();
  // A failed handshake leaves no half-made session behind: the connection is plain
  // (and unusable) until the caller closes it.
  auto fail = [this](std::string why) {
    error_ = std::move(why);
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    ssl_ = nullptr;
    ctx_ = nullptr;
    return false;
  };
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (ctx_ == nullptr) return fail(OpenSslError("TLS context"));
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  // Replies end with their own line ends; a missing close-notify loses nothing.
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  const int trusted = ca_file.empty()
                          ? SSL_CTX_set_default_verify_paths(ctx_)
                          : SSL_CTX_load_verify_locations(ctx_, ca_file.c_str(), nullptr);
  if (trusted != 1)
    return fail(OpenSslError(("cannot load trusted certificates " + ca_file).c_str()));
  ssl_ = SSL_new(ctx_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) return fail(OpenSslError("TLS session"));
  if (IsIpLiteral(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    SSL_set1_host(ssl_, host.c_str());
  }
  for (;;) {
    SigpipeBlock block;
    ERR_clear_error();
    const int r = SSL_connect(ssl_);
    if (r == 1) return true;
    const long verify = SSL_get_verify_result(ssl_);
    const int kind = SSL_get_error(ssl_, r);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
      if (WaitFor(kind == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, control) != IoResult::kOk)
        return fail(error_);
      continue;
    }
    if (verify != X509_V_OK)
      error_ = std::string("certificate not trusted: ") + X509_verify_cert_error_string(verify);
    else
      (void)TlsWait(r, control);
    if (error_.empty()) error_ = "handshake failed";
    return fail("TLS with " + host + ": " + error_);
  }
}

}  // namespace tarvix
