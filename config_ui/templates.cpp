// templates.cpp -- the tables of templates.h, expanded from templates.inc.
#include "templates.h"

namespace config_ui {
namespace {

#define PL_KIND_TEXT ControlKind::kText
#define PL_KIND_EDIT ControlKind::kEdit
#define PL_KIND_CHECK ControlKind::kCheck
#define PL_KIND_BUTTON ControlKind::kButton
#define PL_KIND_DEFBUTTON ControlKind::kDefButton
#define PL_KIND_RADIO ControlKind::kRadio
#define PL_KIND_GROUP ControlKind::kGroup
#define PL_KIND_LIST ControlKind::kList
#define PL_KIND_RECT ControlKind::kRect

// First pass: one control array per window.
#define PL_STRING(id, text)
#define PL_DIALOG_BEGIN(name, id, style, caption, width, height) \
  const ControlTemplate k##name##Controls[] = {
#define PL_CONTROL(kind, id, text, style, x, y, width, height) \
  {PL_KIND_##kind, id, text, static_cast<std::uint32_t>(style), x, y, width, height},
#define PL_DIALOG_END(name) };
#include "templates.inc"
#undef PL_DIALOG_BEGIN
#undef PL_CONTROL
#undef PL_DIALOG_END

// Second pass: the windows.
#define PL_DIALOG_BEGIN(name, id, style, caption, width, height)                      \
  const WindowTemplate k##name = {#name, id, static_cast<std::uint32_t>(style), caption, \
                                  width, height, k##name##Controls,                   \
                                  sizeof(k##name##Controls) / sizeof(ControlTemplate)};
#define PL_CONTROL(kind, id, text, style, x, y, width, height)
#define PL_DIALOG_END(name)
#include "templates.inc"
#undef PL_DIALOG_BEGIN
#undef PL_CONTROL
#undef PL_DIALOG_END
#undef PL_STRING

struct UiString {
  int id;
  const char* text;
};
#define PL_STRING(id, text) {id, text},
#define PL_DIALOG_BEGIN(name, id, style, caption, width, height)
#define PL_CONTROL(kind, id, text, style, x, y, width, height)
#define PL_DIALOG_END(name)
const UiString kStrings[] = {
#include "templates.inc"
};

const WindowTemplate* const kAll[] = {&kGeneralPage,        &kDenyPage,  &kAlertPage, &kHoursPage,
                                      &kMailSettingsDialog, &kTimesDialog};

}  // namespace

const ControlTemplate* WindowTemplate::Find(int controlId) const {
  for (std::size_t i = 0; i < controlCount; ++i) {
    if (controls[i].id == controlId) return &controls[i];
  }
  return nullptr;
}

const WindowTemplate& GeneralPageTemplate() { return kGeneralPage; }
const WindowTemplate& DenyPageTemplate() { return kDenyPage; }
const WindowTemplate& AlertPageTemplate() { return kAlertPage; }
const WindowTemplate& HoursPageTemplate() { return kHoursPage; }
const WindowTemplate& MailSettingsTemplate() { return kMailSettingsDialog; }
const WindowTemplate& TimesTemplate() { return kTimesDialog; }

const WindowTemplate* const* AllTemplates(std::size_t* count) {
  *count = sizeof(kAll) / sizeof(kAll[0]);
  return kAll;
}

const char* LoadUiString(int id) {
  for (const UiString& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return nullptr;
}

}  // namespace config_ui
