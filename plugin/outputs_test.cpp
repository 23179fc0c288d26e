// Tests of the denial page, the access log line, the alert batch and the
// send loop.
#include "outputs.h"

#include <memory>
#include <thread>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "defaults.h"

#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick {
namespace {

TEST(DenialPageTest, BodyIsPlacedWholeBetweenTheFixedLines) {
  const std::string longest(kDenialBodySize - 1, 'z');
  for (const std::string& body : {std::string(), std::string(settings::kDefaultDenialBody), longest}) {
    std::vector<char> page(kDenialPageSize);
    const std::size_t length = FormatDenialPage(body.c_str(), page.data());
    EXPECT_EQ(std::string(page.data(), length), testkit::ExpectedPage(body));
    EXPECT_EQ(page[length], '\0');
  }
}

TEST(DenialPageTest, UnterminatedBodyIsReadOnlyWithinItsField) {
  std::vector<char> body(kDenialBodySize, 'q');  // no NUL anywhere
  std::vector<char> page(kDenialPageSize);
  const std::size_t length = FormatDenialPage(body.data(), page.data());
  EXPECT_EQ(std::string(page.data(), length), testkit::ExpectedPage(std::string(kDenialBodySize - 1, 'q')));
}

TEST(AccessLogLineTest, LineIsCutToTheBufferAndTerminated) {
  const std::string full = "~Pellumin Plugin: Access denied to URL: KEY.EXAMPLE/A for client: 10.0.0.9";
  struct Case {
    std::size_t capacity;
    std::string expected;
  } cases[] = {
      {256, full},
      {full.size() + 1, full},
      {full.size(), full.substr(0, full.size() - 1)},
      {10, full.substr(0, 9)},
      {1, ""},
  };
  for (const Case& c : cases) {
    std::vector<char> out(c.capacity, '#');
    EXPECT_EQ(WriteAccessLogLine(out.data(), out.size(), "KEY.EXAMPLE/A", "10.0.0.9", 568),
              c.expected.size());
    EXPECT_EQ(std::string(out.data()), c.expected) << c.capacity;
  }
  char empty[80];
  WriteAccessLogLine(empty, sizeof(empty), "K", "", 568);
  EXPECT_STREQ(empty, "~Pellumin Plugin: Access denied to URL: K for client: ");
}

// The batch as a failing or succeeding delivery hook sees it.
struct Deliveries {
  static int result;
  static std::vector<std::string> seen;
  static AlertBatch* state;
  static int Deliver() {
    seen.emplace_back(state->text);
    return result;
  }
};
int Deliveries::result = 1;
std::vector<std::string> Deliveries::seen;
AlertBatch* Deliveries::state = nullptr;

class AlertBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.reset(new AlertBatch());
    ResetAlertBatch(*state_);
    Deliveries::state = state_.get();
    Deliveries::seen.clear();
    Deliveries::result = 1;
  }
  std::unique_ptr<AlertBatch> state_;
};

TEST_F(AlertBatchTest, DeliveredBatchIsResetAfterEachEntry) {
  AddAlertEntry(*state_, "entry-one", &Deliveries::Deliver);
  ASSERT_EQ(Deliveries::seen.size(), 1u);
  EXPECT_EQ(Deliveries::seen[0], std::string(kAlertBatchHeader) + "entry-one");
  EXPECT_STREQ(state_->text, kAlertBatchHeader);
  EXPECT_EQ(state_->count, 0);
}

TEST_F(AlertBatchTest, FailedDeliveryKeepsEntriesWithoutSeparators) {
  Deliveries::result = 0;
  AddAlertEntry(*state_, "http://a/", &Deliveries::Deliver);
  AddAlertEntry(*state_, "http://b/", &Deliveries::Deliver);
  EXPECT_EQ(std::string(state_->text), std::string(kAlertBatchHeader) + "http://a/http://b/");
  EXPECT_EQ(state_->count, 2);
  EXPECT_EQ(Deliveries::seen.size(), 2u);
}

// An entry that no longer fits makes the held batch go out first; it is
// then the first entry of a fresh batch, counted once.
TEST_F(AlertBatchTest, EntryThatNoLongerFitsStartsAFreshBatch) {
  state_->threshold = 1000;  // collect without offering
  const std::string entry(2000, 'e');
  const std::size_t fits = (kAlertBatchSize - 1 - kAlertBatchHeaderLength) / entry.size();
  for (std::size_t i = 0; i < fits; ++i) AddAlertEntry(*state_, entry.c_str(), &Deliveries::Deliver);
  EXPECT_TRUE(Deliveries::seen.empty());
  const std::string held(state_->text);
  AddAlertEntry(*state_, entry.c_str(), &Deliveries::Deliver);
  ASSERT_EQ(Deliveries::seen.size(), 1u);
  EXPECT_EQ(Deliveries::seen[0], held);
  EXPECT_EQ(std::string(state_->text), kAlertBatchHeader + entry);
  EXPECT_EQ(state_->count, 1);
}

// When the held batch cannot go out, the entry is cut to the room left and
// the batch stays terminated inside its buffer.
TEST_F(AlertBatchTest, EntryIsCutWhenTheFullBatchCannotBeDelivered) {
  state_->threshold = 1000;
  Deliveries::result = 0;
  const std::string entry(5000, 'f');
  for (int i = 0; i < 8; ++i) AddAlertEntry(*state_, entry.c_str(), &Deliveries::Deliver);
  EXPECT_EQ(state_->count, 8);
  EXPECT_EQ(std::strlen(state_->text), kAlertBatchSize - 1);
  // An entry longer than a whole batch is cut even in a fresh batch.
  Deliveries::result = 1;
  const std::string huge(kAlertBatchSize * 2, 'g');
  AddAlertEntry(*state_, huge.c_str(), &Deliveries::Deliver);
  EXPECT_EQ(std::string(state_->text),
            kAlertBatchHeader + huge.substr(0, kAlertBatchSize - 1 - kAlertBatchHeaderLength));
  EXPECT_EQ(state_->count, 1);
}

TEST(SendToClientTest, SendsAllAndCountsOrFailsWithoutCounting) {
  testkit::ClientPair pair;
  const std::string bytes(100000, 'x');  // more than one send may take
  pair.host()->bytesSent = 5;
  std::string received;
  std::thread reader([&] { received = pair.Read(bytes.size()); });
  EXPECT_EQ(SendToClient(pair.host(), bytes.data(), static_cast<int>(bytes.size())), 1);
  reader.join();
  EXPECT_EQ(received, bytes);
  EXPECT_EQ(pair.host()->bytesSent, 5 + static_cast<int>(bytes.size()));

  pair.ClosePluginEnd();
  EXPECT_EQ(SendToClient(pair.host(), "abc", 3), kSendFailed);
  EXPECT_EQ(pair.host()->bytesSent, 5 + static_cast<int>(bytes.size()));
}

TEST(SendToClientTest, CountStopsAtTheLargestValue) {
  testkit::ClientPair pair;
  const std::string bytes(300, 'x');
  struct Case {
    std::int32_t before, after;
  } cases[] = {
      {INT32_MAX - 300, INT32_MAX},
      {INT32_MAX - 10, INT32_MAX},
      {INT32_MAX, INT32_MAX},
  };
  for (const Case& c : cases) {
    pair.host()->bytesSent = c.before;
    ASSERT_EQ(SendToClient(pair.host(), bytes.data(), static_cast<int>(bytes.size())), 1);
    EXPECT_EQ(pair.Read(bytes.size()), bytes);
    EXPECT_EQ(pair.host()->bytesSent, c.after) << c.before;
  }
}

}  // namespace
}  // namespace tarnwick
