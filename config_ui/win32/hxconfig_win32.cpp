// hxconfig_win32.cpp -- HXConfig in Tarnwick.dll: the settings sheet on the
// Windows property sheet, over the registry.
#include "env.h"
#include "sheet.h"
#include "tarnwick.h"
#include "win32_ui.h"

extern "C" int HX_CALL HXConfig(const char* keyPath) {
  settings::RegistryStore store(platform::Env::Default()->registry());
  config_ui::win32::Win32SheetFrontEnd frontEnd;
  return config_ui::RunConfiguration(keyPath, store, frontEnd);
}
