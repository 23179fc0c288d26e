// Loopback tests of the socket layer, library loading and the stop flag.
#include "net.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {
namespace {

constexpr int kWaitMs = 10000;  // the bound of every wait that should not time out

class NetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(StartSocketLibrary(&error)) << error;
  }

  // A listener on a free loopback port.
  static Socket Listen(uint16_t* port) {
    Socket listener;
    std::string error;
    EXPECT_EQ(ListenTcp("127.0.0.1", 0, &listener, &error), NetStatus::kOk) << error;
    *port = LocalPort(listener);
    return listener;
  }
};

TEST_F(NetTest, ConnectAcceptAndExchangeBothWays) {
  uint16_t port = 0;
  Socket listener = Listen(&port);
  ASSERT_NE(port, 0);

  Socket client;
  std::string error;
  ASSERT_EQ(ConnectTcp("127.0.0.1", port, 2000, &client, &error), NetStatus::kOk) << error;
  Socket server;
  std::string peer;
  ASSERT_EQ(AcceptTcp(listener, 2000, &server, &peer), NetStatus::kOk);
  EXPECT_EQ(peer.rfind("127.0.0.1:", 0), 0u) << peer;

  // Larger than a socket buffer, so that SendAll has to loop while the
  // reader drains.
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  std::thread writer([&] { EXPECT_EQ(SendAll(client, big.data(), big.size(), 5000), NetStatus::kOk); });
  std::string got;
  char buffer[8192];
  while (got.size() < big.size()) {
    size_t n = 0;
    ASSERT_EQ(Receive(server, buffer, sizeof buffer, 5000, &n), NetStatus::kOk);
    got.append(buffer, n);
  }
  writer.join();
  EXPECT_EQ(got, big);

  // End of stream after a write shutdown, while the other direction works.
  ShutdownWrite(client);
  size_t n = 0;
  EXPECT_EQ(Receive(server, buffer, sizeof buffer, 2000, &n), NetStatus::kClosed);
  ASSERT_EQ(SendAll(server, "back", 4, 2000), NetStatus::kOk);
  ASSERT_EQ(Receive(client, buffer, sizeof buffer, 2000, &n), NetStatus::kOk);
  EXPECT_EQ(std::string(buffer, n), "back");
}

TEST_F(NetTest, SecondListenerOnSamePortIsAddressInUse) {
  uint16_t port = 0;
  Socket first = Listen(&port);
  Socket second;
  std::string error;
  EXPECT_EQ(ListenTcp("127.0.0.1", port, &second, &error), NetStatus::kAddressInUse);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(second.valid());
}

TEST_F(NetTest, BadListenAddressIsInvalid) {
  Socket s;
  std::string error;
  EXPECT_EQ(ListenTcp("localhost-not-numeric", 0, &s, &error), NetStatus::kInvalid);
  EXPECT_NE(error.find("localhost-not-numeric"), std::string::npos);
}

TEST_F(NetTest, ConnectToClosedPortIsRefused) {
  uint16_t port = 0;
  {
    Socket listener = Listen(&port);
  }  // closed again: nobody listens on port now
  Socket s;
  std::string error;
  EXPECT_EQ(ConnectTcp("127.0.0.1", port, 2000, &s, &error), NetStatus::kRefused);
  EXPECT_FALSE(s.valid());
}

TEST_F(NetTest, WaitsTimeOutWhenNothingHappens) {
  uint16_t port = 0;
  Socket listener = Listen(&port);
  Socket accepted;
  EXPECT_EQ(AcceptTcp(listener, 10, &accepted, nullptr), NetStatus::kTimeout);

  Socket client;
  ASSERT_EQ(ConnectTcp("127.0.0.1", port, 2000, &client, nullptr), NetStatus::kOk);
  ASSERT_EQ(AcceptTcp(listener, 2000, &accepted, nullptr), NetStatus::kOk);
  char c;
  size_t n = 0;
  EXPECT_EQ(Receive(accepted, &c, 1, 10, &n), NetStatus::kTimeout);
  SocketHandle both[2] = {accepted.handle(), client.handle()};
  EXPECT_EQ(WaitReadable(both, 2, 10), -1);

  // The readable one is reported by its index.
  ASSERT_EQ(SendAll(accepted, "z", 1, 1000), NetStatus::kOk);
  EXPECT_EQ(WaitReadable(both, 2, 2000), 1);
}

// A connected pair on loopback.
struct Pair {
  Socket listener, client, accepted;
};

void Connect(Pair* pair) {
  std::string error;
  ASSERT_EQ(ListenTcp("127.0.0.1", 0, &pair->listener, &error), NetStatus::kOk) << error;
  ASSERT_EQ(ConnectTcp("127.0.0.1", LocalPort(pair->listener), kWaitMs, &pair->client, &error),
            NetStatus::kOk)
      << error;
  ASSERT_EQ(AcceptTcp(pair->listener, kWaitMs, &pair->accepted, nullptr), NetStatus::kOk);
}

TEST_F(NetTest, ShutdownBothEndsTheStreamForThePeer) {
  Pair pair;
  ASSERT_NO_FATAL_FAILURE(Connect(&pair));
  ShutdownBoth(pair.accepted.handle());
  char c;
  size_t n = 0;
  EXPECT_EQ(Receive(pair.client, &c, 1, kWaitMs, &n), NetStatus::kClosed);
}

#ifndef _WIN32
// POSIX only: there a shut-down socket's own waits end at once, also one that
// a thread is already blocked in. Under Wine neither holds (select() never
// reports the socket readable), which is what a Waker is for.
TEST_F(NetTest, ShutdownBothEndsTheSocketsOwnWaits) {
  Pair pair;
  ASSERT_NO_FATAL_FAILURE(Connect(&pair));
  NetStatus blocked = NetStatus::kOk;
  std::thread reader([&] {
    char c;
    size_t n = 0;
    blocked = Receive(pair.accepted, &c, 1, kWaitMs, &n);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ShutdownBoth(pair.accepted.handle());
  reader.join();
  EXPECT_NE(blocked, NetStatus::kOk);
  EXPECT_NE(blocked, NetStatus::kTimeout);
  char c;
  size_t n = 0;
  NetStatus later = Receive(pair.accepted, &c, 1, kWaitMs, &n);
  EXPECT_NE(later, NetStatus::kOk);
  EXPECT_NE(later, NetStatus::kTimeout);
}
#endif

// Each wait that a thread is blocked in ends with kWoken when its waker is
// woken; the waits are bounded, so a waker that fails gives kTimeout, not a
// hang.
TEST_F(NetTest, WakerEndsEveryKindOfBlockedWait) {
  struct Case {
    const char* name;
    std::function<NetStatus(Pair&, const Waker&)> wait;
  } cases[] = {
      {"Receive", [](Pair& p, const Waker& w) {
         char c;
         size_t n = 0;
         return Receive(p.accepted, &c, 1, kWaitMs, &n, &w);
       }},
      {"Receive without a time limit", [](Pair& p, const Waker& w) {
         // -1 waits for ever but for the waker; past the bound the peer
         // sends a byte, so that a broken waker fails the test (kOk)
         // instead of hanging it.
         std::mutex mutex;
         std::condition_variable changed;
         bool returned = false;
         std::thread guard([&] {
           std::unique_lock<std::mutex> lock(mutex);
           if (!changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return returned; })) {
             SendAll(p.client, "z", 1, kWaitMs);
           }
         });
         char c;
         size_t n = 0;
         NetStatus status = Receive(p.accepted, &c, 1, -1, &n, &w);
         {
           std::lock_guard<std::mutex> lock(mutex);
           returned = true;
         }
         changed.notify_one();
         guard.join();
         return status;
       }},
      {"WaitReadable", [](Pair& p, const Waker& w) {
         SocketHandle both[2] = {p.accepted.handle(), p.client.handle()};
         int ready = WaitReadable(both, 2, kWaitMs, &w);
         return ready == -3 ? NetStatus::kWoken : ready == -1 ? NetStatus::kTimeout : NetStatus::kError;
       }},
      {"SendAll to a peer that does not read", [](Pair& p, const Waker& w) {
         // Far more than the socket buffers hold, so the sender must wait.
         std::string big(64 << 20, 'x');
         return SendAll(p.client, big.data(), big.size(), kWaitMs, &w);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pair pair;
    ASSERT_NO_FATAL_FAILURE(Connect(&pair));
    Waker waker;
    std::string error;
    ASSERT_TRUE(waker.Open(&error)) << error;
    NetStatus status = NetStatus::kOk;
    std::thread waiter([&] { status = c.wait(pair, waker); });
    // Give the waiter time to block; woken before, it must end the same way.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    waker.Wake();
    waiter.join();
    EXPECT_EQ(status, NetStatus::kWoken);
  }
}

TEST_F(NetTest, WokenWakerEndsLaterWaitsAtOnceAndNothingElse) {
  Pair pair;
  ASSERT_NO_FATAL_FAILURE(Connect(&pair));
  Waker waker;
  std::string error;
  ASSERT_TRUE(waker.Open(&error)) << error;
  // Not woken: the waits behave as without a waker.
  char c;
  size_t n = 0;
  EXPECT_EQ(Receive(pair.accepted, &c, 1, 10, &n, &waker), NetStatus::kTimeout);
  ASSERT_EQ(SendAll(pair.client, "a", 1, kWaitMs, &waker), NetStatus::kOk);
  ASSERT_EQ(Receive(pair.accepted, &c, 1, kWaitMs, &n, &waker), NetStatus::kOk);
  EXPECT_EQ(c, 'a');

  waker.Wake();
  waker.Wake();  // twice is harmless
  EXPECT_TRUE(waker.woken());
  for (int i = 0; i < 3; ++i) {  // and it stays woken
    EXPECT_EQ(Receive(pair.accepted, &c, 1, kWaitMs, &n, &waker), NetStatus::kWoken);
    EXPECT_EQ(SendAll(pair.client, "b", 1, kWaitMs, &waker), NetStatus::kWoken);
    SocketHandle h = pair.accepted.handle();
    EXPECT_EQ(WaitReadable(&h, 1, kWaitMs, &waker), -3);
    Socket other;
    EXPECT_EQ(ConnectTcp("127.0.0.1", LocalPort(pair.listener), kWaitMs, &other, nullptr, &waker),
              NetStatus::kWoken);
    EXPECT_FALSE(other.valid());
  }
  // The sockets themselves are untouched.
  EXPECT_EQ(SendAll(pair.client, "c", 1, kWaitMs), NetStatus::kOk);
  ASSERT_EQ(Receive(pair.accepted, &c, 1, kWaitMs, &n), NetStatus::kOk);
  EXPECT_EQ(c, 'c');
}

TEST(SharedLibraryTest, MissingLibraryGivesLoaderText) {
  SharedLibrary library;
  std::string error;
  EXPECT_FALSE(library.Load("no-such-dir/no-such-library.bin", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.Symbol("anything"), nullptr);
}

// Several requests before one is taken count as one; a taken request is
// gone. On POSIX the signal itself sets the flag and no longer ends the
// process.
TEST(ReloadRequestTest, RequestsAreTakenOnce) {
  InstallReloadHandler();
  EXPECT_FALSE(TakeReloadRequest());
  RequestReload();
  RequestReload();
  EXPECT_TRUE(TakeReloadRequest());
  EXPECT_FALSE(TakeReloadRequest());
#if defined(SIGHUP)
  ASSERT_EQ(std::raise(SIGHUP), 0);
  EXPECT_TRUE(TakeReloadRequest());
  EXPECT_FALSE(TakeReloadRequest());
#endif
}

}  // namespace
}  // namespace platform
