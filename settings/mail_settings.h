// mail_settings.h -- the alert mail settings: subkey "Mail" of the main
// key, written by the Alert page's Mail Settings dialog and read by the
// filter's mail sender.
#ifndef PELLUMIN_SETTINGS_MAIL_SETTINGS_H_
#define PELLUMIN_SETTINGS_MAIL_SETTINGS_H_

#include <cstdint>
#include <string>

#include "store.h"

namespace settings {

extern const char kMailSubkey[];  // "Mail"

// How alert mail is sent.
enum MailRhythm : std::int32_t {
  kRhythmNone = 0,   // none chosen: each entry as it comes, coalesced
  kRhythmAfter = 1,  // "After" alertCount alerts
  kRhythmEach = 2,   // "Each" intervalHours hours
};

// The values and the range each may hold; a stored value outside its
// range reads as its default. The defaults are the dialog's.
struct MailSettings {
  std::string to = "administrator";  // "To": an address, or a local name
  std::int32_t rhythm = kRhythmNone;  // "Rhythm": 0 to 2
  std::int32_t alertCount = 10;      // "AlertCount": 0 to 255
  std::int32_t intervalHours = 24;   // "IntervalHours": 0 to 4000
  std::string server = "localhost";  // "Server": at most 256 characters
  std::int32_t port = 25;            // "Port": 1 to 32000
  // "From" (no field in the dialog; read only): the envelope and header
  // sender; empty gives pellumin@ and the machine's host name.
  std::string from;

  bool operator==(const MailSettings& other) const;
  bool operator!=(const MailSettings& other) const { return !(*this == other); }
};

constexpr std::size_t kServerNameLimit = 256;

// The values in key (the "Mail" subkey); all defaults when key is null.
MailSettings ReadMailSettings(Key* key);

// Writes "To", "Rhythm", "AlertCount", "IntervalHours", "Port" and
// "Server" in that order ("From" is left as it is). False when a write
// failed; the others are still written.
bool WriteMailSettings(Key& key, const MailSettings& values);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_MAIL_SETTINGS_H_
