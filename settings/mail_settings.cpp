// mail_settings.cpp -- the "Mail" subkey read and written.
#include "mail_settings.h"

namespace settings {

const char kMailSubkey[] = "Mail";

namespace {

void ReadNumber(Key& key, const char* name, std::int32_t low, std::int32_t high,
                std::int32_t* field) {
  const std::int32_t value = key.ReadDword(name);
  if (value >= low && value <= high) *field = value;
}

}  // namespace

bool MailSettings::operator==(const MailSettings& other) const {
  return to == other.to && rhythm == other.rhythm && alertCount == other.alertCount &&
         intervalHours == other.intervalHours && server == other.server && port == other.port &&
         from == other.from;
}

MailSettings ReadMailSettings(Key* key) {
  MailSettings values;
  if (key == nullptr) return values;
  key->ReadString("To", &values.to);
  ReadNumber(*key, "Rhythm", kRhythmNone, kRhythmEach, &values.rhythm);
  ReadNumber(*key, "AlertCount", 0, 255, &values.alertCount);
  ReadNumber(*key, "IntervalHours", 0, 4000, &values.intervalHours);
  std::string server;
  if (key->ReadString("Server", &server) && server.size() <= kServerNameLimit) values.server = server;
  ReadNumber(*key, "Port", 1, 32000, &values.port);
  key->ReadString("From", &values.from);
  return values;
}

bool WriteMailSettings(Key& key, const MailSettings& values) {
  bool written = key.WriteString("To", values.to);
  written = key.WriteDword("Rhythm", values.rhythm) && written;
  written = key.WriteDword("AlertCount", values.alertCount) && written;
  written = key.WriteDword("IntervalHours", values.intervalHours) && written;
  written = key.WriteDword("Port", values.port) && written;
  written = key.WriteString("Server", values.server) && written;
  return written;
}

}  // namespace settings
