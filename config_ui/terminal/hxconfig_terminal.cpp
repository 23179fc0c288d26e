// hxconfig_terminal.cpp -- HXConfig in libtarnwick.so: the settings sheet in
// the terminal on standard input and output.
#include "tarnwick.h"
#include "terminal_ui.h"

extern "C" int HX_CALL HXConfig(const char* keyPath) {
  return config_ui::terminal::RunTerminalConfiguration(keyPath);
}
