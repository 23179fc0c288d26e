// hxconfig_posix.cpp -- HXConfig in libtarnwick.so. The settings sheet runs
// in the terminal; without one there is nothing to show it on.
#include <cstdio>

#include "platform.h"
#include "tarnwick.h"

extern "C" int HX_CALL HXConfig(const char* keyPath) {
  if (!platform::StandardStreamsAreTerminal()) {
    std::fprintf(stderr,
                 "HXConfig: standard input and output are not a terminal; no settings sheet "
                 "shown for \"%s\"\n",
                 keyPath != nullptr ? keyPath : "");
    return 0;
  }
  std::fprintf(stderr,
               "HXConfig: this build has no terminal settings sheet yet; edit the settings "
               "file (doc/settings.md) for \"%s\"\n",
               keyPath != nullptr ? keyPath : "");
  return 0;
}
