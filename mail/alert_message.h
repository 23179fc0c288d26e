// alert_message.h -- the text of one alert mail: its headers, the
// quoted-printable body, and the dot-stuffed form SMTP's DATA carries.
#ifndef PELLUMIN_MAIL_ALERT_MESSAGE_H_
#define PELLUMIN_MAIL_ALERT_MESSAGE_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace mail {

// The message fields that are not entries.
struct MessageFrame {
  std::string from;       // header and envelope sender
  std::string to;         // header and envelope recipient
  std::time_t date = 0;   // the Date header (UTC)
  std::string messageId;  // without the angle brackets
  std::string header;     // the alert batch's header line(s), first in the body
  std::uint64_t dropped = 0;  // entries dropped from a full spool before these
};

// The whole message, lines ending in CRLF: Date, From, To, Subject
// ("Pellumin alerts: N accesses"), Message-ID, MIME-Version, the text type
// and its quoted-printable encoding, a blank line, then the body (the
// header, one entry a line, and a line saying how many were dropped).
std::string FormatAlertMessage(const MessageFrame& frame, const std::vector<std::string>& entries);

// Quoted-printable (RFC 2045) of text, whose lines end in LF or CRLF: bytes
// outside printable ASCII, "=", and a blank at a line end encoded; lines
// longer than 76 characters broken with soft breaks. Lines end in CRLF.
std::string QuotedPrintable(const std::string& text);

// The message as DATA sends it: every line that starts with "." gets
// another in front, bare LF and CR become CRLF, and ".\r\n" ends it.
std::string DotStuffed(const std::string& message);

// "Fri, 11 Dec 2026 15:04:05 +0000".
std::string MailDate(std::time_t when);

}  // namespace mail

#endif  // PELLUMIN_MAIL_ALERT_MESSAGE_H_
