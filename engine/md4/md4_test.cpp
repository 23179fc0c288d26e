#include "md4/md4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(Md4Test, ManyDigestsSideBySideEqualOneAtATime) {
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

}  // namespace
}  // namespace corvane
