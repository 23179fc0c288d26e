// tool_args.h -- the command-line reading the corvane commands share: the
// project's argument cursor (base/args.h) with the commands' conventions,
// "-h"/"--help", "-o VALUE" beside "--output VALUE" and "--output=VALUE",
// "--" before plain arguments, and the first problem kept for the usage
// message.
#ifndef PELLUMIN_TOOLS_TOOL_ARGS_H_
#define PELLUMIN_TOOLS_TOOL_ARGS_H_

#include <ostream>
#include <string>

#include "base/args.h"

namespace corvane_tool {

// Walks argv[1..argc-1] (argv[0] is the command's name). After "--" every
// argument is a plain one.
class ArgReader {
 public:
  ArgReader(int argc, char** argv) : cursor_(argc, argv, base::ArgSyntax{true}) {}

  // Moves to the next argument; false at the end.
  bool Next() { return cursor_.Next(); }

  const std::string& Current() const { return cursor_.Arg(); }
  bool IsOption() const { return cursor_.IsOption(); }
  bool Is(const char* name) const { return cursor_.Is(name); }
  bool IsHelp() const { return Is("--help") || Is("-h"); }

  // Matches "-o VALUE", "--output VALUE" or "--output=VALUE" and stores the
  // value. A missing value is recorded as a problem.
  bool IsWithValue(const char* shortName, const char* longName, std::string* value) {
    if (!IsOption()) return false;
    if (cursor_.HasInlineValue()) {
      if (cursor_.Name() != longName) return false;
      *value = cursor_.InlineValue();
      return true;
    }
    if (!Is(longName) && (shortName == nullptr || !Is(shortName))) return false;
    cursor_.TakeValue(value, &problem_);
    return true;
  }

  // The first problem met (a missing value), or empty.
  const std::string& Problem() const { return problem_; }

 private:
  base::ArgCursor cursor_;
  std::string problem_;
};

// Prints "corvane COMMAND: PROBLEM" and the usage; returns the exit code for
// bad usage (2).
inline int UsageError(std::ostream& err, const char* command, const std::string& problem,
                      const char* usage) {
  err << "corvane " << command << ": " << problem << "\n\n" << usage;
  return 2;
}

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_TOOL_ARGS_H_
