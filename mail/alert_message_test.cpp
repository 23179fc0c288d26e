// Tests of the alert mail's text: quoted-printable, dot-stuffing, headers.
#include "alert_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mail {
namespace {

TEST(QuotedPrintableTest, EncodesWhatIsNotPrintableAsciiAndBreaksLongLines) {
  struct Case {
    std::string text;
    std::string encoded;
  } cases[] = {
      {"plain text\n", "plain text\r\n"},
      {"a=b", "a=3Db\r\n"},
      {"caf\xc3\xa9", "caf=C3=A9\r\n"},
      {"tab\tin", "tab\tin\r\n"},
      {"ends in space \r\nnext", "ends in space=20\r\nnext\r\n"},
      {"ends in tab\t", "ends in tab=09\r\n"},
      {std::string("nul\0byte", 8), "nul=00byte\r\n"},
      {"\x7f\xff", "=7F=FF\r\n"},
      {std::string(80, 'x'), std::string(75, 'x') + "=\r\n" + std::string(5, 'x') + "\r\n"},
      // An encoded byte is never split by a soft break.
      {std::string(74, 'x') + "\xe9", std::string(74, 'x') + "=\r\n=E9\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    const std::string encoded = QuotedPrintable(c.text);
    EXPECT_EQ(encoded, c.encoded) << c.text;
    std::size_t start = 0;
    while (start < encoded.size()) {
      const std::size_t end = encoded.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      EXPECT_LE(end - start, 76u) << "line too long in " << encoded;
      start = end + 2;
    }
  }
}

TEST(DotStuffingTest, DoublesLeadingDotsAndEndsWithTheLoneDot) {
  struct Case {
    std::string message;
    std::string data;
  } cases[] = {
      {"a\r\n.b\r\n", "a\r\n..b\r\n.\r\n"},
      {".\r\n", "..\r\n.\r\n"},
      {"x\n.y\rz", "x\r\n..y\r\nz\r\n.\r\n"},
      {"no end", "no end\r\n.\r\n"},
      {"a.b\r\n", "a.b\r\n.\r\n"},
      {"", ".\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(DotStuffed(c.message), c.data) << c.message;
}

TEST(AlertMessageTest, HeadersAndBodyInOrder) {
  MessageFrame frame;
  frame.from = "pellumin@proxy.example";
  frame.to = "admin@example.org\r\nBcc: x@evil.example";
  frame.date = 1797001445;  // Fri, 11 Dec 2026 15:04:05 +0000
  frame.messageId = "1.2@proxy.example";
  frame.header = "Folowing is the list of Clients and URL's that were accesed:\r\n\r\n";
  frame.dropped = 4;
  const std::string message = FormatAlertMessage(frame, {"one", "two"});
  const std::string expected =
      "Date: Fri, 11 Dec 2026 15:04:05 +0000\r\n"
      "From: pellumin@proxy.example\r\n"
      "To: admin@example.org  Bcc: x@evil.example\r\n"
      "Subject: Pellumin alerts: 2 accesses\r\n"
      "Message-ID: <1.2@proxy.example>\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "\r\n"
      "Folowing is the list of Clients and URL's that were accesed:\r\n"
      "\r\n"
      "one\r\n"
      "two\r\n"
      "\r\n"
      "4 earlier entries were dropped: the spool of unsent alerts was full.\r\n";
  EXPECT_EQ(message, expected);
}

}  // namespace
}  // namespace mail
