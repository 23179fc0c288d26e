// terminfo_probe.cpp -- whether TERM has a terminal description, asked
// apart from the rest of the front end: <term.h> defines capability names
// (columns, lines, tab, ...) as macros that would clash with its code.
#include <curses.h>
#include <term.h>
#include <unistd.h>

#include "terminal_ui.h"

namespace config_ui {
namespace terminal {

bool TerminalDescriptionExists(const char* term) {
  // A newterm that fails keeps part of what it allocated; setupterm with an
  // error pointer neither prints, ends the process nor keeps anything.
  int error = 0;
  if (setupterm(term, STDOUT_FILENO, &error) != OK) return false;
  del_curterm(cur_term);
  return true;
}

}  // namespace terminal
}  // namespace config_ui
