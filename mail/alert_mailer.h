// alert_mailer.h -- the alert mail sender: a thread that takes alert
// entries from the request filter without ever making a request wait,
// keeps those not yet sent in a spool file, and sends them by SMTP in the
// rhythm the "Mail" settings give.
//
// Rhythms: "After" N alerts sends when N entries are held; "Each" H hours
// sends every H hours when entries are held; none chosen (or a count or
// interval of 0) sends as entries come (gathering for a second), and what
// arrives while a mail is being sent goes into the next one. A delivery that fails for a reason
// that may pass (no connection, a timeout, a 4xx) is tried again after 1
// minute, then 2, 4, ... up to 1 hour, and is logged once per failure; a
// 5xx keeps the entries and sends nothing more until the settings change
// (a mailer with other settings). The spool is rewritten, whole and
// atomically, before each attempt and after each success, so a restart
// sends what was held; beyond 1 MiB its oldest entries are dropped and the
// next mail says how many.
#ifndef PELLUMIN_MAIL_ALERT_MAILER_H_
#define PELLUMIN_MAIL_ALERT_MAILER_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "mail_settings.h"
#include "net.h"

namespace mail {

struct MailerOptions {
  settings::MailSettings settings;
  std::string spoolPath;     // the spool file; "" keeps nothing on disk
  std::string header;        // the batch header that opens every body
  std::string helloName;     // this machine's name (EHLO, the default sender)
  int stepTimeoutMs = 30000;      // each SMTP step
  int firstRetryMs = 60 * 1000;   // the first retry delay, doubled each time
  int longestRetryMs = 60 * 60 * 1000;
  std::int64_t hourMs = 60LL * 60 * 1000;  // the unit of IntervalHours
  // Without a rhythm, how long the first entry waits for others to join it,
  // so that a burst of alerts makes a few mails rather than one each.
  int gatherMs = 1000;
  std::size_t spoolLimit = 1024 * 1024;    // bytes of entries kept
  // Where failures are told (once each); standard error when empty.
  std::function<void(const std::string&)> log;
};

class AlertMailer {
 public:
  // Reads the spool and starts the thread.
  explicit AlertMailer(MailerOptions options);
  // Stop(0) if not stopped.
  ~AlertMailer();
  AlertMailer(const AlertMailer&) = delete;
  AlertMailer& operator=(const AlertMailer&) = delete;

  const settings::MailSettings& settings() const { return options_.settings; }

  // Takes one entry; returns at once.
  void Add(const std::string& entry) EXCLUDES(lock_);
  // Tries one last send of what is held, ending within lastSendMs (0: no
  // last send; a message already on its way still gets kStopGraceMs for the
  // server's answer), writes the spool and ends the thread. Adds after it
  // are dropped: the owner stops its sender last.
  void Stop(int lastSendMs) EXCLUDES(lock_);

  // For tests: mails sent, and entries held now.
  std::uint64_t mailsSent() EXCLUDES(lock_);
  std::size_t held() EXCLUDES(lock_);

 private:
  void Run() EXCLUDES(lock_);
  bool Due(std::chrono::steady_clock::time_point now) const REQUIRES(lock_);
  // Writes the spool from what is held: the text is made with the lock
  // held, the file written without it (Adds never wait for the disk); only
  // the sender's thread calls it.
  void WriteSpool() REQUIRES(lock_);
  void ReadSpool() REQUIRES(lock_);
  void Log(const std::string& text);
  std::string Sender() const;

  MailerOptions options_;
  base::Mutex lock_;
  base::CondVar wake_{&lock_};
  std::deque<std::string> entries_ GUARDED_BY(lock_);  // held, oldest first
  std::size_t heldBytes_ GUARDED_BY(lock_) = 0;
  std::uint64_t dropped_ GUARDED_BY(lock_) = 0;  // dropped since the last mail
  std::uint64_t mailsSent_ GUARDED_BY(lock_) = 0;
  bool stopping_ GUARDED_BY(lock_) = false;
  bool stopped_ GUARDED_BY(lock_) = false;  // the thread has ended: Adds are refused
  bool spoolDirty_ GUARDED_BY(lock_) = false;  // entries came since the spool was written
  bool spoolFaultTold_ GUARDED_BY(lock_) = false;
  bool rejected_ GUARDED_BY(lock_) = false;  // a 5xx: nothing more with these settings
  int lastSendMs_ GUARDED_BY(lock_) = 0;
  std::chrono::steady_clock::time_point lastSend_ GUARDED_BY(lock_);
  std::chrono::steady_clock::time_point heldSince_ GUARDED_BY(lock_);  // the oldest unsent entry came
  std::chrono::steady_clock::time_point retryAt_ GUARDED_BY(lock_);
  int retryMs_ GUARDED_BY(lock_) = 0;  // 0: no failure pending
  // The settings a 5xx came for (kept in the spool).
  std::string rejectedSettings_ GUARDED_BY(lock_);
  platform::Waker waker_;
  std::thread thread_;
};

// The settings as one text, to tell whether a 5xx was for these.
std::string SettingsFingerprint(const settings::MailSettings& values);

}  // namespace mail

#endif  // PELLUMIN_MAIL_ALERT_MAILER_H_
