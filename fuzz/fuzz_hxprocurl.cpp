// fuzz_hxprocurl.cpp -- the plug-in's request filter (what HXProcURL runs)
// after its Init on settings that deny and alert, with any URL bytes in a buffer of exactly
// the host's size and a real socket to the client.
//
// Input: byte 0 chooses the client text (bit 0: one that fills its whole
// field without a terminator; else the next line) and bytesSent (bit 1:
// near the largest value); the rest is the URL, cut to what the host's
// buffer holds. The plug-in must write nothing outside the URL buffer and
// the three fields of the connection record it owns, always leave the
// buffer terminated, and count what it sent without overflowing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "filter.h"
#include "fuzz_support.h"
#include "net.h"
#include "tarnwick.h"
#include "testing/registry_env.h"

namespace {

constexpr char kKey[] = "SOFTWARE\\PelluminFuzz";

struct Fixture {
  // The settings file, and a filter that reads it as the entry points'
  // filter reads the default registry.
  std::unique_ptr<platform::Registry> registry =
      platform::NewFileRegistry(fuzz::WriteDenyAlertSettings(kKey));
  tarnwick::testkit::RegistryEnv env{registry.get()};
  tarnwick::Filter filter{&env};
  platform::Socket plugin_end;
  platform::Socket client_end;

  Fixture() {
    std::unique_ptr<char[]> message(new char[TARNWICK_MESSAGE_BUFFER_SIZE]());
    std::strcpy(message.get(), kKey);
    FUZZ_CHECK(filter.Init(message.get()) == 1);

    std::string error;
    platform::Socket listener;
    FUZZ_CHECK(platform::StartSocketLibrary(&error));
    FUZZ_CHECK(platform::ListenTcp("127.0.0.1", 0, &listener, &error) == platform::NetStatus::kOk);
    FUZZ_CHECK(platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener), 5000, &client_end,
                                    &error) == platform::NetStatus::kOk);
    FUZZ_CHECK(platform::AcceptTcp(listener, 5000, &plugin_end, nullptr) ==
               platform::NetStatus::kOk);
  }

  // Reads what the plug-in sent, so that its sends never block.
  size_t Drain() {
    char chunk[65536];
    size_t total = 0, n = 0;
    while (platform::Receive(client_end, chunk, sizeof chunk, 0, &n) == platform::NetStatus::kOk) {
      total += n;
    }
    return total;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  fuzz::Reader in(data, size);
  const uint8_t mode = in.Byte();

  // Exactly the host's sizes: a write past either is caught.
  std::unique_ptr<HostConnection> connection(new HostConnection);
  std::memset(connection.get(), 0xA5, sizeof(HostConnection));
  connection->clientSocket = static_cast<uint32_t>(fixture.plugin_end.handle());
  if (mode & 1) {
    std::memset(connection->clientAddress, 'C', sizeof connection->clientAddress);
  } else {
    const std::string client = in.Line().substr(0, TARNWICK_CLIENT_ADDRESS_SIZE - 1);
    std::memset(connection->clientAddress, 0, sizeof connection->clientAddress);
    std::memcpy(connection->clientAddress, client.data(), client.size());
  }
  const int32_t before = (mode & 2) ? INT32_MAX - 100 : 0;
  connection->bytesSent = before;
  HostConnection expected;
  std::memcpy(&expected, connection.get(), sizeof expected);

  std::unique_ptr<char[]> url(new char[TARNWICK_URL_BUFFER_SIZE]);
  const std::string text = in.Rest().substr(0, TARNWICK_URL_BUFFER_SIZE - 1);
  std::memset(url.get(), 0, TARNWICK_URL_BUFFER_SIZE);
  std::memcpy(url.get(), text.data(), text.size());

  const int rc = fixture.filter.ProcessUrl(connection.get(), url.get());
  FUZZ_CHECK(rc == 0 || rc == 1);
  FUZZ_CHECK(std::memchr(url.get(), '\0', TARNWICK_URL_BUFFER_SIZE) != nullptr);
  // The buffer keeps the URL or holds the access log line.
  if (std::strcmp(url.get(), text.c_str()) != 0) {
    FUZZ_CHECK(std::strncmp(url.get(), "~Pellumin Plugin: ", 18) == 0);
  }
  const size_t sent = fixture.Drain();
  if (rc == 1) {
    FUZZ_CHECK(connection->bytesSent == before);
  } else {
    FUZZ_CHECK(connection->bytesSent >= before);
    if (before == 0) FUZZ_CHECK(static_cast<size_t>(connection->bytesSent) == sent);
  }
  // Nothing of the host's own parts changed.
  FUZZ_CHECK(std::memcmp(connection->hostPrivate0, expected.hostPrivate0, sizeof expected.hostPrivate0) == 0);
  FUZZ_CHECK(connection->clientSocket == expected.clientSocket);
  FUZZ_CHECK(std::memcmp(connection->hostPrivate1, expected.hostPrivate1, sizeof expected.hostPrivate1) == 0);
  FUZZ_CHECK(std::memcmp(connection->clientAddress, expected.clientAddress, sizeof expected.clientAddress) == 0);
  FUZZ_CHECK(std::memcmp(connection->hostPrivate2, expected.hostPrivate2, sizeof expected.hostPrivate2) == 0);
  return 0;
}
