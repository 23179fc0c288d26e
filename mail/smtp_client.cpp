// smtp_client.cpp -- the SMTP session over the platform's sockets.
#include "smtp_client.h"

#include <cstdlib>

#include "alert_message.h"

namespace mail {
namespace {

class Conversation {
 public:
  Conversation(const SmtpSession& session, const platform::Waker* waker)
      : session_(session), waker_(waker) {}

  SmtpOutcome Connect() {
    std::string error;
    const platform::NetStatus status = platform::ConnectTcp(
        session_.server, session_.port, session_.stepTimeoutMs, &socket_, &error, waker_);
    if (status == platform::NetStatus::kOk) return SmtpOutcome::kSent;
    detail_ = "cannot connect to " + session_.server + ":" + std::to_string(session_.port) + ": " +
              (error.empty() ? platform::NetStatusText(status) : error);
    return status == platform::NetStatus::kWoken ? SmtpOutcome::kStopped : SmtpOutcome::kRetry;
  }

  // Reads one reply (all its lines); *code is its number, 0 when it could
  // not be read.
  SmtpOutcome Reply(int* code) {
    *code = 0;
    for (;;) {
      const std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        const std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        if (line.size() < 3) return Fault("a reply line without a code: \"" + line + "\"");
        last_ = line;
        // "250-..." continues, "250 ..." (or "250") ends the reply.
        if (line.size() > 3 && line[3] == '-') continue;
        *code = std::atoi(line.substr(0, 3).c_str());
        return SmtpOutcome::kSent;
      }
      if (buffer_.size() > 64 * 1024) return Fault("a reply line longer than 64 KiB");
      char chunk[2048];
      std::size_t received = 0;
      platform::NetStatus status = platform::Receive(socket_, chunk, sizeof chunk,
                                                     session_.stepTimeoutMs, &received, waker_);
      if (status == platform::NetStatus::kWoken && graceMs_ > 0) {
        // Stopped while the server's answer to the message is awaited: a
        // short grace for it, then the stop wins.
        waker_ = nullptr;
        status = platform::Receive(socket_, chunk, sizeof chunk, graceMs_, &received, nullptr);
        if (status == platform::NetStatus::kTimeout) return SmtpOutcome::kStopped;
      }
      if (status == platform::NetStatus::kWoken) return SmtpOutcome::kStopped;
      if (status != platform::NetStatus::kOk) {
        return Fault(std::string("no reply from the server (") + platform::NetStatusText(status) + ")");
      }
      buffer_.append(chunk, received);
    }
  }

  SmtpOutcome Send(const std::string& text) {
    const platform::NetStatus status =
        platform::SendAll(socket_, text.data(), text.size(), session_.stepTimeoutMs, waker_);
    if (status == platform::NetStatus::kWoken) return SmtpOutcome::kStopped;
    if (status != platform::NetStatus::kOk) {
      return Fault(std::string("cannot send to the server (") + platform::NetStatusText(status) + ")");
    }
    return SmtpOutcome::kSent;
  }

  // Sends command (unless empty) and reads the reply; kSent when its code
  // is one of the accepted ones, else what the code means.
  SmtpOutcome Step(const std::string& command, int accepted, int alsoAccepted = 0,
                   const char* label = nullptr) {
    if (!command.empty()) {
      const SmtpOutcome sent = Send(command + "\r\n");
      if (sent != SmtpOutcome::kSent) return sent;
    }
    int code = 0;
    const SmtpOutcome read = Reply(&code);
    if (read != SmtpOutcome::kSent) return read;
    lastCode_ = code;
    if (code == accepted || (alsoAccepted != 0 && code == alsoAccepted)) return SmtpOutcome::kSent;
    const std::string said = label != nullptr ? label
                             : command.empty() ? "the greeting"
                                               : command.substr(0, command.find(' '));
    detail_ = "the server answered " + said + " with \"" + last_ + "\"";
    return code >= 500 && code < 600 ? SmtpOutcome::kRejected : SmtpOutcome::kRetry;
  }

  // From here on a stop waits up to ms for the server's answer before it
  // ends the session: once the message is on its way, only that answer
  // tells whether it was taken, and an entry sent but not known to be sent
  // would go out again.
  void GraceOnStop(int ms) { graceMs_ = ms; }

  int lastCode() const { return lastCode_; }
  const std::string& detail() const { return detail_; }
  void Quit() {
    // Polite, and not waited on for long: the message is already taken.
    if (Send("QUIT\r\n") == SmtpOutcome::kSent) {
      int code = 0;
      Reply(&code);
    }
  }

 private:
  SmtpOutcome Fault(const std::string& what) {
    detail_ = what;
    return SmtpOutcome::kRetry;
  }

  const SmtpSession& session_;
  const platform::Waker* waker_;
  platform::Socket socket_;
  std::string buffer_;
  std::string last_;
  std::string detail_;
  int lastCode_ = 0;
  int graceMs_ = 0;
};

// "<address>" for the envelope; a text already in angle brackets stays.
std::string Envelope(const std::string& address) {
  if (!address.empty() && address.front() == '<' && address.back() == '>') return address;
  return "<" + address + ">";
}

}  // namespace

SmtpOutcome SendMessage(const SmtpSession& session, const std::string& message,
                        std::string* detail, const platform::Waker* waker) {
  Conversation talk(session, waker);
  auto done = [&](SmtpOutcome outcome) {
    *detail = talk.detail();
    return outcome;
  };
  SmtpOutcome step = talk.Connect();
  if (step != SmtpOutcome::kSent) return done(step);
  if ((step = talk.Step("", 220)) != SmtpOutcome::kSent) return done(step);
  step = talk.Step("EHLO " + session.helloName, 250);
  if (step == SmtpOutcome::kRejected) step = talk.Step("HELO " + session.helloName, 250);
  if (step != SmtpOutcome::kSent) return done(step);
  if ((step = talk.Step("MAIL FROM:" + Envelope(session.from), 250)) != SmtpOutcome::kSent) {
    return done(step);
  }
  if ((step = talk.Step("RCPT TO:" + Envelope(session.to), 250, 251)) != SmtpOutcome::kSent) {
    return done(step);
  }
  if ((step = talk.Step("DATA", 354)) != SmtpOutcome::kSent) return done(step);
  const std::string data = DotStuffed(message);
  talk.GraceOnStop(kStopGraceMs);
  if ((step = talk.Step(data.substr(0, data.size() - 2), 250, 0, "the message")) !=
      SmtpOutcome::kSent) {
    return done(step);
  }
  talk.Quit();
  *detail = "sent";
  return SmtpOutcome::kSent;
}

}  // namespace mail
