// args.h -- reading a command line one argument at a time.
//
// The programs (corvane, hxhost, tarnwick-squid, pellumin_regfile) each keep
// their own options, messages and exit statuses; what they share is here:
// walking the arguments, telling options from plain arguments, splitting
// "--name=VALUE", taking an option's value from the next argument, and
// wording the two usual mistakes (a missing value, a value on an option that
// takes none). Nothing throws and nothing exits: a problem comes back as
// text for the program to print its own way.
#ifndef PELLUMIN_BASE_ARGS_H_
#define PELLUMIN_BASE_ARGS_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace base {

struct ArgSyntax {
  // True: an argument "--" is not returned; every argument after it is a
  // plain one, even one that begins with '-'. False: "--" is an argument
  // like any other.
  bool doubleDashEndsOptions = false;
};

class ArgCursor {
 public:
  // The arguments argv[1..argc-1] (argv[0] is the program's name).
  ArgCursor(int argc, const char* const* argv, ArgSyntax syntax = {});
  explicit ArgCursor(std::vector<std::string> args, ArgSyntax syntax = {});

  // Moves to the next argument; false when there is none left.
  bool Next();

  // The current argument as given.
  const std::string& Arg() const { return arg_; }
  // For "--name=VALUE" (an option that begins with "--" and holds '='), the
  // part before the first '='; for any other argument, all of it.
  const std::string& Name() const { return name_; }
  bool HasInlineValue() const { return hasInlineValue_; }
  // The part after the first '=' of "--name=VALUE".
  const std::string& InlineValue() const { return inlineValue_; }

  // An argument of two or more bytes that begins with '-' ("-" alone names
  // standard input or output), not after a "--" that ends the options.
  bool IsOption() const;
  // The current argument is the option `name` exactly (no "=VALUE").
  bool Is(std::string_view name) const { return IsOption() && arg_ == name; }

  // The current option's value: the inline one of "--name=VALUE", else the
  // next argument, which is consumed (whatever it looks like). Without one,
  // returns false and sets *error to "NAME needs WHAT".
  bool TakeValue(std::string* value, std::string* error, std::string_view what = "a value");
  // False, with *error "NAME takes no value", for an option given as
  // "--name=VALUE" that takes no value.
  bool RefuseValue(std::string* error) const;

  // Every argument after the current one, read as Next reads them (so
  // without a "--" that ends the options); consumes them.
  std::vector<std::string> Rest();

 private:
  void Split();

  std::vector<std::string> args_;
  ArgSyntax syntax_;
  std::size_t next_ = 0;
  bool plainOnly_ = false;
  std::string arg_;
  std::string name_;
  std::string inlineValue_;
  bool hasInlineValue_ = false;
};

// An option's number: one to nine decimal digits (no sign, no space) whose
// value lies in [low, high]. Sets *out only when it does.
bool ParseDecimalInRange(std::string_view text, long low, long high, long* out);

// True when any of the arguments argv[1..argc-1] is one of `names`,
// wherever it stands (even where it would be another option's value).
bool AnyArgIs(int argc, const char* const* argv, std::initializer_list<std::string_view> names);

}  // namespace base

#endif  // PELLUMIN_BASE_ARGS_H_
