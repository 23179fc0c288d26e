// smtp_client.h -- one SMTP (RFC 5321) session that hands one message to a
// server: EHLO (HELO when refused), MAIL FROM, RCPT TO, DATA, QUIT, each
// step bounded in time.
#ifndef PELLUMIN_MAIL_SMTP_CLIENT_H_
#define PELLUMIN_MAIL_SMTP_CLIENT_H_

#include <cstdint>
#include <string>

#include "net.h"

namespace mail {

struct SmtpSession {
  std::string server;
  std::uint16_t port = 25;
  std::string helloName;  // this machine's name, for EHLO/HELO
  std::string from;       // envelope sender
  std::string to;         // envelope recipient, as stored (a bare name too)
  int stepTimeoutMs = 30000;  // connecting, each reply, each send
};

// How long a stop waits for the server's answer to a message already sent.
constexpr int kStopGraceMs = 2000;

enum class SmtpOutcome {
  kSent,       // the server took the message (250 after the data)
  kRetry,      // not sent, worth trying again: no connection, a timeout, a 4xx
  kRejected,   // a 5xx: the server will not take it from or for these addresses
  kStopped,    // the waker ended it
};

// Runs the session with message (CRLF lines; dot-stuffed here). *detail
// says what happened in the server's or the system's words.
SmtpOutcome SendMessage(const SmtpSession& session, const std::string& message,
                        std::string* detail, const platform::Waker* waker = nullptr);

}  // namespace mail

#endif  // PELLUMIN_MAIL_SMTP_CLIENT_H_
