// dialogs.h -- the Mail Settings dialog (Alert page) and the Times dialog
// (Hours page). The mail dialog opens with the values the Alert page holds
// (the "Mail" subkey's, or the defaults) and hands back what OK took; the
// page stores them. The Times dialog starts from built-in contents.
#ifndef PELLUMIN_CONFIG_UI_DIALOGS_H_
#define PELLUMIN_CONFIG_UI_DIALOGS_H_

#include <cstdint>
#include <string>

#include "controls.h"
#include "mail_settings.h"

namespace config_ui {

// Reads an integer the way the dialog's fields take one: only the first 31
// characters count; blanks (spaces, tabs) may stand before and after an
// optional sign and decimal digits, nothing else may. A value of zero counts
// only when its first character after the blanks is "0", so "", "+0" and
// "-0" are not integers. Values beyond 32 bits saturate (and so fail any
// range check). False when the text is not an integer.
bool ReadDialogInteger(const std::string& text, std::int32_t* value);

// "%1", "%2" in format replaced by first and second.
std::string FillMessage(const char* format, const std::string& first,
                        const std::string& second = std::string());

class CMailSettingsDlg final : public WindowLogic {
 public:
  static constexpr int kServerNameLimit = 256;

  // Opens with start's values: its rhythm's radio button on and the other
  // rhythm's number edit disabled (rhythm 0: neither on, both enabled).
  explicit CMailSettingsDlg(const settings::MailSettings& start = {});

  const WindowTemplate& Template() const override;
  void OnCreate(Controls& controls) override;
  void OnCommand(int id) override;
  bool OnDialogOk() override;

  std::int32_t alertCount() const { return alertCount_; }
  const std::string& recipient() const { return recipient_; }
  std::int32_t intervalHours() const { return intervalHours_; }
  const std::string& smtpServer() const { return smtpServer_; }
  std::int32_t smtpPort() const { return smtpPort_; }
  // True once OK has closed the dialog.
  bool accepted() const { return accepted_; }
  // The values OK took (the rhythm of the radio button on, or the one it
  // opened with when neither is on); start's values before that.
  settings::MailSettings values() const;

 private:
  // Reads edit id into *field and checks it against [low, high]; on failure
  // shows the message and puts the focus back into the edit.
  bool TakeInteger(int id, std::int32_t low, std::int32_t high, std::int32_t* field);
  void Refuse(int id, const std::string& message);

  Controls* controls_ = nullptr;
  settings::MailSettings start_;
  std::int32_t alertCount_;
  std::string recipient_;
  std::int32_t intervalHours_;
  std::string smtpServer_;
  std::int32_t smtpPort_;
  std::int32_t rhythm_;
  bool accepted_ = false;
};

class CTimesDlg final : public WindowLogic {
 public:
  static constexpr int kColumnCount = 48;
  const WindowTemplate& Template() const override;
  void OnCreate(Controls& controls) override;
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_DIALOGS_H_
