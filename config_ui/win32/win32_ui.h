// win32_ui.h -- the Win32 front end: the real property sheet (PropertySheetA
// over the page templates in Tarnwick's resources), modal dialogs, and
// Controls over the windows' child controls.
#ifndef PELLUMIN_CONFIG_UI_WIN32_WIN32_UI_H_
#define PELLUMIN_CONFIG_UI_WIN32_WIN32_UI_H_

#include <windows.h>

#include "sheet.h"

namespace config_ui {
namespace win32 {

// The module that holds the resources (Tarnwick.dll).
HINSTANCE ResourceModule();

class Win32SheetFrontEnd final : public SheetFrontEnd {
 public:
  // Runs sheet as a modal property sheet without owner window.
  void RunSheet(CPelluminSheet& sheet) override;
};

}  // namespace win32
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_WIN32_WIN32_UI_H_
