// Loopback tests of the socket layer, library loading and the stop flag.
#include "net.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace platform {
namespace {

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

TEST_F(NetTest, ShutdownBothWakesABlockedReceiver) {
  uint16_t port = 0;
  Socket listener = Listen(&port);
  Socket client, accepted;
  ASSERT_EQ(ConnectTcp("127.0.0.1", port, 2000, &client, nullptr), NetStatus::kOk);
  ASSERT_EQ(AcceptTcp(listener, 2000, &accepted, nullptr), NetStatus::kOk);
  std::thread reader([&] {
    char c;
    size_t n = 0;
    EXPECT_NE(Receive(accepted, &c, 1, -1, &n), NetStatus::kOk);
  });
  ShutdownBoth(accepted.handle());
  reader.join();
}

TEST(SharedLibraryTest, MissingLibraryGivesLoaderText) {
  SharedLibrary library;
  std::string error;
  EXPECT_FALSE(library.Load("no-such-dir/no-such-library.bin", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.Symbol("anything"), nullptr);
}

}  // namespace
}  // namespace platform
