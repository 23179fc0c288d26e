// terminal_ui.h -- the settings sheet on a text terminal (ncurses): the
// caption, the four tabs with the current one marked, the current page's
// controls laid out from its template, OK / Cancel / a disabled Apply, and a
// help line; the dialogs and message boxes as modal boxes over it. The page
// protocol runs through SheetDriver, so that pages see the same events in
// the same order as under the Windows property sheet.
#ifndef PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_UI_H_
#define PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_UI_H_

#include <string>

#include "sheet.h"

namespace config_ui {
namespace terminal {

class TerminalSheet final : public SheetFrontEnd {
 public:
  // Takes over the terminal on standard input and output; false (with why)
  // when it cannot, for instance when TERM names no known terminal.
  bool Open(std::string* why);
  // Gives the terminal back as it was.
  void Close();
  ~TerminalSheet() override { Close(); }

  void RunSheet(CPelluminSheet& sheet) override;

 private:
  void* screen_ = nullptr;      // the ncurses SCREEN
  void* hostScreen_ = nullptr;  // the host's own, if it had one
  void* hostSignals_ = nullptr;  // platform::SavedSignalHandlers
  std::string hostLocale_;  // LC_CTYPE before Open
};

// Whether the terminfo database describes term.
bool TerminalDescriptionExists(const char* term);

// HXConfig's work on POSIX: the sheet in the terminal, or, without one, a
// line on standard error. Returns 0.
int RunTerminalConfiguration(const char* keyPath);

}  // namespace terminal
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_UI_H_
