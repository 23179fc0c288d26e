// pages.h -- the four pages of the configuration sheet.
#ifndef PELLUMIN_CONFIG_UI_PAGES_H_
#define PELLUMIN_CONFIG_UI_PAGES_H_

#include <cstdint>
#include <string>

#include "category_list.h"
#include "sheet.h"

namespace config_ui {

// The error message is one line in its edit: each carriage return, line
// feed and backslash is shown as "\r", "\n" and "\\", and read back the same
// way, so that an untouched text is saved exactly as it was loaded. A
// backslash before any other character stays as it stands.
std::string ShowLineBreaks(const std::string& text);
std::string ReadLineBreaks(const std::string& shown);

class CGeneralPage final : public PropertyPage {
 public:
  explicit CGeneralPage(SettingsStore& store);
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

// A page with a category list kept in subkey.
class CategoryPage : public PropertyPage {
 public:
  void OnListClick(int id) override;
  bool OnEndLabelEdit(int id, int item, const std::string& text) override;
  const CCategoryListCtrl& list() const { return list_; }

 protected:
  CategoryPage(SettingsStore& store, const char* subkey);
  void SaveList();
  CCategoryListCtrl list_;
  const char* subkey_;
};

class CDenyPage final : public CategoryPage {
 public:
  explicit CDenyPage(SettingsStore& store);
  const WindowTemplate& Template() const override;
  std::int32_t dottedDecimal() const { return dottedDecimal_; }
  std::int32_t personalSites() const { return personalSites_; }

 protected:
  void Fill() override;
  void Activate() override;
  void ReadBack() override;
  void Save() override;

 private:
  std::int32_t dottedDecimal_;
  std::int32_t personalSites_;
};

class CAlertPage final : public CategoryPage {
 public:
  explicit CAlertPage(SettingsStore& store);
  const WindowTemplate& Template() const override;
  void OnCommand(int id) override;
  std::int32_t log() const { return log_; }
  std::int32_t mail() const { return mail_; }

 protected:
  void Fill() override;
  void Activate() override;
  void ReadBack() override;
  void Save() override;

 private:
  void EnableMailSettings();
  std::int32_t log_;
  std::int32_t mail_;
};

class CHoursPage final : public CategoryPage {
 public:
  explicit CHoursPage(SettingsStore& store);
  const WindowTemplate& Template() const override;
  void OnCommand(int id) override;

 protected:
  void Fill() override {}
  void Activate() override;
  void ReadBack() override {}
  void Save() override;
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_PAGES_H_
