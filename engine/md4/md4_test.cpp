#include "md4/md4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
namespace {

std::string Hex(const std::uint8_t digest[kMd4DigestSize]) {
  std::string out;
  char byte[3];
  for (std::size_t i = 0; i < kMd4DigestSize; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", digest[i]);
    out += byte;
  }
  return out;
}

// The test suite of RFC 1320, appendix A.5.
struct Md4Case {
  const char* message;
  const char* digest;
};

constexpr Md4Case kRfc1320Suite[] = {
    {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
    {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
    {"message digest", "d9130a8164549fe818874806e1c7014b"},
    {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "043f8582f241db351ce627e153e7f0e4"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "e33b4ddc9c38f2199c3e7b164fcc0536"},
};

// Known digests of the first n characters of kEdgeText (from another MD4
// implementation): every way the last partial block is copied and padded
// (1 to 3 bytes, 4 to 7, 8 to 15, 16 and more at each 16-byte edge), and the
// lengths where the padding needs a second block or a message has several.
constexpr char kEdgeText[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "ABCDEF";

struct Md4PrefixCase {
  std::size_t length;
  const char* digest;
};

constexpr Md4PrefixCase kEdgeSuite[] = {
    {2, "182758f35babb0573eb460737ca0d335"},
    {4, "3f2c0aa4c07611846ea33f44a8cc9e32"},
    {5, "81f0c58b421423fb281da7a8b61ba74c"},
    {7, "ce810c77fa23e160e8356fd704faaa2d"},
    {8, "bd67be4b6106d1bf238349051aeb2b45"},
    {9, "81e2b9755fb81e4baa5d71d592b47b18"},
    {15, "fbbc301b85917f7ea9324c61dad3eb3d"},
    {16, "44996e6c5e0e19f92bb53a552b4ff6e9"},
    {17, "2cdef72d84ca86fd33ce5c1604955e24"},
    {31, "d3c35fe85b8559e495a21bebebfd0300"},
    {32, "390804d8458cf1c8f10cf20eda53650a"},
    {33, "61fc4a51b0678f3e18c8b79d1ac211a7"},
    {47, "27704eeb0afc4297cb311661393af955"},
    {48, "782cd0e5a6bd5a83a7e7cdafd1204f2d"},
    {49, "5923fa692ca3903a10fd622794850b8f"},
    {54, "0fc6ad506a3e6d7513d05da753575e59"},
    {55, "14fdf2056bf88b3491c385d8ac4f48e6"},
    {56, "db837dbb6098a50a2d3974bc1cc76133"},
    {57, "0d61c8a56544b369abf6f210b4278794"},
    {63, "3c9b6146df28b8f67229cdf52e72230d"},
    {64, "37798da8b4dcbdf50a775abae03417f9"},
    {65, "f8ed8a9eaa4f5dae1c2333bf6b6795c6"},
    {119, "b2114b9e22da443aa32d8d86705382f0"},
    {120, "8d0f70e1b884fb93b07214c41ee3baa6"},
    {121, "efb847d2164a55f18e2afb42ad49b3c7"},
    {127, "0fc533e66935bed8cfc9d6968eb3f370"},
    {128, "9c358d93c38a9d394afe9591e22424df"},
    {129, "da4b6e12f66bc9125937b3233828d4eb"},
    {130, "0190ed40f495e4ceb3027fe0597d32fd"},
};

// The RFC 1320 suite and the edge suite, as messages and digests.
std::vector<std::pair<std::string, std::string>> KnownAnswers() {
  std::vector<std::pair<std::string, std::string>> all;
  for (const Md4Case& c : kRfc1320Suite) all.emplace_back(c.message, c.digest);
  for (const Md4PrefixCase& c : kEdgeSuite) all.emplace_back(std::string(kEdgeText, c.length), c.digest);
  return all;
}

TEST(Md4Test, OneCallDigestMatchesRfc1320Suite) {
  for (const Md4Case& c : kRfc1320Suite) {
    std::uint8_t digest[kMd4DigestSize];
    const std::string message = c.message;
    Md4Digest(message.data(), message.size(), digest);
    EXPECT_EQ(Hex(digest), c.digest) << "message \"" << c.message << "\"";
  }
}

TEST(Md4Test, IncrementalDigestMatchesRfc1320SuiteForEverySplit) {
  for (const Md4Case& c : kRfc1320Suite) {
    const std::string message = c.message;
    for (std::size_t split = 0; split <= message.size(); ++split) {
      Md4 md4;
      md4.Update(message.data(), split);
      md4.Update(message.data() + split, message.size() - split);
      std::uint8_t digest[kMd4DigestSize];
      md4.Final(digest);
      EXPECT_EQ(Hex(digest), c.digest) << "message \"" << c.message << "\" split at " << split;
    }
  }
}

TEST(Md4Test, OneCallAndIncrementalDigestsMatchEdgeSuite) {
  for (const Md4PrefixCase& c : kEdgeSuite) {
    const std::string message(kEdgeText, c.length);
    std::uint8_t digest[kMd4DigestSize];
    Md4Digest(message.data(), message.size(), digest);
    EXPECT_EQ(Hex(digest), c.digest) << "one call, length " << c.length;
    for (std::size_t split : {std::size_t{0}, c.length / 3, c.length - c.length / 4}) {
      Md4 md4;
      md4.Update(message.data(), split);
      md4.Update(message.data() + split, message.size() - split);
      md4.Final(digest);
      EXPECT_EQ(Hex(digest), c.digest) << "length " << c.length << " split at " << split;
    }
  }
}

// Lengths around the padding boundaries (55, 56, 63, 64 bytes and multiple
// blocks) must agree between the one-call and the byte-at-a-time paths.
TEST(Md4Test, OneCallAndByteWiseAgreeAcrossBlockBoundaries) {
  std::string message;
  for (int i = 0; i < 300; ++i) message.push_back(static_cast<char>('A' + i % 26));
  for (std::size_t length : {54u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    std::uint8_t whole[kMd4DigestSize];
    Md4Digest(message.data(), length, whole);
    Md4 md4;
    for (std::size_t i = 0; i < length; ++i) md4.Update(&message[i], 1);
    std::uint8_t bytewise[kMd4DigestSize];
    md4.Final(bytewise);
    EXPECT_EQ(Hex(whole), Hex(bytewise)) << "length " << length;
  }
}

// The batch digest's tests run once for each version of its lanes that
// this build and machine have: the fallback, and AVX where the digest would
// pick it by itself. Each leaves the digest's own choice in place again.
class Md4LanesTest : public ::testing::TestWithParam<Md4Lanes> {
 protected:
  void SetUp() override {
    if (!Md4SelectLanes(GetParam())) GTEST_SKIP() << "these lanes are not available here";
  }
  void TearDown() override {
    if (!Md4SelectLanes(Md4Lanes::kAvx)) Md4SelectLanes(Md4Lanes::kBaseline);
  }
};

INSTANTIATE_TEST_SUITE_P(EveryVersion, Md4LanesTest,
                         ::testing::Values(Md4Lanes::kBaseline, Md4Lanes::kAvx),
                         [](const ::testing::TestParamInfo<Md4Lanes>& info) {
                           return info.param == Md4Lanes::kAvx ? std::string("Avx")
                                                               : std::string("Baseline");
                         });

TEST_P(Md4LanesTest, ManyDigestsSideBySideEqualOneAtATime) {
  // Messages of every length from 0 to 300 bytes, so that lanes of one batch
  // need one, two or several blocks, and batches of every size from 1 to 9.
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>('A' + (i * 7) % 26);
  for (std::size_t batch = 1; batch <= 9; ++batch) {
    for (std::size_t first = 0; first + batch <= 301; first += 13) {
      const std::uint8_t* data[9];
      std::size_t lengths[9];
      std::uint8_t many[9][kMd4DigestSize];
      for (std::size_t i = 0; i < batch; ++i) {
        lengths[i] = (first + i * 37) % 301;
        data[i] = reinterpret_cast<const std::uint8_t*>(bytes.data()) + (i % 3);
        if (lengths[i] + (i % 3) > bytes.size()) lengths[i] = bytes.size() - (i % 3);
      }
      Md4DigestMany(data, lengths, batch, many);
      for (std::size_t i = 0; i < batch; ++i) {
        std::uint8_t one[kMd4DigestSize];
        Md4Digest(data[i], lengths[i], one);
        EXPECT_EQ(Hex(many[i]), Hex(one)) << "length " << lengths[i] << " in a batch of " << batch;
      }
    }
  }
}

// Messages each in an allocation of exactly its own size, so that a read
// before or after a message's bytes is caught by the address sanitizer.
class ExactMessages {
 public:
  void Add(const std::string& bytes) {
    owned_.emplace_back(new std::uint8_t[bytes.size() == 0 ? 1 : bytes.size()]);
    // An empty message points one past a one-byte allocation: nothing of it
    // may be read.
    std::uint8_t* start = owned_.back().get() + (bytes.empty() ? 1 : 0);
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    data_.push_back(start);
    lengths_.push_back(bytes.size());
  }
  const std::uint8_t* const* data() const { return data_.data(); }
  const std::size_t* lengths() const { return lengths_.data(); }
  std::size_t count() const { return data_.size(); }

 private:
  std::vector<std::unique_ptr<std::uint8_t[]>> owned_;
  std::vector<const std::uint8_t*> data_;
  std::vector<std::size_t> lengths_;
};

// Bytes that differ from message to message, so that a digest landing in
// another lane's place shows.
std::string MessageBytes(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  for (std::size_t i = 0; i < length; ++i) bytes.push_back(static_cast<char>(random()));
  return bytes;
}

// Runs Md4DigestMany on the messages into an array with room to spare and
// checks that nothing past the last digest was written.
std::vector<std::string> DigestMany(const ExactMessages& messages) {
  const std::size_t count = messages.count();
  std::vector<std::uint8_t> out((count + 2) * kMd4DigestSize, 0xA5);
  auto* digests = reinterpret_cast<std::uint8_t(*)[kMd4DigestSize]>(out.data());
  Md4DigestMany(messages.data(), messages.lengths(), count, digests);
  for (std::size_t i = count * kMd4DigestSize; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xA5) << "byte " << i << " written past " << count << " digests";
  }
  std::vector<std::string> hex;
  for (std::size_t i = 0; i < count; ++i) hex.push_back(Hex(digests[i]));
  return hex;
}

TEST_P(Md4LanesTest, ManyDigestsMatchKnownAnswersInEveryPosition) {
  // Batches of 1 to 17 messages drawn in turn from the RFC 1320 suite and
  // the edge suite, starting at each entry, so that every message sits in
  // every lane of every batch size, beside messages of other lengths.
  const std::vector<std::pair<std::string, std::string>> known = KnownAnswers();
  for (std::size_t count = 1; count <= 17; ++count) {
    for (std::size_t start = 0; start < known.size(); ++start) {
      ExactMessages messages;
      for (std::size_t i = 0; i < count; ++i) messages.Add(known[(start + i) % known.size()].first);
      const std::vector<std::string> digests = DigestMany(messages);
      for (std::size_t i = 0; i < count; ++i) {
        const auto& c = known[(start + i) % known.size()];
        EXPECT_EQ(digests[i], c.second)
            << c.first.size() << "-byte \"" << c.first << "\" at " << i << " of " << count;
      }
    }
  }
}

TEST_P(Md4LanesTest, ManyDigestsEqualOneAtATimeForMixedLengths) {
  // Each row a batch of message lengths: one-block messages (under 56
  // bytes) alone in each batch size, with longer ones before, between and
  // after them, the lengths at the padding and block edges, and batches of
  // long messages only.
  struct Batch {
    const char* name;
    std::vector<std::size_t> lengths;
  };
  const std::vector<Batch> kBatches = {
      {"one empty", {0}},
      {"one of 55", {55}},
      {"one of 56", {56}},
      {"two short", {1, 3}},
      {"three short", {4, 7, 8}},
      {"four short", {15, 16, 17, 31}},
      {"five short", {32, 33, 47, 48, 54}},
      {"six short", {55, 0, 12, 20, 40, 50}},
      {"seven short", {2, 5, 9, 16, 24, 36, 55}},
      {"eight short", {10, 11, 12, 13, 14, 53, 54, 55}},
      {"nine short", {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"thirteen short", {12, 18, 24, 30, 36, 42, 48, 54, 55, 0, 19, 27, 33}},
      {"seventeen short", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
      {"padding edges", {0, 55, 56, 63, 64, 119, 120, 128}},
      {"long first", {128, 12, 20, 30, 40}},
      {"long last", {12, 20, 30, 40, 63}},
      {"long between", {12, 56, 20, 64, 30, 119, 40, 120}},
      {"four short and one long", {30, 31, 32, 33, 1000}},
      {"eight short and one long", {10, 20, 30, 40, 50, 11, 21, 31, 57}},
      {"long only", {56, 57, 63, 64, 65}},
      {"two long", {119, 120}},
      {"long of different blocks", {64, 300, 1000, 127, 129, 191, 192, 193}},
      {"every length to 130",
       [] {
         std::vector<std::size_t> all;
         for (std::size_t length = 0; length <= 130; ++length) all.push_back(length);
         return all;
       }()},
  };
  unsigned seed = 1;
  for (const Batch& batch : kBatches) {
    ExactMessages messages;
    for (std::size_t length : batch.lengths) messages.Add(MessageBytes(length, seed++));
    const std::vector<std::string> digests = DigestMany(messages);
    for (std::size_t i = 0; i < messages.count(); ++i) {
      std::uint8_t one[kMd4DigestSize];
      Md4Digest(messages.data()[i], messages.lengths()[i], one);
      EXPECT_EQ(digests[i], Hex(one)) << batch.name << ": message " << i << " of "
                                      << messages.lengths()[i] << " bytes";
    }
  }
}

TEST(Md4Test, OneCallDigestReadsOnlyItsBytes) {
  // Every length of one and two padded blocks, each message in its own
  // exact allocation, against the byte-at-a-time digest.
  for (std::size_t length = 0; length <= 130; ++length) {
    ExactMessages messages;
    const std::string bytes = MessageBytes(length, static_cast<unsigned>(length) + 1000);
    messages.Add(bytes);
    std::uint8_t whole[kMd4DigestSize];
    Md4Digest(messages.data()[0], length, whole);
    Md4 md4;
    for (char byte : bytes) md4.Update(&byte, 1);
    std::uint8_t bytewise[kMd4DigestSize];
    md4.Final(bytewise);
    EXPECT_EQ(Hex(whole), Hex(bytewise)) << "length " << length;
  }
}

}  // namespace
}  // namespace corvane
