// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/name_lookup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "net/loopback_server.h"
#include "net/tcp_connection.h"

namespace tarvix {
namespace {

using namespace std::chrono_literals;

// A name server that does not answer until the test lets it.
struct SilentResolver {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::shared_ptr<std::atomic<bool>> answered = std::make_shared<std::atomic<bool>>(false);

  NameResolver Resolver() const {
    return [wait = released, answered = answered](const std::string&, const std::string&,
                                                  std::vector<SocketAddress>&, std::string& error) {
      wait.wait();
      answered->store(true);
      error = "late";
      return false;
    };
  }
};

TEST(NameLookup, ASilentNameServerHoldsNeitherTheTimeOutNorACancel) {
  SilentResolver silent;
  {
    ExchangeControl control(100ms);
    std::vector<SocketAddress> found;
    std::string error;
    EXPECT_FALSE(LookUpName("mail.example", 25, control, found, error, silent.Resolver()));
    EXPECT_EQ(error, "cannot look up mail.example: timed out");
  }
  {
    std::atomic<bool> cancel{false};
    ExchangeControl control(60s, &cancel);
    std::vector<SocketAddress> found;
    std::string error;
    auto stopper = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(50ms);
      cancel = true;
    });
    EXPECT_FALSE(LookUpName("mail.example", 25, control, found, error, silent.Resolver()));
    EXPECT_EQ(error, "cannot look up mail.example: cancelled");
  }
  // Both calls came back while the lookups were still waiting for their answer.
  EXPECT_FALSE(silent.answered->load());
  silent.release.set_value();
}

TEST(NameLookup, AnswersAndFailuresOfTheResolverComeThrough) {
  ExchangeControl control(5s);
  std::vector<SocketAddress> found;
  std::string error;
  const NameResolver two = [](const std::string& host, const std::string& service,
                              std::vector<SocketAddress>& out, std::string&) {
    EXPECT_EQ(host, "mail.example");
    EXPECT_EQ(service, "587");
    out.resize(2);
    return true;
  };
  EXPECT_TRUE(LookUpName("mail.example", 587, control, found, error, two));
  EXPECT_EQ(found.size(), 2u);
  const NameResolver unknown = [](const std::string&, const std::string&,
                                  std::vector<SocketAddress>&, std::string& why) {
    why = "Name or service not known";
    return false;
  };
  EXPECT_FALSE(LookUpName("nowhere.example", 25, control, found, error, unknown));
  EXPECT_EQ(error, "cannot look up nowhere.example: Name or service not known");
}

TEST(NameLookup, AConnectionByNameReachesTheServer) {
  std::atomic<int> served{0};
  testing::LoopbackServer server([&](int) { ++served; });
  ExchangeControl control(10s);
  TcpConnection connection;
  ASSERT_TRUE(connection.Connect("localhost", server.Port(), control)) << connection.Error();
  EXPECT_TRUE(connection.IsOpen());
}

}  // namespace
}  // namespace tarvix
