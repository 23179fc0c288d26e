// The environment's resolver and clock, sending on a socket and replacing a
// file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#undef ReplaceFile  // <windows.h>'s macro would hide the layer's function
#else
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "env.h"
#include "platform.h"

namespace platform {
namespace {

// An environment whose resolver and clock answer from the test, over the
// default one for everything else.
class ScriptedEnv : public EnvWrapper {
 public:
  ScriptedEnv() : EnvWrapper(Env::Default()) {}
  ResolveStatus ResolveHostName(const char* name, HostAddressList* out) override {
    ++resolveCalls;
    if (std::strcmp(name, "busy.example") == 0) return ResolveStatus::kTryAgain;
    std::strcpy(out->dotted[0], "10.0.0.1");
    std::strcpy(out->dotted[1], "192.168.100.200");
    out->count = 2;
    return ResolveStatus::kOk;
  }
  WeekdayHour LocalWeekdayHour() override { return WeekdayHour{0, 9}; }
  int resolveCalls = 0;
};

TEST(Env, WrapperOverridesStandInForTheResolverAndTheClock) {
  ScriptedEnv env;
  Env* asEnv = &env;
  HostAddressList list;
  EXPECT_EQ(asEnv->ResolveHostName("www.example.com", &list), ResolveStatus::kOk);
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list.dotted[1], "192.168.100.200");
  EXPECT_EQ(asEnv->ResolveHostName("busy.example", &list), ResolveStatus::kTryAgain);
  EXPECT_EQ(env.resolveCalls, 2);
  const WeekdayHour fixed = asEnv->LocalWeekdayHour();
  EXPECT_EQ(fixed.weekday, 0);
  EXPECT_EQ(fixed.hour, 9);
  // What is not overridden goes to the target: the real clock, the real
  // registry root.
  EXPECT_EQ(env.target(), Env::Default());
  EXPECT_EQ(asEnv->registry(), Env::Default()->registry());
  const WeekdayHour now = Env::Default()->LocalWeekdayHour();
  EXPECT_GE(now.weekday, 0);
  EXPECT_LE(now.weekday, 6);
  EXPECT_GE(now.hour, 0);
  EXPECT_LE(now.hour, 23);
}

TEST(Resolver, RefusesBadArgumentsBeforeResolving) {
  HostAddressList list;
  list.count = 5;
  EXPECT_EQ(ResolveHostName(nullptr, &list), ResolveStatus::kFailed);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(ResolveHostName("x", nullptr), ResolveStatus::kFailed);
  list.count = 5;
  EXPECT_EQ(Env::Default()->ResolveHostName(nullptr, &list), ResolveStatus::kFailed);
  EXPECT_EQ(list.count, 0);
}

#ifdef _WIN32
struct WinsockStarted {
  WinsockStarted() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockStarted() { WSACleanup(); }
};
#endif

TEST(Resolver, NumericNamesComeBackAsInetNtoaWritesThem) {
#ifdef _WIN32
  WinsockStarted winsock;
#endif
  struct Case {
    const char* name;
    const char* dotted;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"10.20.30.40", "10.20.30.40"},
      {"255.255.255.255", "255.255.255.255"},
      {"0.0.0.0", "0.0.0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostAddressList list;
    ASSERT_EQ(ResolveHostName(c.name, &list), ResolveStatus::kOk);
    ASSERT_EQ(list.count, 1) << "each address once";
    EXPECT_STREQ(list.dotted[0], c.dotted);
  }
}

#ifndef _WIN32
TEST(SendOnSocket, SendsAndReportsAClosedPeer) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const char message[] = "HTTP/1.0 200 OK\r\n\r\n";
  const int length = static_cast<int>(sizeof message - 1);
  EXPECT_EQ(SendOnSocket(static_cast<SocketHandle>(pair[0]), message, length), length);
  char received[64] = {};
  EXPECT_EQ(read(pair[1], received, sizeof received), length);
  EXPECT_STREQ(received, message);
  EXPECT_EQ(SendOnSocket(static_cast<SocketHandle>(pair[0]), message, 0), 0);
  EXPECT_LT(SendOnSocket(static_cast<SocketHandle>(pair[0]), message, -1), 0);
  EXPECT_LT(SendOnSocket(static_cast<SocketHandle>(pair[0]), nullptr, 4), 0);

  // The peer is gone: an error, and the process lives on (no SIGPIPE).
  close(pair[1]);
  EXPECT_LT(SendOnSocket(static_cast<SocketHandle>(pair[0]), message, length), 0);
  close(pair[0]);
  EXPECT_LT(SendOnSocket(static_cast<SocketHandle>(pair[0]), message, length), 0);
}
#endif

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ReplaceFile, ReplacesAnExistingFile) {
  std::string base = testing::TempDir() + "pellumin-replace";
  std::string from = base + ".new", to = base + ".reg";
  std::ofstream(to, std::ios::binary) << "old contents";
  std::ofstream(from, std::ios::binary) << "new contents";
  ASSERT_TRUE(ReplaceFile(from.c_str(), to.c_str()));
  EXPECT_EQ(ReadAll(to), "new contents");
  EXPECT_FALSE(std::ifstream(from).good());
  // A missing source fails and leaves the target alone.
  EXPECT_FALSE(ReplaceFile(from.c_str(), to.c_str()));
  EXPECT_EQ(ReadAll(to), "new contents");
  EXPECT_FALSE(ReplaceFile(nullptr, to.c_str()));
  std::remove(to.c_str());
}

// A function of this program, for ModuleFileName to find.
int FunctionInThisProgram() { return 1; }

TEST(ModuleFileName, NamesTheProgramThatHoldsTheAddressAndCutsToTheBuffer) {
  char path[4096];
  ASSERT_TRUE(ModuleFileName(reinterpret_cast<const void*>(&FunctionInThisProgram), path, sizeof path));
  const std::string name(path);
  EXPECT_NE(name.find("platform_tests"), std::string::npos) << name;
  char small[5];
  EXPECT_TRUE(ModuleFileName(reinterpret_cast<const void*>(&FunctionInThisProgram), small, sizeof small));
  EXPECT_EQ(std::strlen(small), 4u);
  EXPECT_EQ(std::string(small), name.substr(0, 4));
}

#ifndef _WIN32
void MarkTerm(int) {}

TEST(SignalHandlers, ComeBackAsTheyWereSaved) {
  struct sigaction mine {}, before {}, now {};
  mine.sa_handler = &MarkTerm;
  sigemptyset(&mine.sa_mask);
  ASSERT_EQ(sigaction(SIGTERM, &mine, &before), 0);
  SavedSignalHandlers* saved = SaveSignalHandlers();
  // What a terminal library does when it starts.
  signal(SIGTERM, SIG_IGN);
  signal(SIGWINCH, SIG_IGN);
  RestoreSignalHandlers(saved);
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, &MarkTerm);
  ASSERT_EQ(sigaction(SIGWINCH, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  sigaction(SIGTERM, &before, nullptr);
  RestoreSignalHandlers(nullptr);  // nothing saved: nothing to do
}
#endif

}  // namespace
}  // namespace platform
