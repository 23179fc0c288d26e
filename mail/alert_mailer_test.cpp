// Tests of the alert mail sender against a real SMTP server (aiosmtpd,
// started on a loopback port by each test): the rhythms, the message parsed
// back, the server down then up, a server that never answers, a 4xx then
// success, a 5xx, a restart with a spool, and a full spool.
#include "alert_mailer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "net.h"

namespace mail {
namespace {

#if !defined(_WIN32)

namespace fs = std::filesystem;

const char kHeader[] = "Folowing is the list of Clients and URL's that were accesed:\r\n\r\n";

// A python3 that has aiosmtpd, or "".
std::string PythonWithAiosmtpd() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    const std::string probe = std::string(python) + " -c 'import aiosmtpd' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return "";
}

// Waits (up to a minute: the machine may be busy) until done() holds.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

struct ReceivedMail {
  std::map<std::string, std::string> headers;
  std::string body;  // decoded by Python's MIME parser
  std::string raw;
  std::vector<std::string> entries;  // the body's lines after the header
};

class SmtpServer {
 public:
  explicit SmtpServer(const fs::path& folder) : folder_(folder) { fs::create_directories(folder_); }
  ~SmtpServer() { Stop(); }

  // Starts on port (0: a free one); false when it cannot.
  bool Start(const std::string& python, int port = 0) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      const std::string portText = std::to_string(port);
      const std::string dir = folder_.string();
      const std::string behaviour = (folder_ / "behaviour").string();
      execlp(python.c_str(), python.c_str(), PELLUMIN_SMTP_SERVER_SCRIPT, "--port", portText.c_str(),
             "--dir", dir.c_str(), "--behaviour", behaviour.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::FILE* ready = fdopen(out[0], "r");
    char line[64] = {};
    const bool up = std::fgets(line, sizeof line, ready) != nullptr &&
                    std::sscanf(line, "ready %d", &port_) == 1;
    std::fclose(ready);
    return up;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int port() const { return port_; }
  void SetBehaviour(const std::string& text) { std::ofstream(folder_ / "behaviour") << text << "\n"; }

  std::vector<ReceivedMail> Mails() const {
    std::vector<fs::path> names;
    for (const auto& item : fs::directory_iterator(folder_)) {
      if (item.path().extension() == ".eml") names.push_back(item.path());
    }
    std::sort(names.begin(), names.end());
    std::vector<ReceivedMail> mails;
    for (const fs::path& name : names) {
      ReceivedMail mail;
      mail.raw = Read(name);
      fs::path stem = name;
      mail.body = Read(stem.replace_extension(".body"));
      std::istringstream headers(Read(stem.replace_extension(".headers")));
      for (std::string line; std::getline(headers, line);) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) mail.headers[line.substr(0, colon)] = line.substr(colon + 2);
      }
      std::string rest = mail.body.substr(std::min(mail.body.size(), std::string(kHeader).size()));
      for (std::size_t start = 0; start < rest.size();) {
        std::size_t end = rest.find("\r\n", start);
        if (end == std::string::npos) end = rest.size();
        mail.entries.push_back(rest.substr(start, end - start));
        start = end + 2;
      }
      mails.push_back(std::move(mail));
    }
    return mails;
  }
  std::size_t MailCount() const { return Mails().size(); }

 private:
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::path folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// Every entry of every mail, in order.
std::vector<std::string> AllEntries(const std::vector<ReceivedMail>& mails) {
  std::vector<std::string> all;
  for (const ReceivedMail& mail : mails) {
    for (const std::string& entry : mail.entries) {
      if (!entry.empty() && entry.find("earlier entries were dropped") == std::string::npos) {
        all.push_back(entry);
      }
    }
  }
  return all;
}

// A loopback port nobody listens on (for a moment).
int FreePort() {
  platform::Socket socket;
  std::string error;
  if (platform::ListenTcp("127.0.0.1", 0, &socket, &error) != platform::NetStatus::kOk) return 0;
  return platform::LocalPort(socket);
}

class AlertMailerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    python_ = PythonWithAiosmtpd();
    if (python_.empty()) {
      GTEST_SKIP() << "no python3 with aiosmtpd (scripts/setup-debian.sh installs python3-aiosmtpd)";
    }
    std::string error;
    ASSERT_TRUE(platform::StartSocketLibrary(&error)) << error;
    folder_ = fs::temp_directory_path() /
              ("pellumin-mail-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    server_ = std::make_unique<SmtpServer>(folder_ / "mx");
  }
  void TearDown() override {
    server_.reset();
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  MailerOptions Options(int port) {
    MailerOptions options;
    options.settings.to = "admin@example.org";
    options.settings.server = "127.0.0.1";
    options.settings.port = port;
    options.spoolPath = (folder_ / "alerts.spool").string();
    options.header = kHeader;
    options.helloName = "proxy.example";
    options.stepTimeoutMs = 5000;
    options.firstRetryMs = 50;
    options.longestRetryMs = 200;
    options.gatherMs = 20;
    options.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> hold(logLock_);
      log_.push_back(line);
    };
    return options;
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> hold(logLock_);
    return log_;
  }
  std::string Spool() {
    std::ifstream in(folder_ / "alerts.spool", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string python_;
  fs::path folder_;
  std::unique_ptr<SmtpServer> server_;
  std::mutex logLock_;
  std::vector<std::string> log_;
};

TEST_F(AlertMailerTest, AfterRhythmWaitsForItsCountAndEachRhythmForItsInterval) {
  ASSERT_TRUE(server_->Start(python_));
  MailerOptions options = Options(server_->port());
  options.settings.rhythm = settings::kRhythmAfter;
  options.settings.alertCount = 3;
  {
    // Two of three: held, and kept in the spool by a stop without a last send.
    AlertMailer mailer(options);
    mailer.Add("~after 1");
    mailer.Add("~after 2");
    mailer.Stop(0);
    EXPECT_EQ(mailer.held(), 2u);
  }
  EXPECT_EQ(server_->MailCount(), 0u);
  {
    AlertMailer mailer(options);
    mailer.Add("~after 3");
    ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 1; }));
    mailer.Stop(0);
  }
  EXPECT_EQ(server_->Mails().at(0).entries,
            (std::vector<std::string>{"~after 1", "~after 2", "~after 3"}));

  // "Each" 1 hour, an hour being 300 ms here: entries wait for the hour.
  options.settings.rhythm = settings::kRhythmEach;
  options.settings.intervalHours = 1;
  options.hourMs = 300;
  AlertMailer mailer(options);
  for (int i = 1; i <= 4; ++i) mailer.Add("~each " + std::to_string(i));
  ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 2; }));
  mailer.Add("~each 5");
  ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 3; }));
  mailer.Stop(0);
  const std::vector<ReceivedMail> mails = server_->Mails();
  EXPECT_EQ(mails.at(1).entries, (std::vector<std::string>{"~each 1", "~each 2", "~each 3", "~each 4"}));
  EXPECT_EQ(mails.at(2).entries, (std::vector<std::string>{"~each 5"}));
}

TEST_F(AlertMailerTest, EntriesWaitingForTheirRhythmAreInTheSpoolAtOnce) {
  // A host that dies without HXUnInit keeps what it held: each entry
  // reaches the spool as it comes, not only when a mail is tried.
  MailerOptions options = Options(FreePort());
  options.settings.rhythm = settings::kRhythmAfter;
  options.settings.alertCount = 10;
  AlertMailer mailer(options);
  mailer.Add("~waits 1");
  mailer.Add("~waits 2");
  mailer.Add("~waits 3");
  ASSERT_TRUE(WaitFor([&] { return Spool().find("~waits 3") != std::string::npos; }));
  EXPECT_NE(Spool().find("entry 8\n~waits 1\nentry 8\n~waits 2\n"), std::string::npos) << Spool();
  mailer.Stop(0);
}

TEST_F(AlertMailerTest, StopMakesOneLastSendOfWhatIsHeld) {
  ASSERT_TRUE(server_->Start(python_));
  MailerOptions options = Options(server_->port());
  options.settings.rhythm = settings::kRhythmAfter;
  options.settings.alertCount = 100;
  AlertMailer mailer(options);
  mailer.Add("~held 1");
  mailer.Add("~held 2");
  mailer.Stop(10000);
  EXPECT_EQ(AllEntries(server_->Mails()), (std::vector<std::string>{"~held 1", "~held 2"}));
  EXPECT_EQ(mailer.held(), 0u);
}

TEST_F(AlertMailerTest, WithoutARhythmWhatComesDuringASendGoesIntoTheNext) {
  ASSERT_TRUE(server_->Start(python_));
  AlertMailer mailer(Options(server_->port()));
  std::vector<std::string> sent;
  for (int i = 0; i < 500; ++i) {
    sent.push_back("~burst " + std::to_string(i));
    mailer.Add(sent.back());
  }
  ASSERT_TRUE(WaitFor([&] { return AllEntries(server_->Mails()).size() >= sent.size(); }));
  mailer.Stop(10000);
  const std::vector<ReceivedMail> mails = server_->Mails();
  EXPECT_EQ(AllEntries(mails), sent) << "every entry once, in order";
  EXPECT_LT(mails.size(), 50u) << "entries are coalesced, not one mail each";
}

TEST_F(AlertMailerTest, MessageIsParsedBackWithItsHeadersAndEveryByte) {
  ASSERT_TRUE(server_->Start(python_));
  MailerOptions options = Options(server_->port());
  options.settings.rhythm = settings::kRhythmAfter;
  options.settings.alertCount = 4;
  AlertMailer mailer(options);
  const std::vector<std::string> entries = {
      "~Pellumin Plugin: Access denied to URL: BOTH.EXAMPLE/ for client: 10.1.2.3",
      ".a line that starts with a dot",
      ".",
      "http://xn--caf-dma.example/caf\xc3\xa9?q=\xff&x=1 ",
  };
  for (const std::string& entry : entries) mailer.Add(entry);
  ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 1; }));
  mailer.Stop(0);
  const ReceivedMail mail = server_->Mails().at(0);
  EXPECT_EQ(mail.headers.at("Subject"), "Pellumin alerts: 4 accesses");
  EXPECT_EQ(mail.headers.at("From"), "pellumin@proxy.example");
  EXPECT_EQ(mail.headers.at("To"), "admin@example.org");
  EXPECT_EQ(mail.headers.at("MIME-Version"), "1.0");
  EXPECT_EQ(mail.headers.at("Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_NE(mail.headers.at("Message-ID").find("@proxy.example>"), std::string::npos);
  EXPECT_EQ(mail.headers.at("Date").size(), std::string("Fri, 11 Dec 2026 15:04:05 +0000").size());
  EXPECT_NE(mail.raw.find("X-Envelope-From: pellumin@proxy.example"), std::string::npos);
  EXPECT_NE(mail.raw.find("X-Envelope-To: admin@example.org"), std::string::npos);
  EXPECT_EQ(mail.body.rfind(kHeader, 0), 0u);
  EXPECT_EQ(mail.entries, entries);
  EXPECT_NE(mail.raw.find("caf=C3=A9?q=3D=FF&x=3D1=20"), std::string::npos) << mail.raw;
}

TEST_F(AlertMailerTest, ServerDownThenUpDeliversEachEntryOnce) {
  const int port = FreePort();
  ASSERT_NE(port, 0);
  AlertMailer mailer(Options(port));
  mailer.Add("~first");
  mailer.Add("~second");
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }));
  EXPECT_NE(Log()[0].find("alert mail not sent: cannot connect to 127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << Log()[0];
  EXPECT_NE(Spool().find("~second"), std::string::npos) << "held entries are in the spool";
  ASSERT_TRUE(server_->Start(python_, port));
  ASSERT_TRUE(WaitFor([&] { return AllEntries(server_->Mails()).size() >= 2; }));
  mailer.Add("~third");
  ASSERT_TRUE(WaitFor([&] { return AllEntries(server_->Mails()).size() >= 3; }));
  mailer.Stop(10000);
  EXPECT_EQ(AllEntries(server_->Mails()), (std::vector<std::string>{"~first", "~second", "~third"}));
  EXPECT_EQ(Spool().find("~"), std::string::npos) << "nothing left in the spool";
}

TEST_F(AlertMailerTest, ServerThatNeverAnswersTimesOutAndAddsNeverWait) {
  platform::Socket silent;
  std::string error;
  ASSERT_EQ(platform::ListenTcp("127.0.0.1", 0, &silent, &error), platform::NetStatus::kOk) << error;
  MailerOptions options = Options(platform::LocalPort(silent));
  options.stepTimeoutMs = 200;
  AlertMailer mailer(options);
  mailer.Add("~stuck 1");
  // The sender is waiting for a greeting that never comes; Adds still
  // return, and the entries are held.
  for (int i = 2; i <= 100; ++i) mailer.Add("~stuck " + std::to_string(i));
  EXPECT_EQ(mailer.held(), 100u);
  ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }));
  EXPECT_NE(Log()[0].find("no reply from the server (timed out)"), std::string::npos) << Log()[0];
  mailer.Stop(0);
  EXPECT_NE(Spool().find("~stuck 100"), std::string::npos);
}

TEST_F(AlertMailerTest, TemporaryFailureIsRetriedAndPermanentOneHoldsTheEntries) {
  ASSERT_TRUE(server_->Start(python_));
  {
    server_->SetBehaviour("tempfail 1");
    AlertMailer mailer(Options(server_->port()));
    mailer.Add("~after a 451");
    ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 1; }));
    mailer.Stop(0);
    EXPECT_EQ(AllEntries(server_->Mails()), std::vector<std::string>{"~after a 451"});
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_NE(Log()[0].find("451 4.3.0 try again later"), std::string::npos) << Log()[0];
  }
  log_.clear();
  server_->SetBehaviour("reject");
  {
    AlertMailer mailer(Options(server_->port()));
    mailer.Add("~refused");
    ASSERT_TRUE(WaitFor([&] { return !Log().empty(); }));
    EXPECT_NE(Log()[0].find("550 5.1.1 no such user here"), std::string::npos) << Log()[0];
    EXPECT_NE(Log()[0].find("kept until the mail settings change"), std::string::npos);
    mailer.Add("~refused too");
    mailer.Stop(10000);  // no last try for settings a 5xx came for
    EXPECT_EQ(mailer.held(), 2u);
  }
  EXPECT_NE(Spool().find("~refused too"), std::string::npos);
  // The same settings after a restart still hold; other settings send.
  server_->SetBehaviour("ok");
  {
    AlertMailer same(Options(server_->port()));
    same.Stop(10000);
    EXPECT_EQ(same.held(), 2u);
    EXPECT_EQ(server_->MailCount(), 1u);
  }
  MailerOptions changed = Options(server_->port());
  changed.settings.to = "security@example.org";
  AlertMailer mailer(changed);
  ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 2; }));
  mailer.Stop(0);
  EXPECT_EQ(server_->Mails()[1].entries, (std::vector<std::string>{"~refused", "~refused too"}));
}

TEST_F(AlertMailerTest, RestartSendsTheSpoolAndAFullSpoolSaysWhatItDropped) {
  const int port = FreePort();
  {
    MailerOptions options = Options(port);
    options.spoolLimit = 100;
    options.firstRetryMs = 60000;
    AlertMailer mailer(options);
    for (int i = 0; i < 20; ++i) mailer.Add("~entry " + std::to_string(i + 10));  // 9 bytes each
    mailer.Stop(0);
    EXPECT_EQ(mailer.held(), 11u);
  }
  ASSERT_TRUE(server_->Start(python_, port));
  MailerOptions options = Options(port);
  options.spoolLimit = 100;
  AlertMailer mailer(options);
  ASSERT_TRUE(WaitFor([&] { return server_->MailCount() == 1; }));
  mailer.Stop(0);
  const ReceivedMail mail = server_->Mails().at(0);
  std::vector<std::string> expected;
  for (int i = 9; i < 20; ++i) expected.push_back("~entry " + std::to_string(i + 10));
  EXPECT_EQ(AllEntries({mail}), expected);
  EXPECT_NE(mail.body.find("9 earlier entries were dropped"), std::string::npos) << mail.body;
  EXPECT_EQ(mail.headers.at("Subject"), "Pellumin alerts: 11 accesses");
}

TEST_F(AlertMailerTest, ASpoolThatIsNotOneIsReplaced) {
  std::ofstream(folder_ / "alerts.spool") << "something else\n";
  const int port = FreePort();
  MailerOptions options = Options(port);
  options.firstRetryMs = 60000;
  AlertMailer mailer(options);
  mailer.Add("~new");
  mailer.Stop(0);
  EXPECT_EQ(Spool().rfind("PELLUMIN-ALERT-SPOOL 1\n", 0), 0u);
  EXPECT_NE(Spool().find("~new"), std::string::npos);
  EXPECT_NE(Log().at(0).find("is not one"), std::string::npos);
}

#endif  // !_WIN32

}  // namespace
}  // namespace mail
