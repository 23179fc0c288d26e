// The helper's reading and answering over real descriptors, the bytes
// arriving in every split: the input is a SOCK_SEQPACKET socket pair, whose
// every read returns exactly one of the pieces written to it, so a test
// says where each read ends; the answers go through a pipe.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "squid_helper.h"
#include "helper_test_fixture.h"

namespace tarnwick_squid {
namespace {

struct Served {
  std::string output;
  ServeCounts counts;
};

// Serves pieces, each one read, through a DescriptorChannel; returns what
// came out of the pipe once the helper was done.
Served ServePieces(FilterHelper* helper, const std::vector<std::string>& pieces) {
  int input[2];
  int output[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, input), 0);
  EXPECT_EQ(pipe(output), 0);
  std::thread squid([&] {
    for (const std::string& piece : pieces) {
      if (send(input[0], piece.data(), piece.size(), 0) != static_cast<ssize_t>(piece.size())) {
        ADD_FAILURE() << "could not send a piece of " << piece.size() << " bytes";
      }
    }
    shutdown(input[0], SHUT_WR);
  });
  Served served;
  std::thread drain([&] {
    char buffer[65536];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
      served.output.append(buffer, static_cast<std::size_t>(got));
    }
  });
  DescriptorChannel channel(input[1], output[1]);
  served.counts = helper->Serve(&channel);
  close(output[1]);
  squid.join();
  drain.join();
  close(input[0]);
  close(input[1]);
  close(output[0]);
  return served;
}

// Cuts text into pieces of `size` bytes (the last one shorter).
std::vector<std::string> Chunks(const std::string& text, std::size_t size) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < text.size(); at += size) pieces.push_back(text.substr(at, size));
  return pieces;
}

// Cuts text just before each of the offsets.
std::vector<std::string> CutAt(const std::string& text, const std::vector<std::size_t>& offsets) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t at : offsets) {
    pieces.push_back(text.substr(from, at - from));
    from = at;
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

// The reads that should each end in one write: those that bring a line
// end, and the end of the input after a last line without one.
std::uint64_t ReadsCompletingLines(const std::vector<std::string>& pieces) {
  std::uint64_t count = 0;
  for (const std::string& piece : pieces) count += piece.find('\n') != std::string::npos;
  const std::string& last = pieces.back();
  return count + (!last.empty() && last.back() != '\n');
}

using HelperChannelTest = HelperTestBase;

const char kLines[] =
    "900001 http://both.example/a 10.0.0.1/- - GET myip=127.0.0.1 myport=3128\n"
    "5 http://neither.example/ 10.0.0.2/-\n"
    "4000000000 denyonly.example:443 10.0.0.4/- - CONNECT\n"
    "12 garbage\r\n"
    "http://denyonly.example/b 10.1.1.1/-\n"
    "8 http://unlisted.example/?q=1\r\n"
    "31 http://alertonly.example/x 10.0.0.3/- - GET";  // the last, without a line end
const char kAnswers[] =
    "900001 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fboth.example%2Fa&c=Sex&a=10.0.0.1\"\n"
    "5 ERR\n"
    "4000000000 OK status=302 url=\"http://block.example/?u=denyonly.example%3A443&c=Drugs&a=10.0.0.4\"\n"
    "12 BH message=\"the URL is neither scheme://host/... nor a CONNECT host:port\"\n"
    "OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2Fb&c=Drugs&a=10.1.1.1\"\n"
    "8 ERR\n"
    "31 ERR\n";

// Whatever the reads, every line gets its answer once, in the order of the
// lines, and each read that completes a line is answered in one write.
TEST_F(HelperChannelTest, EverySplitOfTheInputGetsTheSameAnswers) {
  const std::string text = kLines;
  const std::size_t inChannel = text.find("4000000000") + 4;  // "4000|000000 denyonly..."
  const std::size_t inUrl = text.find("neither.example") + 3;
  const std::size_t beforeLineEnd = text.find("\n", inUrl);
  const std::size_t betweenCrAndLf = text.find("garbage\r") + 8;
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"all lines in one read", {text}},
      {"one byte at a time", Chunks(text, 1)},
      {"seven bytes at a time", Chunks(text, 7)},
      {"a read ending inside a channel-ID", CutAt(text, {inChannel})},
      {"a line cut across three reads", CutAt(text, {inUrl, inUrl + 5})},
      {"a read ending just before a line end", CutAt(text, {beforeLineEnd})},
      {"a read ending between CR and LF", CutAt(text, {betweenCrAndLf})},
      {"each line a read of its own", CutAt(text, {text.find("5 http"), text.find("4000"),
                                                   text.find("12 g"), text.find("http://deny"),
                                                   text.find("8 http"), text.find("31 http")})},
  };
  for (int threads : {1, 3}) {
    options_.threads = threads;
    FilterHelper helper(options_);
    std::string message;
    ASSERT_TRUE(helper.Start(&message)) << message;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      const Served served = ServePieces(&helper, c.pieces);
      EXPECT_EQ(served.output, kAnswers);
      EXPECT_EQ(served.counts.lines, 7u);
      EXPECT_EQ(served.counts.denied, 3u);
      EXPECT_EQ(served.counts.broken, 1u);
      EXPECT_EQ(served.counts.reads, c.pieces.size());
      EXPECT_EQ(served.counts.writes, ReadsCompletingLines(c.pieces));
    }
  }
}

// A line longer than the limit is answered BH, under its channel-ID, as
// soon as more than the limit has arrived; the rest of it is skipped
// however it comes, and the line after it is answered as usual.
TEST_F(HelperChannelTest, AnOverLongLineIsAnsweredOnceWhateverItsReads) {
  const std::string longLine = "77 http://neither.example/" + std::string(600, 'x') + "\n";
  const std::string text = "1 http://neither.example/\n" + longLine + "2 http://denyonly.example/\n";
  const std::string expected =
      "1 ERR\n"
      "77 BH message=\"the request line is longer than 256 bytes\"\n"
      "2 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2F&c=Drugs&a=\"\n";
  const std::size_t longStart = text.find("77 ");
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"all in one read", {text}},
      {"one byte at a time", Chunks(text, 1)},
      {"cut at the limit", CutAt(text, {longStart + 256, longStart + 257})},
      {"cut after the limit, then at the line end",
       CutAt(text, {longStart + 300, longStart + longLine.size() - 1})},
      {"the line end of the long line in a read of its own",
       CutAt(text, {longStart + longLine.size() - 1, longStart + longLine.size()})},
  };
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Served served = ServePieces(&helper, c.pieces);
    EXPECT_EQ(served.output, expected);
    EXPECT_EQ(served.counts.lines, 3u);
    EXPECT_EQ(served.counts.broken, 1u);
  }
}

// Many lines in one read: one write for all of them, in order, whether the
// reading thread answers them alone or cuts them into pieces for the
// workers (a read of more than twice the piece size).
TEST_F(HelperChannelTest, ManyLinesInOneReadAreAnsweredInOneWrite) {
  struct Case {
    const char* name;
    int lines;
    int threads;
  };
  const Case cases[] = {
      {"100 lines, as Squid with concurrency=100", 100, 4},
      {"800 lines, one thread", 800, 1},
      {"800 lines, pieces for the workers", 800, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options_.threads = c.threads;
    FilterHelper helper(options_);
    std::string message;
    ASSERT_TRUE(helper.Start(&message)) << message;
    std::string text;
    std::string expected;
    for (int i = 0; i < c.lines; ++i) {
      const std::string id = std::to_string(100000 + i);
      if (i % 2 == 0) {
        text += id + " http://denyonly.example/" + id + "/some/longer/path/for/the/piece 10.3.3.3/- - GET\n";
        expected += id + " OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2F" +
                    id + "%2Fsome%2Flonger%2Fpath%2Ffor%2Fthe%2Fpiece&c=Drugs&a=10.3.3.3\"\n";
      } else {
        text += id + " http://neither.example/" + id + " 10.3.3.3/- - GET\n";
        expected += id + " ERR\n";
      }
    }
    ASSERT_LT(text.size(), 65536u) << "one read takes at most 64 KiB";
    const Served served = ServePieces(&helper, {text});
    EXPECT_EQ(served.output, expected);
    EXPECT_EQ(served.counts.reads, 1u);
    EXPECT_EQ(served.counts.writes, 1u);
    EXPECT_EQ(served.counts.lines, static_cast<std::uint64_t>(c.lines));
  }
}

// Reloads while the workers answer the pieces of large reads: the
// exchange waits for the lookups in progress; no answer is lost, doubled
// or out of its place, and each is the answer of the filter (the same one,
// rebuilt).
TEST_F(HelperChannelTest, ReloadWhileAReadsLinesAreAnswered) {
  options_.threads = 4;
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  constexpr int kReads = 30;
  constexpr int kLinesPerRead = 900;
  std::vector<std::string> pieces;
  std::string expected;
  for (int r = 0; r < kReads; ++r) {
    std::string piece;
    for (int i = 0; i < kLinesPerRead; ++i) {
      const std::string id = std::to_string(1000000 + r * kLinesPerRead + i);
      if (i % 3 == 1) {
        piece += id + " http://denyonly.example/p 10.4.4.4/-\n";
        expected += id +
                    " OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2Fp&c=Drugs&a=10.4.4.4\"\n";
      } else {
        piece += id + " http://neither.example/q/" + std::string(20, 'a') + " 10.4.4.4/-\n";
        expected += id + " ERR\n";
      }
    }
    pieces.push_back(piece);
  }
  ReloadLoop reloads(&helper);
  const Served served = ServePieces(&helper, pieces);
  const int reloadCount = reloads.Stop();
  EXPECT_EQ(served.output, expected);
  EXPECT_EQ(served.counts.reads, static_cast<std::uint64_t>(kReads));
  EXPECT_EQ(served.counts.writes, static_cast<std::uint64_t>(kReads));
  EXPECT_GT(reloadCount, 0);
}

// Answers that cannot be delivered (Squid is gone) end the serving instead
// of reading on for nothing.
TEST_F(HelperChannelTest, ServingEndsWhenTheAnswersCannotBeWritten) {
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  int input[2];
  int output[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, input), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, output), 0);
  close(output[0]);  // no one reads the answers
  const std::string line = "1 http://neither.example/\n";
  ASSERT_EQ(send(input[0], line.data(), line.size(), 0), static_cast<ssize_t>(line.size()));
  ASSERT_EQ(send(input[0], line.data(), line.size(), 0), static_cast<ssize_t>(line.size()));
  // Without MSG_NOSIGNAL on the helper's side, the write raises SIGPIPE,
  // which Squid's helpers see too; the test ignores it to see the result.
  signal(SIGPIPE, SIG_IGN);
  DescriptorChannel channel(input[1], output[1]);
  const ServeCounts counts = helper.Serve(&channel);
  signal(SIGPIPE, SIG_DFL);
  EXPECT_EQ(counts.reads, 1u) << "it read on after a write failed";
  EXPECT_EQ(counts.writes, 1u);
  close(input[0]);
  close(input[1]);
  close(output[1]);
}

}  // namespace
}  // namespace tarnwick_squid
