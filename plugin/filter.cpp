// filter.cpp -- initialising, running and shutting down one request
// filter.
#include "filter.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/ascii.h"
#include "corvane.h"
#include "mail_settings.h"
#include "net.h"
#include "platform.h"

namespace tarnwick {
namespace {

const char kPathTooLongMessage[] =
    "Pellumin Error: The configuration key path is not terminated within 1024 bytes.";

// Puts next's handles and values in place of those of current and hands
// back the handles current held.
LoadedFilter TakeOver(LoadedFilter& current, const LoadedFilter& next) {
  LoadedFilter old;
  old.service = current.service;
  old.denySet = current.denySet;
  old.alertSet = current.alertSet;
  old.urlSet = current.urlSet;
  old.scratchSet = current.scratchSet;
  old.hoursSet = current.hoursSet;
  current = next;
  return old;
}

}  // namespace

std::string AlertSpoolPath(const char* keyPath) {
  const std::string folder = platform::DataFolder();
  if (folder.empty()) return std::string();
  // Key paths compare without regard to case: so does the file's name.
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char* p = keyPath; *p != '\0'; ++p) {
    hash = (hash ^ static_cast<unsigned char>(base::ToAsciiLower(*p))) * 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "tarnwick-alerts-%016llx.spool", static_cast<unsigned long long>(hash));
#if defined(_WIN32)
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

Filter::Filter(platform::Env* env) : env_(env) {
  static_cast<settings::FilterSettings&>(filter_) = settings::DefaultFilterSettings();
}

Filter::~Filter() {
  // No other thread may use a filter that is going; the locks only satisfy
  // the annotations.
  base::WriterLock stateLock(&stateLock_);
  ReleaseFilter(&filter_);
}

int Filter::Init(char* message) {
  if (message == nullptr) return 0;
  base::MutexLock initLock(&initLock_);
  try {
    return InitWithPath(message);
  } catch (const std::bad_alloc&) {
    // LoadFilter hands back nothing half built when memory runs out; this
    // keeps anything else that runs short from escaping to the host, and
    // leaves the filter in force as it was.
    WriteMessage(message, TARNWICK_MESSAGE_BUFFER_SIZE, kInitFailedMessage);
    return 0;
  }
}

int Filter::InitWithPath(char* message) {
  // The path is read only as far as the host's buffer goes.
  std::size_t pathLength = 0;
  while (pathLength < TARNWICK_MESSAGE_BUFFER_SIZE && message[pathLength] != '\0') ++pathLength;
  char path[TARNWICK_MESSAGE_BUFFER_SIZE];
  const bool pathTerminated = pathLength < TARNWICK_MESSAGE_BUFFER_SIZE;
  if (pathTerminated) std::memcpy(path, message, pathLength + 1);

  // The new filter is built while requests go on under the one in force;
  // only the exchange holds them back. It starts from the default switches
  // and the texts in force, which only Init changes (under initLock_).
  LoadedFilter next;
  bool replacing = false;
  {
    base::ReaderLock stateLock(&stateLock_);
    static_cast<settings::FilterSettings&>(next) = settings::DefaultSwitchesWithTexts(filter_);
    replacing = filter_.service != nullptr;
  }
  int ready = 0;
  settings::RegistryStore store(env_->registry());
  if (pathTerminated) {
    ready = LoadFilter(store, path, &next, message, TARNWICK_MESSAGE_BUFFER_SIZE, replacing);
  } else {
    WriteMessage(message, TARNWICK_MESSAGE_BUFFER_SIZE, kPathTooLongMessage);
  }

  LoadedFilter old;
  {
    base::WriterLock stateLock(&stateLock_);
    // A re-initialisation that fails leaves the filter in force as it was:
    // a host that reloads changed settings must not end up filtering
    // nothing because of a typing error. The message says what failed.
    if (ready == 0 && filter_.service != nullptr) return 0;
    old = TakeOver(filter_, next);
    base::MutexLock alertLock(&alertLock_);
    alerts_.threshold = 0;
    ResetAlertBatch(alerts_);
  }
  ReleaseFilter(&old);
  if (ready == 1) {
    try {
      ApplyMailSettings(store, path, next.mailEnabled != 0);
    } catch (const std::exception&) {
      // Memory (or a thread) ran short for the sender: the filter is in
      // force and ready; the sender it had, if any, goes on.
    }
  }
  return ready;
}

void Filter::ApplyMailSettings(settings::Store& store, const char* keyPath, bool mailEnabled) {
  // Under the alert lock: entries of requests meanwhile wait for the new
  // sender, so none is lost between the old one's spool and the new one's.
  base::MutexLock alertLock(&alertLock_);
  ReplaceAlertMailer(store, keyPath, mailEnabled, &mailer_);
}

void ReplaceAlertMailer(settings::Store& store, const char* keyPath, bool mailEnabled,
                        std::unique_ptr<mail::AlertMailer>* current) {
  // Without a "Mail" subkey alerts are collected as before and go nowhere.
  std::unique_ptr<settings::Key> key;
  if (mailEnabled) {
    key = store.Open(settings::SubkeyPath(keyPath, settings::kMailSubkey).c_str(), settings::Access::kRead);
  }
  if (key == nullptr) {
    if (*current != nullptr) (*current)->Stop(0);  // what it holds stays in the spool
    current->reset();
    return;
  }
  const settings::MailSettings values = settings::ReadMailSettings(key.get());
  if (*current != nullptr && (*current)->settings() == values) return;
  mail::MailerOptions options;
  options.settings = values;
  options.spoolPath = AlertSpoolPath(keyPath);
  options.header = kAlertBatchHeader;
  options.helloName = platform::LocalHostName();
  // The old sender writes its spool before the new one reads it.
  if (*current != nullptr) (*current)->Stop(0);
  *current = std::make_unique<mail::AlertMailer>(std::move(options));
}

int Filter::ProcessUrl(HostConnection* connection, char* url) {
  if (connection == nullptr || url == nullptr) return 1;

  // Everything a request works on lives in this frame: the key text and
  // the page (the verdict's sets are ClassifyUrl's own). The engine writes
  // at most limit + 1 bytes; one more keeps a cut key text terminated.
  char keyText[QX_KEY_TEXT_SIZE + 1];
  char page[kDenialPageSize];
  std::size_t pageLength = 0;
  UrlVerdict verdict;
  std::int32_t logEnabled = 0;
  std::int32_t mailEnabled = 0;
  {
    base::ReaderLock stateLock(&stateLock_);
    verdict = ClassifyUrl(filter_, env_, url, keyText);
    if (!verdict.categorized) return 1;
    logEnabled = filter_.logEnabled;
    mailEnabled = filter_.mailEnabled;
    if (verdict.deny) pageLength = FormatDenialPage(filter_.denialBody, page);
  }

  if (verdict.alert) {
    if (logEnabled != 0) {
      WriteAccessLogLine(url, TARNWICK_URL_BUFFER_SIZE, keyText, connection->clientAddress,
                         TARNWICK_CLIENT_ADDRESS_SIZE);
    }
    if (mailEnabled != 0) {
      base::MutexLock alertLock(&alertLock_);
      AddAlertEntry(alerts_, url, &DeliverAlertBatch);
      if (mailer_ != nullptr) mailer_->Add(url);
    }
  }

  if (!verdict.deny) return 1;
  SendToClient(connection, page, static_cast<int>(pageLength));
  return 0;
}

int Filter::UnInit() {
  base::MutexLock initLock(&initLock_);
  LoadedFilter old;
  {
    base::WriterLock stateLock(&stateLock_);
    {
      base::MutexLock alertLock(&alertLock_);
      if (filter_.mailEnabled != 0 && alerts_.threshold > 0) DeliverAlertBatch();
      // One last send of what the sender holds, for at most 10 s; the
      // rest stays in the spool for the next start.
      if (mailer_ != nullptr) mailer_->Stop(10000);
      mailer_.reset();
    }
    old = filter_;  // the handles, released below
    filter_.service = nullptr;
    filter_.denySet = filter_.alertSet = filter_.urlSet = filter_.scratchSet = nullptr;
    filter_.hoursSet = nullptr;
  }
  ReleaseFilter(&old);
  return 1;
}

settings::FilterSettings Filter::values() {
  base::ReaderLock stateLock(&stateLock_);
  return filter_;
}

bool Filter::loaded() {
  base::ReaderLock stateLock(&stateLock_);
  return filter_.service != nullptr;
}

std::string Filter::alertBatch() {
  base::MutexLock alertLock(&alertLock_);
  return std::string(alerts_.text);
}

std::int32_t Filter::alertCount() {
  base::MutexLock alertLock(&alertLock_);
  return alerts_.count;
}

}  // namespace tarnwick
