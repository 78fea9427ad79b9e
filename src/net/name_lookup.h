// SPDX-License-Identifier: GPL-3.0-or-later
// A host name looked up off the calling thread, so a slow or silent name server
// cannot hold an exchange past its time-out or its cancel.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/net_job.h"

namespace tarvix {

struct SocketAddress {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// Fills `found` for `host` and `service` and returns true, or sets `error`.
using NameResolver = std::function<bool(const std::string& host, const std::string& service,
                                        std::vector<SocketAddress>& found, std::string& error)>;

// getaddrinfo(), any address family, stream sockets.
[[nodiscard]] NameResolver SystemResolver();

// Runs `resolver` on a thread of its own and waits for it as long as `control`
// allows. A lookup given up on finishes by itself in the background.
[[nodiscard]] bool LookUpName(const std::string& host, std::uint16_t port, ExchangeControl& control,
                              std::vector<SocketAddress>& found, std::string& error,
                              const NameResolver& resolver = SystemResolver());

}  // namespace tarvix
