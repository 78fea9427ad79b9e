// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/name_lookup.h"

#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvix {

NameResolver SystemResolver() {
  return [](const std::string& host, const std::string& service, std::vector<SocketAddress>& found,
            std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0) {
      error = ::gai_strerror(rc);
      return false;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
      SocketAddress s;
      std::memcpy(&s.address, a->ai_addr, a->ai_addrlen);
      s.length = a->ai_addrlen;
      found.push_back(s);
    }
    ::freeaddrinfo(list);
    return true;
  };
}

bool LookUpName(const std::string& host, std::uint16_t port, ExchangeControl& control,
                std::vector<SocketAddress>& found, std::string& error,
                const NameResolver& resolver) {
  // Shared with the lookup's thread, which may outlive this call.
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    bool ok = false;
    std::vector<SocketAddress> found;
    std::string error;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, resolver, host, service = std::to_string(port)] {
    std::vector<SocketAddress> addresses;
    std::string why;
    const bool ok = resolver(host, service, addresses, why);
    {
      std::lock_guard lock(lookup->mutex);
      lookup->ok = ok;
      lookup->found = std::move(addresses);
      lookup->error = std::move(why);
      lookup->done = true;
    }
    lookup->done_signal.notify_all();
  }).detach();

  std::unique_lock lock(lookup->mutex);
  while (!lookup->done) {
    if (control.ShouldStop()) {
      error = "cannot look up " + host + ": " + (control.Cancelled() ? "cancelled" : "timed out");
      return false;
    }
    lookup->done_signal.wait_for(lock, std::chrono::milliseconds(control.WaitSliceMs()));
  }
  if (!lookup->ok) {
    error = "cannot look up " + host + ": " + lookup->error;
    return false;
  }
  found = std::move(lookup->found);
  return true;
}

}  // namespace tarvix
