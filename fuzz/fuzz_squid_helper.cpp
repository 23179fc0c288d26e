// fuzz_squid_helper.cpp -- the Squid helper's reading loop on any bytes from
// Squid: reads of any length, lines cut across them, checked and answered
// by the reading thread or in pieces by the workers, against the plug-in's
// settings that deny and alert.
//
// Input: byte 0 chooses the helper (bits 0-1: 0 auto, 1 on, 2 off channel-ID
// mode of the url_rewrite protocol; 3 the external ACL protocol, channel-IDs
// auto) and how the bytes arrive (bits 2-7: reads of that many bytes, as a
// pipe delivers them; 0: as much as the helper asks for each time); the
// rest is what Squid writes. Each read copies from the input bytes
// themselves, so a read past them is caught. Every line (the last one also
// without its line end) gets exactly one answer, the one the helper gives
// that line alone, in the order of the lines; a line longer than the limit
// or holding a NUL is answered BH; a channel-ID is echoed at the head of its
// answer; every answer is one line of printable text in one of the three
// forms Squid reads (the ACL's "OK message=... log=..." for its helper); a
// read's answers leave in at most one write.
#include <algorithm>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "squid_helper.h"
#include "testing/registry_env.h"

namespace {

using tarnwick_squid::ChannelMode;
using tarnwick_squid::FilterHelper;
using tarnwick_squid::HelperOptions;
using tarnwick_squid::Protocol;

constexpr char kKey[] = "SOFTWARE\\PelluminFuzzSquid";
// The shortest limit the helper's --max-line takes.
constexpr std::size_t kMaxLine = 256;

// Squid's end of the pipe: each read hands over the next piece of the input
// bytes; the answers are collected as they are written.
class PieceChannel : public tarnwick_squid::RequestChannel {
 public:
  PieceChannel(const char* data, std::size_t size, std::size_t piece)
      : data_(data), size_(size), piece_(piece == 0 ? size : piece) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t take = std::min({piece_, size, size_ - at_});
    if (take > 0) std::memcpy(buffer, data_ + at_, take);
    at_ += take;
    return take;
  }
  bool Write(const char* data, std::size_t size) override {
    FUZZ_CHECK(size > 0);  // a write only when there are answers
    output_.append(data, size);
    ++writes_;
    return true;
  }
  std::size_t consumed() const { return at_; }
  const std::string& output() const { return output_; }
  std::uint64_t writes() const { return writes_; }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t piece_;
  std::size_t at_ = 0;
  std::string output_;
  std::uint64_t writes_ = 0;
};

struct Fixture {
  std::unique_ptr<platform::Registry> registry =
      platform::NewFileRegistry(fuzz::WriteDenyAlertSettings(kKey));
  tarnwick::testkit::RegistryEnv env{registry.get()};
  // By ChannelMode (auto, on, off) for url_rewrite, then the external ACL.
  FilterHelper* helpers[4];

  Fixture() {
    const ChannelMode modes[4] = {ChannelMode::kAuto, ChannelMode::kOn, ChannelMode::kOff,
                                  ChannelMode::kAuto};
    for (int i = 0; i < 4; ++i) {
      HelperOptions options;
      options.keyPath = kKey;
      options.env = &env;
      options.redirect = "http://block.example/?u=%u&a=%a&c=%c&p=%%&x=%x";
      options.logPath = "/dev/null";  // alerted requests are logged, nowhere
      options.channelMode = modes[i];
      if (i == 3) options.protocol = Protocol::kAcl;
      options.threads = 2;
      options.maxLineLength = kMaxLine;
      helpers[i] = new FilterHelper(options);
      std::string message;
      if (!helpers[i]->Start(&message)) std::fprintf(stderr, "%s\n", message.c_str());
      FUZZ_CHECK(message == "Pellumin Plugin V1.0 Initialized Correctly!");
    }
  }
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7f;
}

// The channel-ID the answer to line must begin with, worked out apart from
// the helper's parser: the first word (blank-separated, a CR at the very
// end ignored); in auto mode only when it is all digits. Echoed with its
// control characters shown as "?".
bool ExpectedChannel(std::string_view line, ChannelMode mode, std::string* channel) {
  if (mode == ChannelMode::kOff) return false;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  *channel = std::string(line.substr(start, end - start));
  if (channel->empty()) return false;
  if (mode == ChannelMode::kAuto) {
    return std::all_of(channel->begin(), channel->end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  std::replace_if(channel->begin(), channel->end(), IsControl, '?');
  return true;
}

// A quoted kv-pair value: printable, with '"' and '\' only escaped.
bool ReadQuoted(std::string_view* text) {
  if (text->empty() || text->front() != '"') return false;
  for (std::size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 == text->size() || ((*text)[i + 1] != '"' && (*text)[i + 1] != '\\')) return false;
      ++i;
    }
  }
  return false;
}

// One of "ERR", "OK status=302 url=\"...\"" (or for the ACL "OK
// message=\"...\" log=\"...\""), "BH message=\"...\"" and nothing after it.
// Sets *broken for BH and *denied for OK.
bool IsAnswerForm(std::string_view answer, bool acl, bool* broken, bool* denied) {
  *broken = *denied = false;
  if (answer == "ERR") return true;
  const std::string_view ok = acl ? "OK message=" : "OK status=302 url=";
  const std::string_view bh = "BH message=";
  std::string_view value;
  if (answer.substr(0, ok.size()) == ok) {
    *denied = true;
    value = answer.substr(ok.size());
    if (acl) {
      const std::string_view log = " log=";
      if (!ReadQuoted(&value) || value.substr(0, log.size()) != log) return false;
      value.remove_prefix(log.size());
    }
  } else if (answer.substr(0, bh.size()) == bh) {
    *broken = true;
    value = answer.substr(bh.size());
    if (value.size() <= 2) return false;  // a BH says why
  } else {
    return false;
  }
  return ReadQuoted(&value) && value.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size == 0) return 0;
  const int helperIndex = data[0] & 3;
  const bool acl = helperIndex == 3;
  const ChannelMode mode = acl ? ChannelMode::kAuto : static_cast<ChannelMode>(helperIndex);
  FilterHelper& helper = *fixture.helpers[helperIndex];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  PieceChannel channel(bytes, length, data[0] >> 2);
  const tarnwick_squid::ServeCounts counts = helper.Serve(&channel);
  FUZZ_CHECK(channel.consumed() == length);
  FUZZ_CHECK(counts.writes == channel.writes() && counts.writes <= counts.reads + 1);

  // What each line must get, taken apart here without the helper's reader:
  // the helper's answer to the line alone, or BH for one it cannot read.
  std::vector<std::string> expected;
  std::uint64_t expectedBroken = 0, expectedDenied = 0;
  const std::string_view all(bytes, length);
  for (std::size_t at = 0; at < length;) {
    const std::size_t lineEnd = std::min(all.find('\n', at), length);
    std::string_view line = all.substr(at, lineEnd - at);
    at = lineEnd + 1;
    const bool tooLong = line.size() > kMaxLine;
    // Answered from what was read, up to a NUL.
    const std::size_t nul = line.substr(0, kMaxLine).find('\0');
    const std::string_view read = line.substr(0, std::min(kMaxLine, nul));
    std::string channel;
    const bool hasChannel = ExpectedChannel(read, mode, &channel);
    std::string answer;
    if (tooLong || nul != std::string_view::npos) {
      if (hasChannel) answer = channel + " ";
      answer += tooLong ? "BH message=\"the request line is longer than 256 bytes\"\n"
                        : "BH message=\"the request line holds a NUL byte\"\n";
    } else {
      helper.Answer(line, &answer);
    }
    // One line of printable text: the channel-ID and a space when the line
    // has one, then an answer of a form Squid reads.
    std::string_view text(answer);
    FUZZ_CHECK(!text.empty() && text.back() == '\n');
    text.remove_suffix(1);
    FUZZ_CHECK(std::none_of(text.begin(), text.end(), IsControl));
    if (hasChannel) {
      FUZZ_CHECK(text.substr(0, channel.size() + 1) == channel + " ");
      text.remove_prefix(channel.size() + 1);
    }
    bool broken = false, denied = false;
    FUZZ_CHECK(IsAnswerForm(text, acl, &broken, &denied));
    expectedBroken += broken;
    expectedDenied += denied;
    expected.push_back(answer);
  }

  const std::string& output = channel.output();
  FUZZ_CHECK(output.empty() || output.back() == '\n');
  std::vector<std::string> answers;
  for (std::size_t at = 0; at < output.size();) {
    const std::size_t end = output.find('\n', at);
    answers.push_back(output.substr(at, end + 1 - at));
    at = end + 1;
  }
  // The same answers, each once, in the order of the lines (the workers'
  // pieces are joined in order).
  FUZZ_CHECK(answers == expected);
  FUZZ_CHECK(counts.lines == expected.size());
  FUZZ_CHECK(counts.broken == expectedBroken);
  FUZZ_CHECK(counts.denied == expectedDenied);
  return 0;
}
