// tool_args.h -- the small command-line reader the corvane commands share.
#ifndef PELLUMIN_TOOLS_TOOL_ARGS_H_
#define PELLUMIN_TOOLS_TOOL_ARGS_H_

#include <ostream>
#include <string>

namespace corvane_tool {

// Walks argv[1..argc-1] (argv[0] is the command's name). After "--" every
// argument is a plain one.
class ArgReader {
 public:
  ArgReader(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Moves to the next argument; false at the end.
  bool Next() {
    if (index_ + 1 >= argc_) return false;
    current_ = argv_[++index_];
    if (!plainOnly_ && current_ == "--") {
      plainOnly_ = true;
      return Next();
    }
    return true;
  }

  const std::string& Current() const { return current_; }
  bool IsOption() const { return !plainOnly_ && current_.size() > 1 && current_[0] == '-'; }
  bool Is(const char* name) const { return IsOption() && current_ == name; }
  bool IsHelp() const { return Is("--help") || Is("-h"); }

  // Matches "-o VALUE", "--output VALUE" or "--output=VALUE" and stores the
  // value. A missing value is recorded as a problem.
  bool IsWithValue(const char* shortName, const char* longName, std::string* value) {
    if (!IsOption()) return false;
    std::string longEq = std::string(longName) + "=";
    if (current_.compare(0, longEq.size(), longEq) == 0) {
      *value = current_.substr(longEq.size());
      return true;
    }
    if (current_ != longName && (shortName == nullptr || current_ != shortName)) return false;
    std::string name = current_;
    if (!Next()) {
      problem_ = name + " needs a value";
      return true;
    }
    *value = current_;
    return true;
  }

  // The first problem met (a missing value), or empty.
  const std::string& Problem() const { return problem_; }

 private:
  int argc_;
  char** argv_;
  int index_ = 0;
  bool plainOnly_ = false;
  std::string current_;
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
