// args.cpp -- reading a command line one argument at a time.
#include "base/args.h"

#include <utility>

#include "base/ascii.h"

namespace base {

ArgCursor::ArgCursor(int argc, const char* const* argv, ArgSyntax syntax) : syntax_(syntax) {
  for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

ArgCursor::ArgCursor(std::vector<std::string> args, ArgSyntax syntax)
    : args_(std::move(args)), syntax_(syntax) {}

bool ArgCursor::Next() {
  while (next_ < args_.size()) {
    arg_ = args_[next_++];
    if (syntax_.doubleDashEndsOptions && !plainOnly_ && arg_ == "--") {
      plainOnly_ = true;
      continue;
    }
    Split();
    return true;
  }
  return false;
}

void ArgCursor::Split() {
  name_ = arg_;
  inlineValue_.clear();
  hasInlineValue_ = false;
  if (plainOnly_ || arg_.compare(0, 2, "--") != 0) return;
  const std::size_t equals = arg_.find('=');
  if (equals == std::string::npos) return;
  name_ = arg_.substr(0, equals);
  inlineValue_ = arg_.substr(equals + 1);
  hasInlineValue_ = true;
}

bool ArgCursor::IsOption() const { return !plainOnly_ && arg_.size() > 1 && arg_[0] == '-'; }

bool ArgCursor::TakeValue(std::string* value, std::string* error, std::string_view what) {
  if (hasInlineValue_) {
    *value = inlineValue_;
    return true;
  }
  const std::string name = name_;
  if (!Next()) {
    *error = name + " needs " + std::string(what);
    return false;
  }
  *value = arg_;
  return true;
}

bool ArgCursor::RefuseValue(std::string* error) const {
  if (!hasInlineValue_) return true;
  *error = name_ + " takes no value";
  return false;
}

std::vector<std::string> ArgCursor::Rest() {
  std::vector<std::string> rest;
  while (Next()) rest.push_back(arg_);
  return rest;
}

bool ParseDecimalInRange(std::string_view text, long low, long high, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

bool AnyArgIs(int argc, const char* const* argv, std::initializer_list<std::string_view> names) {
  for (int i = 1; i < argc; ++i) {
    for (std::string_view name : names) {
      if (name == argv[i]) return true;
    }
  }
  return false;
}

}  // namespace base
