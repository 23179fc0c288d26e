// dialogs.h -- the Mail Settings dialog (Alert page) and the Times dialog
// (Hours page). Both start from built-in contents and store nothing.
#ifndef PELLUMIN_CONFIG_UI_DIALOGS_H_
#define PELLUMIN_CONFIG_UI_DIALOGS_H_

#include <cstdint>
#include <string>

#include "controls.h"

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

  const WindowTemplate& Template() const override;
  void OnCreate(Controls& controls) override;
  void OnCommand(int id) override;
  bool OnDialogOk() override;

  std::int32_t alertCount() const { return alertCount_; }
  const std::string& recipient() const { return recipient_; }
  std::int32_t intervalHours() const { return intervalHours_; }
  const std::string& smtpServer() const { return smtpServer_; }
  std::int32_t smtpPort() const { return smtpPort_; }

 private:
  // Reads edit id into *field and checks it against [low, high]; on failure
  // shows the message and puts the focus back into the edit.
  bool TakeInteger(int id, std::int32_t low, std::int32_t high, std::int32_t* field);
  void Refuse(int id, const std::string& message);

  Controls* controls_ = nullptr;
  std::int32_t alertCount_ = 10;
  std::string recipient_ = "administrator";
  std::int32_t intervalHours_ = 24;
  std::string smtpServer_ = "localhost";
  std::int32_t smtpPort_ = 25;
};

class CTimesDlg final : public WindowLogic {
 public:
  static constexpr int kColumnCount = 48;
  const WindowTemplate& Template() const override;
  void OnCreate(Controls& controls) override;
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_DIALOGS_H_
