// filter.h -- the request filter as an object: the engine handles and the
// settings in force, the alert batch, and the locks that guard them.
//
// The host entry points (tarnwick.h) keep one Filter for the process over
// platform::Env::Default(); tests make their own, each with its own Env,
// and run them side by side.
//
// Locking: stateLock_ (reader/writer) guards the engine handles and the
// settings in filter_. Init builds the new filter (filter_loader.h) without
// it and holds it exclusively only to exchange the old one for the new;
// UnInit holds it exclusively to take the handles out. initLock_ keeps Init
// and UnInit one at a time. ProcessUrl holds stateLock_ shared only while
// it categorises, tests the sets and copies what it needs (switches, denial
// page); the log line, the alert entry and the send happen after it is
// released, so a slow client never holds up another request or a
// re-initialisation. alertLock_ guards the alert batch and the mail sender,
// which takes each entry without waiting for the mail. Lock order:
// initLock_, stateLock_, alertLock_.
#ifndef PELLUMIN_PLUGIN_FILTER_H_
#define PELLUMIN_PLUGIN_FILTER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "env.h"
#include "filter_loader.h"
#include "alert_mailer.h"
#include "filter_settings.h"
#include "outputs.h"
#include "store.h"
#include "tarnwick.h"

namespace tarnwick {

class Filter {
 public:
  // env must outlive the filter; each Init reads the settings from its
  // registry() of the moment.
  explicit Filter(platform::Env* env);
  // Releases what a last Init left loaded.
  ~Filter();
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  // HXInit's contract (tarnwick.h): message is the host's buffer,
  // TARNWICK_MESSAGE_BUFFER_SIZE bytes, with the key path in and the outcome
  // out.
  int Init(char* message) EXCLUDES(initLock_, stateLock_, alertLock_);
  // HXProcURL's contract.
  int ProcessUrl(HostConnection* connection, char* url) EXCLUDES(stateLock_, alertLock_);
  // HXUnInit's contract.
  int UnInit() EXCLUDES(initLock_, stateLock_, alertLock_);

  // --- What is in force, for tests ---------------------------------------
  settings::FilterSettings values() EXCLUDES(stateLock_);
  bool loaded() EXCLUDES(stateLock_);
  std::string alertBatch() EXCLUDES(alertLock_);
  std::int32_t alertCount() EXCLUDES(alertLock_);

 private:
  int InitWithPath(char* message) REQUIRES(initLock_) EXCLUDES(stateLock_, alertLock_);
  // Starts, keeps or stops the mail sender for the settings just put in
  // force.
  void ApplyMailSettings(settings::Store& store, const char* keyPath, bool mailEnabled)
      REQUIRES(initLock_) EXCLUDES(alertLock_);

  platform::Env* const env_;

  base::Mutex initLock_;
  base::SharedMutex stateLock_ ACQUIRED_AFTER(initLock_);
  base::Mutex alertLock_ ACQUIRED_AFTER(stateLock_);

  LoadedFilter filter_ GUARDED_BY(stateLock_);
  AlertBatch alerts_ GUARDED_BY(alertLock_);
  // Present while alert collection is on and the "Mail" subkey exists.
  std::unique_ptr<mail::AlertMailer> mailer_ GUARDED_BY(alertLock_);
};

// Where the sender of the filter at keyPath keeps unsent alerts: a file
// named after the key path in platform::DataFolder(); "" when there is none.
std::string AlertSpoolPath(const char* keyPath);

// Sets *current (the sender in use, may be null) up for the settings at
// keyPath: kept when the "Mail" subkey holds the same settings; replaced by
// a new sender, started after the old one has stopped and written its
// spool, when they differ; null when alert collection is off or there is
// no "Mail" subkey (the old one stopped). Every host of the filter (Filter,
// the Squid helper) sets its sender up with this. May throw what a memory
// shortage throws; *current then holds a sender that takes entries (a
// stopped one keeps none).
void ReplaceAlertMailer(settings::Store& store, const char* keyPath, bool mailEnabled,
                        std::unique_ptr<mail::AlertMailer>* current);

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_FILTER_H_
