// alert_mailer.cpp -- the sender thread, its rhythm, retries and spool.
#include "alert_mailer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "alert_message.h"
#include "platform.h"
#include "smtp_client.h"

namespace mail {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSpoolMagic[] = "PELLUMIN-ALERT-SPOOL 1";

std::string NewMessageId(const std::string& host) {
  static std::atomic<std::uint64_t> counter{0};
  char text[96];
  std::snprintf(text, sizeof text, "%lld.%llu.%llx", static_cast<long long>(std::time(nullptr)),
                static_cast<unsigned long long>(++counter),
                static_cast<unsigned long long>(Clock::now().time_since_epoch().count()));
  return std::string(text) + "@" + (host.empty() ? "localhost" : host);
}

// Reads "<word> <number>\n" or "<word> <text>\n".
bool ReadLine(std::FILE* file, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(file)) != EOF && c != '\n') *line += static_cast<char>(c);
  return c != EOF || !line->empty();
}

}  // namespace

std::string SettingsFingerprint(const settings::MailSettings& v) {
  std::string text = v.to + '\x1f' + v.server + '\x1f' + std::to_string(v.port) + '\x1f' + v.from;
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

AlertMailer::AlertMailer(MailerOptions options) : options_(std::move(options)) {
  {
    base::MutexLock hold(&lock_);
    lastSend_ = Clock::now();
    heldSince_ = lastSend_;
    ReadSpool();
    // A 5xx stored for other settings no longer holds: the settings changed.
    rejected_ = !rejectedSettings_.empty() && rejectedSettings_ == SettingsFingerprint(options_.settings);
  }
  std::string error;
  if (!waker_.Open(&error)) Log("alert mail: no stop signal for the sender (" + error + ")");
  thread_ = std::thread([this] { Run(); });
}

AlertMailer::~AlertMailer() { Stop(0); }

void AlertMailer::Log(const std::string& text) {
  if (options_.log) {
    options_.log(text);
  } else {
    std::cerr << "Pellumin: " << text << std::endl;
  }
}

std::string AlertMailer::Sender() const {
  if (!options_.settings.from.empty()) return options_.settings.from;
  return "pellumin@" + (options_.helloName.empty() ? std::string("localhost") : options_.helloName);
}

void AlertMailer::Add(const std::string& entry) {
  {
    base::MutexLock hold(&lock_);
    if (stopped_) return;
    spoolDirty_ = true;
    if (entries_.empty()) heldSince_ = Clock::now();
    entries_.push_back(entry);
    heldBytes_ += entry.size();
    // The spool keeps the newest entries within its limit.
    while (heldBytes_ > options_.spoolLimit && entries_.size() > 1) {
      heldBytes_ -= entries_.front().size();
      entries_.pop_front();
      ++dropped_;
    }
  }
  wake_.SignalAll();
}

std::uint64_t AlertMailer::mailsSent() {
  base::MutexLock hold(&lock_);
  return mailsSent_;
}

std::size_t AlertMailer::held() {
  base::MutexLock hold(&lock_);
  return entries_.size();
}

bool AlertMailer::Due(Clock::time_point now) const {
  if (entries_.empty() || rejected_) return false;
  if (retryMs_ > 0 && now < retryAt_) return false;
  const settings::MailSettings& s = options_.settings;
  if (s.rhythm == settings::kRhythmAfter && s.alertCount > 0) {
    return entries_.size() >= static_cast<std::size_t>(s.alertCount);
  }
  if (s.rhythm == settings::kRhythmEach && s.intervalHours > 0) {
    return now - lastSend_ >= std::chrono::milliseconds(s.intervalHours * options_.hourMs);
  }
  return now - heldSince_ >= std::chrono::milliseconds(options_.gatherMs);
}

void AlertMailer::Run() {
  lock_.Lock();
  bool lastTried = false;
  for (;;) {
    if (spoolDirty_) {
      // New entries reach the disk before anything else, so that a host
      // that dies keeps them.
      spoolDirty_ = false;
      WriteSpool();
      continue;
    }
    const Clock::time_point now = Clock::now();
    const bool last = stopping_ && !lastTried;
    if (stopping_) {
      lastTried = true;
      if (!last || lastSendMs_ <= 0 || entries_.empty() || rejected_) break;
    } else if (!Due(now)) {
      // Sleep until something may make a mail due.
      Clock::time_point until = Clock::time_point::max();
      const settings::MailSettings& s = options_.settings;
      if (!entries_.empty() && !rejected_) {
        if (retryMs_ > 0 && now < retryAt_) {
          until = retryAt_;
        } else if (s.rhythm == settings::kRhythmEach && s.intervalHours > 0) {
          until = lastSend_ + std::chrono::milliseconds(s.intervalHours * options_.hourMs);
        } else if (!(s.rhythm == settings::kRhythmAfter && s.alertCount > 0)) {
          until = heldSince_ + std::chrono::milliseconds(options_.gatherMs);
        }
      }
      if (until == Clock::time_point::max()) {
        wake_.Wait();
      } else {
        wake_.WaitUntil(until);
      }
      continue;
    }

    // Send what is held now; what comes meanwhile waits for the next mail.
    const std::size_t count = entries_.size();
    const std::vector<std::string> batch(entries_.begin(), entries_.end());
    const std::uint64_t dropped = dropped_;
    lock_.Unlock();

    MessageFrame frame;
    frame.from = Sender();
    frame.to = options_.settings.to;
    frame.date = std::time(nullptr);
    frame.messageId = NewMessageId(options_.helloName);
    frame.header = options_.header;
    frame.dropped = dropped;
    SmtpSession session;
    session.server = options_.settings.server;
    session.port = static_cast<std::uint16_t>(options_.settings.port);
    session.helloName = options_.helloName.empty() ? "localhost" : options_.helloName;
    session.from = frame.from;
    session.to = frame.to;
    session.stepTimeoutMs = options_.stepTimeoutMs;
    std::string detail;
    const SmtpOutcome outcome =
        SendMessage(session, FormatAlertMessage(frame, batch), &detail, waker_.valid() ? &waker_ : nullptr);

    lock_.Lock();
    if (outcome == SmtpOutcome::kSent) {
      // Entries dropped meanwhile went from the front: the sent ones are
      // the oldest still held, fewer by what was dropped since.
      const std::uint64_t droppedSince = dropped_ - dropped;
      const std::size_t stillHeld = count > droppedSince ? count - static_cast<std::size_t>(droppedSince) : 0;
      for (std::size_t i = 0; i < stillHeld && !entries_.empty(); ++i) {
        heldBytes_ -= entries_.front().size();
        entries_.pop_front();
      }
      dropped_ = droppedSince;
      ++mailsSent_;
      lastSend_ = Clock::now();
      heldSince_ = lastSend_;
      retryMs_ = 0;
      WriteSpool();
    } else if (outcome == SmtpOutcome::kRejected) {
      rejected_ = true;
      rejectedSettings_ = SettingsFingerprint(options_.settings);
      WriteSpool();
      Log("alert mail refused by " + options_.settings.server + ": " + detail +
          "; the alerts are kept until the mail settings change");
    } else if (outcome == SmtpOutcome::kRetry) {
      retryMs_ = retryMs_ == 0 ? options_.firstRetryMs
                               : std::min(retryMs_ * 2, options_.longestRetryMs);
      retryAt_ = Clock::now() + std::chrono::milliseconds(retryMs_);
      Log("alert mail not sent: " + detail + "; " + std::to_string(entries_.size()) +
          " alerts kept, next try in " + std::to_string(retryMs_ / 1000) + " s");
    } else {
      break;  // stopped: the spool holds everything
    }
  }
  WriteSpool();
  lock_.Unlock();
}

void AlertMailer::Stop(int lastSendMs) {
  {
    base::MutexLock hold(&lock_);
    if (stopped_ || !thread_.joinable()) return;
    stopping_ = true;
    lastSendMs_ = lastSendMs;
    // The last send is not held back by a pending retry delay.
    retryMs_ = 0;
  }
  wake_.SignalAll();
  std::thread stopper;
  if (lastSendMs > 0) {
    // The thread ends on its own within the time, or the waker ends its
    // network waits then.
    stopper = std::thread([this, lastSendMs] {
      base::MutexLock hold(&lock_);
      // Woken early enough that the grace for a message already sent still
      // ends within lastSendMs.
      const int wakeMs = lastSendMs > 2 * kStopGraceMs ? lastSendMs - kStopGraceMs : lastSendMs / 2;
      const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wakeMs);
      while (!stopped_ && Clock::now() < deadline) wake_.WaitUntil(deadline);
      if (!stopped_) waker_.Wake();
    });
  } else {
    waker_.Wake();
  }
  thread_.join();
  {
    base::MutexLock hold(&lock_);
    stopped_ = true;
  }
  wake_.SignalAll();
  if (stopper.joinable()) stopper.join();
}

void AlertMailer::WriteSpool() {
  if (options_.spoolPath.empty()) return;
  std::string text = std::string(kSpoolMagic) + "\ndropped " + std::to_string(dropped_) + "\nrejected " +
                     (rejected_ ? rejectedSettings_ : std::string()) + "\n";
  for (const std::string& entry : entries_) {
    text += "entry " + std::to_string(entry.size()) + "\n";
    text += entry;
    text += '\n';
  }
  // Only this thread writes the spool, so the files cannot overtake each
  // other while the lock is let go.
  lock_.Unlock();
  const std::string temporary = options_.spoolPath + ".new";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr) written = std::fclose(file) == 0 && written;
  if (!written || !platform::ReplaceFile(temporary.c_str(), options_.spoolPath.c_str())) {
    std::remove(temporary.c_str());
    lock_.Lock();
    // Told once until a write succeeds again, not at every new entry.
    if (!spoolFaultTold_) Log("alert mail: cannot write the spool " + options_.spoolPath);
    spoolFaultTold_ = true;
    return;
  }
  lock_.Lock();
  spoolFaultTold_ = false;
}

void AlertMailer::ReadSpool() {
  if (options_.spoolPath.empty()) return;
  std::FILE* file = std::fopen(options_.spoolPath.c_str(), "rb");
  if (file == nullptr) return;
  std::string line;
  if (!ReadLine(file, &line) || line != kSpoolMagic) {
    std::fclose(file);
    Log("alert mail: the spool " + options_.spoolPath + " is not one; it is replaced");
    return;
  }
  while (ReadLine(file, &line)) {
    if (line.rfind("dropped ", 0) == 0) {
      dropped_ = std::strtoull(line.c_str() + 8, nullptr, 10);
    } else if (line.rfind("rejected ", 0) == 0) {
      rejectedSettings_ = line.substr(9);
    } else if (line.rfind("entry ", 0) == 0) {
      const std::size_t size = std::strtoull(line.c_str() + 6, nullptr, 10);
      std::string entry(size, '\0');
      if (size > options_.spoolLimit || std::fread(&entry[0], 1, size, file) != size ||
          std::fgetc(file) != '\n') {
        Log("alert mail: the spool " + options_.spoolPath + " ends early; the entries before are kept");
        break;
      }
      heldBytes_ += entry.size();
      entries_.push_back(std::move(entry));
    }
  }
  std::fclose(file);
  while (heldBytes_ > options_.spoolLimit && entries_.size() > 1) {
    heldBytes_ -= entries_.front().size();
    entries_.pop_front();
    ++dropped_;
  }
}

}  // namespace mail
