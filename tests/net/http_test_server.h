// SPDX-License-Identifier: GPL-3.0-or-later
// An HTTP server for the update check: answers every request with one status and
// body, or reads the request and never answers. Keeps the last request it read.
#pragma once

#include <mutex>
#include <string>

#include "net/loopback_server.h"

namespace tarvix::testing {

class HttpTestServer {
 public:
  // `status` 0: read the request, then say nothing until the client gives up.
  HttpTestServer(int status, std::string body, std::string reason = "X")
      : status_(status),
        body_(std::move(body)),
        reason_(std::move(reason)),
        server_([this](int fd) { Serve(fd); }) {}

  [[nodiscard]] std::string Url(const std::string& path) const {
    return "http://" + server_.Address() + path;
  }
  [[nodiscard]] std::string LastRequest() const {
    std::lock_guard lock(mutex_);
    return request_;
  }
  [[nodiscard]] int Connections() const { return server_.Connections(); }

 private:
  void Serve(int fd) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard lock(mutex_);
      request_ = request;
    }
    if (status_ == 0) {
      // Silent: hold the connection until the client closes it or the test ends.
      while (!server_.Stopping()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) break;
      }
      return;
    }
    SendAllTo(fd, "HTTP/1.1 " + std::to_string(status_) + " " + reason_ +
                      "\r\nContent-Type: application/pdf\r\nContent-Length: " +
                      std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
  }

  int status_;
  std::string body_;
  std::string reason_;
  mutable std::mutex mutex_;
  std::string request_;
  LoopbackServer server_;  // last: it stops before the fields it serves from go
};

}  // namespace tarvix::testing
