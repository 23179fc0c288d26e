// templates.h -- the windows of the configuration interface as data: the
// C++ side of templates.inc, which Tarnwick's resource script reads too.
// Front ends make their windows and controls from these tables.
#ifndef PELLUMIN_CONFIG_UI_TEMPLATES_H_
#define PELLUMIN_CONFIG_UI_TEMPLATES_H_

#include <cstddef>
#include <cstdint>

#include "resource.h"

namespace config_ui {

enum class ControlKind {
  kText,       // static text
  kEdit,       // single-line edit
  kCheck,      // automatic check box
  kButton,     // push button
  kDefButton,  // default push button
  kRadio,      // automatic radio button
  kGroup,      // group box
  kList,       // list view
  kRect,       // filled rectangle (a legend swatch)
};

struct ControlTemplate {
  ControlKind kind;
  int id;             // IDC_STATIC for texts and frames
  const char* text;   // caption; "" for edits and lists
  std::uint32_t style;  // PL_* bits, without WS_CHILD and WS_VISIBLE
  int x, y, width, height;  // dialog units
};

struct WindowTemplate {
  const char* name;     // "GeneralPage", "MailSettingsDialog", ...
  int id;               // IDD_*
  std::uint32_t style;  // PL_PAGE_STYLE or PL_DIALOG_STYLE
  const char* caption;  // tab caption of a page, title of a dialog
  int width, height;    // dialog units; the font is 8-point "MS Sans Serif"
  const ControlTemplate* controls;
  std::size_t controlCount;

  // The control with this identifier, or null (and the first of them when
  // several share it, as IDC_STATIC texts do).
  const ControlTemplate* Find(int controlId) const;
};

const WindowTemplate& GeneralPageTemplate();
const WindowTemplate& DenyPageTemplate();
const WindowTemplate& AlertPageTemplate();
const WindowTemplate& HoursPageTemplate();
const WindowTemplate& MailSettingsTemplate();
const WindowTemplate& TimesTemplate();

// Every template, pages first in tab order.
const WindowTemplate* const* AllTemplates(std::size_t* count);

// The string table entry id (IDS_*), or null.
const char* LoadUiString(int id);

constexpr const char kDialogFontName[] = "MS Sans Serif";
constexpr int kDialogFontPoints = 8;

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TEMPLATES_H_
