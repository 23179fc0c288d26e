// pages.h -- the four pages of the configuration sheet.
#ifndef PELLUMIN_CONFIG_UI_PAGES_H_
#define PELLUMIN_CONFIG_UI_PAGES_H_

#include <cstdint>
#include <string>

#include "category_list.h"
#include "mail_settings.h"
#include "sheet.h"

namespace config_ui {

class CGeneralPage final : public PropertyPage {
 public:
  explicit CGeneralPage(settings::KeyScope& keys);
  const WindowTemplate& Template() const override;

  const std::string& controlFile() const { return controlFile_; }
  const std::string& siteFile() const { return siteFile_; }
  const std::string& errorMessage() const { return errorMessage_; }

 protected:
  void Fill() override;
  void ReadBack() override;
  void Save() override;

 private:
  std::string controlFile_;
  std::string errorMessage_;
  std::string siteFile_;
};

// A number of the main key that a check box shows.
struct FlagField {
  const char* valueName;
  int checkId;
  std::int32_t value;  // the default until loaded
};

// A page with a category list kept in subkey and up to two numbers of the
// main key in check boxes, loaded in that order (numbers first) and saved
// in the order given.
class CategoryPage : public PropertyPage {
 public:
  void OnListClick(int id) override;
  bool OnEndLabelEdit(int id, int item, const std::string& text) override;
  const CCategoryListCtrl& list() const { return list_; }

 protected:
  CategoryPage(settings::KeyScope& keys, const char* subkey, int flagCount = 0,
               FlagField first = {}, FlagField second = {});
  void Fill() override;
  void Activate() override;
  void ReadBack() override;
  void Save() override;
  std::int32_t flag(int index) const { return flags_[index].value; }

 private:
  CCategoryListCtrl list_;
  const char* subkey_;
  int flagCount_;
  FlagField flags_[2];
};

class CDenyPage final : public CategoryPage {
 public:
  explicit CDenyPage(settings::KeyScope& keys);
  const WindowTemplate& Template() const override;
  std::int32_t dottedDecimal() const { return flag(0); }
  std::int32_t personalSites() const { return flag(1); }
};

class CAlertPage final : public CategoryPage {
 public:
  explicit CAlertPage(settings::KeyScope& keys);
  const WindowTemplate& Template() const override;
  void OnCommand(int id) override;
  std::int32_t log() const { return flag(0); }
  std::int32_t mail() const { return flag(1); }
  // What the Mail Settings dialog opens with: the "Mail" subkey's values,
  // or what OK in the dialog last took.
  const settings::MailSettings& mailSettings() const { return mailSettings_; }

 protected:
  void Activate() override;
  void Save() override;

 private:
  void EnableMailSettings();

  settings::MailSettings mailSettings_;
  // OK closed the dialog during this sheet: Save writes the "Mail" subkey.
  bool mailSettingsTaken_ = false;
};

class CHoursPage final : public CategoryPage {
 public:
  explicit CHoursPage(settings::KeyScope& keys);
  const WindowTemplate& Template() const override;
  void OnCommand(int id) override;
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_PAGES_H_
