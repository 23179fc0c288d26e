// regedit_format.h -- the REGEDIT4 text that stands for HKEY_LOCAL_MACHINE on
// POSIX: an in-memory model of one file, its parser and its writer.
//
// Pure code, no OS calls: it builds and is tested on every target. The file
// format is described in doc/registry-file.md.
#ifndef PELLUMIN_PLATFORM_REGEDIT_FORMAT_H_
#define PELLUMIN_PLATFORM_REGEDIT_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
namespace regedit {

constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;

// The longest key name component Windows allows.
constexpr std::size_t kMaxKeyComponent = 255;

struct Value {
  std::string name;  // "" is the key's default value, written "@"
  std::uint32_t type = 0;
  std::string data;  // the stored bytes, as RegQueryValueExA returns them
};

struct Key {
  std::string path;  // below HKEY_LOCAL_MACHINE, "" for the root itself
  std::vector<Value> values;
};

// One file: its keys in file order. Each key appears once; names keep the
// case in which they were first written and are found without regard to
// (ASCII) case.
class Document {
 public:
  const std::vector<Key>& keys() const { return keys_; }

  Key* FindKey(std::string_view path);
  const Key* FindKey(std::string_view path) const;
  // A key exists when it has a section or any key below it has one (regedit
  // creates the parents of every key it imports). The root always exists.
  bool KeyExists(std::string_view path) const;
  // Returns the key's section, adding it and any missing parent sections.
  Key& AddKey(std::string_view path);
  // True when some key lies below path.
  bool HasSubkeys(std::string_view path) const;
  // The names of the keys directly below path, each once, spelled as first
  // written, in file order.
  std::vector<std::string> SubkeyNames(std::string_view path) const;
  // Removes the key's own section (its values). Keys below it keep theirs,
  // and its parent keeps existing: a section is added for the parent when
  // it had none, as the registry keeps a parent when a subkey goes.
  void RemoveKey(std::string_view path);

  static const Value* FindValue(const Key& key, std::string_view name);
  // Replaces the value of that name (keeping the name's first spelling) or
  // appends a new one.
  static void SetValue(Key& key, std::string_view name, std::uint32_t type, std::string data);
  // Removes the value of that name; false when there was none.
  static bool RemoveValue(Key& key, std::string_view name);

 private:
  std::vector<Key> keys_;
};

// ASCII case-insensitive equality, as the registry compares names.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Turns a caller's key path into the stored form: one or more trailing
// backslashes are dropped ("SOFTWARE\X\" is "SOFTWARE\X"); a leading
// backslash, an empty component, a component longer than 255 characters or
// a control character is refused with a message in *error.
bool NormalizeKeyPath(std::string_view path, std::string* out, std::string* error);

// Parses a whole file. Accepts REGEDIT4 (8-bit, CRLF or LF line ends) and,
// for reading regedit's exports, "Windows Registry Editor Version 5.00" in
// UTF-16LE with its byte order mark (characters are mapped to Windows-1252).
// A file that is empty or only white space is an empty registry. On failure
// returns false and sets *error to "line N: what is wrong".
bool Parse(std::string_view text, Document* doc, std::string* error);

// Writes the document as REGEDIT4 with CRLF line ends, the way regedit
// exports it: "REGEDIT4", then for each key a blank line, "[HKEY_LOCAL_
// MACHINE\path]" and its values, and a final blank line.
std::string Write(const Document& doc);

// The text after "=" for one value (also used by tools to show values).
std::string FormatValueData(const Value& value, std::size_t lineLengthSoFar);

}  // namespace regedit
}  // namespace platform

#endif  // PELLUMIN_PLATFORM_REGEDIT_FORMAT_H_
