// alert_message.cpp -- formatting one alert mail.
#include "alert_message.h"

#include <cstdio>

namespace mail {
namespace {

bool Printable(unsigned char c) { return c >= 33 && c <= 126 && c != '='; }

void AppendEncoded(std::string* out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += '=';
  *out += kHex[c >> 4];
  *out += kHex[c & 15];
}

// One line (without its end) in quoted-printable, soft-broken at 76.
void EncodeLine(const std::string& line, std::string* out) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    std::string piece;
    if (Printable(c) || ((c == ' ' || c == '\t') && !last)) {
      piece = static_cast<char>(c);
    } else {
      AppendEncoded(&piece, c);
    }
    // Room for the piece and a soft break ("=") on this line.
    if (column + piece.size() > 75) {
      *out += "=\r\n";
      column = 0;
    }
    *out += piece;
    column += piece.size();
  }
  *out += "\r\n";
}

}  // namespace

std::string QuotedPrintable(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t lineEnd = end;
    if (lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
    EncodeLine(text.substr(start, lineEnd - start), &out);
    start = end + 1;
  }
  return out;
}

std::string DotStuffed(const std::string& message) {
  std::string out;
  out.reserve(message.size() + message.size() / 32 + 8);
  bool lineStart = true;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' || c == '\n') {
      // CRLF, bare CR and bare LF all end a line.
      if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  if (!lineStart) out += "\r\n";
  out += ".\r\n";
  return out;
}

std::string MailDate(std::time_t when) {
  std::tm parts{};
#if defined(_WIN32)
  gmtime_s(&parts, &when);
#else
  gmtime_r(&when, &parts);
#endif
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[parts.tm_wday % 7],
                parts.tm_mday, kMonths[parts.tm_mon % 12], parts.tm_year + 1900, parts.tm_hour,
                parts.tm_min, parts.tm_sec);
  return text;
}

std::string FormatAlertMessage(const MessageFrame& frame, const std::vector<std::string>& entries) {
  std::string body = frame.header;
  for (const std::string& entry : entries) body += entry + "\r\n";
  if (frame.dropped > 0) {
    body += "\r\n" + std::to_string(frame.dropped) +
            " earlier entries were dropped: the spool of unsent alerts was full.\r\n";
  }
  // Header texts come from the settings; a line break in them would start
  // a header of its own.
  auto oneLine = [](std::string text) {
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
  };
  std::string message;
  message += "Date: " + MailDate(frame.date) + "\r\n";
  message += "From: " + oneLine(frame.from) + "\r\n";
  message += "To: " + oneLine(frame.to) + "\r\n";
  message += "Subject: Pellumin alerts: " + std::to_string(entries.size()) + " accesses\r\n";
  message += "Message-ID: <" + oneLine(frame.messageId) + ">\r\n";
  message += "MIME-Version: 1.0\r\n";
  message += "Content-Type: text/plain; charset=utf-8\r\n";
  message += "Content-Transfer-Encoding: quoted-printable\r\n";
  message += "\r\n";
  message += QuotedPrintable(body);
  return message;
}

}  // namespace mail
