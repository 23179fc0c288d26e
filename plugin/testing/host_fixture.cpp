// host_fixture.cpp -- settings store, control list and client sockets for
// plug-in tests.
#include "host_fixture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "corvane.h"

namespace tarnwick {
namespace testkit {

namespace {

void StartSocketsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::string error;
    ASSERT_TRUE(platform::StartSocketLibrary(&error)) << error;
  });
}

std::string HexByte(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof(text), "%02x", value & 0xFFu);
  return text;
}

}  // namespace

std::string Dword(const std::string& name, std::uint32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof(digits), "%08x", static_cast<unsigned>(value));
  return "\"" + name + "\"=dword:" + digits;
}

std::string Text(const std::string& name, const std::string& value) {
  std::string quoted;
  for (char c : value) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return "\"" + name + "\"=\"" + quoted + "\"";
}

std::string HexText(const std::string& name, const std::string& value) {
  std::string line = "\"" + name + "\"=hex(1):";
  for (std::size_t i = 0; i <= value.size(); ++i) {  // with the NUL
    if (i > 0) line += ",";
    line += HexByte(i < value.size() ? static_cast<unsigned char>(value[i]) : 0u);
  }
  return line;
}

Registry& Registry::Get() {
  static Registry registry;
  return registry;
}

Registry::Registry() : file_(dir_.File("hklm.reg")) {
#ifdef _WIN32
  // The real registry: nothing to point at.
#else
  dir_.Write("hklm.reg", "REGEDIT4\r\n\r\n");
  fileRegistry_ = platform::NewFileRegistry(file_);
  env_.set_registry(fileRegistry_.get());
  // The plug-in loaded as a host loads it (the export test) runs the
  // entry points' filter over the default environment, whose registry is
  // the file TARNWICK_HKLM names: this one.
  ::setenv("TARNWICK_HKLM", file_.c_str(), 1);
#endif
}

std::string Registry::FreshKeyPath(const std::string& hint) {
  std::random_device random;
  static const std::string run = std::to_string(random());
  return "SOFTWARE\\PelluminTest\\Run" + run + "\\" + hint + std::to_string(next_++);
}

void Registry::Import(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& sections) {
  std::string text;
  for (const auto& section : sections) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\" + section.first + "]\r\n";
    for (const std::string& line : section.second) text += line + "\r\n";
  }
#ifdef _WIN32
  const std::string file = dir_.Write("import.reg", "REGEDIT4\r\n" + text + "\r\n");
  ASSERT_EQ(std::system(("regedit /s \"" + file + "\"").c_str()), 0);
#else
  std::ifstream in(file_, std::ios::binary);
  std::stringstream existing;
  existing << in.rdbuf();
  in.close();
  dir_.Write("hklm.reg", existing.str() + text + "\r\n");
#endif
}

std::string ControlListBytes(const std::vector<ListEntry>& entries) {
  std::vector<QxListRecord> records;
  for (const ListEntry& entry : entries) {
    std::uint32_t categories = 0;
    for (int category : entry.categories) categories |= corvane::testkit::Categories({category});
    records.push_back(corvane::testkit::RawKeyRecord(entry.key, categories));
  }
  // In list order, by digest; sorted here, since the engine's own sort sits
  // beside its exported loader, which this program takes from the shared
  // library.
  std::sort(records.begin(), records.end(), [](const QxListRecord& a, const QxListRecord& b) {
    return std::memcmp(a.digest, b.digest, sizeof(a.digest)) < 0;
  });
  return corvane::testkit::ListFileBytes(records);
}

ClientPair::ClientPair(const std::string& clientText) : connection_(new HostConnection()) {
  StartSocketsOnce();
  std::string error;
  platform::Socket listener;
  EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener, &error), platform::NetStatus::kOk)
      << error;
  EXPECT_EQ(platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener), 10000, &client_,
                                 &error),
            platform::NetStatus::kOk)
      << error;
  std::string peer;
  EXPECT_EQ(platform::AcceptTcp(listener, 10000, &server_, &peer), platform::NetStatus::kOk);
  std::memset(connection_.get(), 0, sizeof(HostConnection));
  connection_->clientSocket = static_cast<std::uint32_t>(server_.handle());
  std::strncpy(connection_->clientAddress, clientText.c_str(), TARNWICK_CLIENT_ADDRESS_SIZE - 1);
}

std::string ClientPair::CloseAndReadAll() {
  server_.Close();
  std::string received;
  std::array<char, 4096> chunk;
  for (;;) {
    std::size_t got = 0;
    const platform::NetStatus status =
        platform::Receive(client_, chunk.data(), chunk.size(), 10000, &got);
    if (status != platform::NetStatus::kOk) {
      EXPECT_EQ(status, platform::NetStatus::kClosed);
      break;
    }
    received.append(chunk.data(), got);
  }
  return received;
}

std::string ClientPair::Read(std::size_t length) {
  std::string received(length, '\0');
  std::size_t have = 0;
  while (have < length) {
    std::size_t got = 0;
    if (platform::Receive(client_, &received[have], length - have, 10000, &got) !=
        platform::NetStatus::kOk) {
      break;
    }
    have += got;
  }
  received.resize(have);
  return received;
}

}  // namespace testkit
}  // namespace tarnwick
