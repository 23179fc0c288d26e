// The REGEDIT4 parser and writer behind the POSIX registry file.
#include "regedit_format.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace regedit {
namespace {

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kHeader4[] = "REGEDIT4";
constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
// regedit breaks a hex line once it reaches this many characters.
constexpr std::size_t kMaxHexLine = 77;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LineMessage(int line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// Windows-1252 code points for bytes 0x80 to 0x9F; the five bytes the code
// page leaves undefined map to the same-numbered control code, as Windows
// itself maps them.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool CodeUnitToByte(std::uint16_t unit, char* out) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    *out = static_cast<char>(unit);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == unit) {
      *out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

std::string CodeUnitName(std::uint16_t unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(unit));
  return buf;
}

// UTF-16LE to 8-bit text. *badUnit receives the first unit that has no
// Windows-1252 form and *badOffset its position in units.
bool DecodeUtf16(std::string_view bytes, std::string* out, std::uint16_t* badUnit,
                 std::size_t* badOffset) {
  out->clear();
  out->reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint16_t unit = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    (static_cast<unsigned char>(bytes[i + 1]) << 8));
    char c;
    if (!CodeUnitToByte(unit, &c)) {
      *badUnit = unit;
      *badOffset = i / 2;
      return false;
    }
    out->push_back(c);
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// After a value: only blanks or a ";" comment may follow.
bool OnlyTrailer(std::string_view rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a quoted text whose opening quote has been consumed, up to the
// closing quote. Understands \\ and \" (regedit's escapes) and \r and \n (as
// regedit exports carriage return and line feed); any other backslash stays
// as written, so a hand-written "C:\Windows" keeps its backslash.
bool ReadQuoted(std::string_view* in, std::string* out) {
  std::string_view s = *in;
  out->clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      *in = s.substr(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s.size()) {
      char next = s[i + 1];
      if (next == '\\' || next == '"') {
        out->push_back(next);
        ++i;
        continue;
      }
      if (next == 'r' || next == 'n') {
        out->push_back(next == 'r' ? '\r' : '\n');
        ++i;
        continue;
      }
    }
    out->push_back(c);
  }
  return false;
}

struct ParseState {
  Document* doc;
  bool unicode = false;
  int lineNumber = 0;
  Key* current = nullptr;
  // A hex value whose line ended in a continuation backslash.
  bool continuing = false;
  Value pending;
  int pendingLine = 0;
  std::string error;

  bool Fail(const std::string& what) {
    error = LineMessage(lineNumber, what);
    return false;
  }
};

// Reads comma-separated hex bytes; sets *more when the text ends in a
// continuation backslash.
bool ReadHexBytes(ParseState& st, std::string_view s, std::string* out, bool* more) {
  *more = false;
  s = TrimLeft(s);
  while (!s.empty()) {
    if (s.front() == '\\') {
      if (!OnlyTrailer(s.substr(1))) return st.Fail("text after the continuation backslash");
      *more = true;
      return true;
    }
    if (s.front() == ';') return true;
    int hi = HexDigit(s.front());
    if (hi < 0) return st.Fail(std::string("bad hex digit '") + s.front() + "' in value data");
    s.remove_prefix(1);
    int value = hi;
    if (!s.empty() && HexDigit(s.front()) >= 0) {
      value = value * 16 + HexDigit(s.front());
      s.remove_prefix(1);
    }
    if (!s.empty() && HexDigit(s.front()) >= 0) return st.Fail("a hex byte has more than two digits");
    out->push_back(static_cast<char>(value));
    s = TrimLeft(s);
    if (s.empty() || s.front() == ';') return true;
    if (s.front() == '\\') continue;
    if (s.front() != ',') return st.Fail("expected ',' between hex bytes");
    s = TrimLeft(s.substr(1));
  }
  return true;
}

bool IsTextType(std::uint32_t type) { return type == 1 || type == 2 || type == 7; }

// Ends a value: converts a UTF-16 text of a version 5 file to 8 bits and
// stores it in the current key.
bool FinishValue(ParseState& st) {
  Value& v = st.pending;
  if (st.unicode && IsTextType(v.type)) {
    if (v.data.size() % 2 != 0) {
      st.lineNumber = st.pendingLine;
      return st.Fail("UTF-16 text data has an odd number of bytes");
    }
    std::string narrow;
    std::uint16_t bad = 0;
    std::size_t offset = 0;
    if (!DecodeUtf16(v.data, &narrow, &bad, &offset)) {
      st.lineNumber = st.pendingLine;
      return st.Fail("character " + CodeUnitName(bad) + " has no 8-bit (Windows-1252) form");
    }
    v.data = std::move(narrow);
  }
  Document::SetValue(*st.current, v.name, v.type, std::move(v.data));
  v = Value();
  st.continuing = false;
  return true;
}

bool ParseSection(ParseState& st, std::string_view line) {
  std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return st.Fail("a key line has no closing ']'");
  if (!OnlyTrailer(line.substr(close + 1))) return st.Fail("text after the key's closing ']'");
  std::string_view name = line.substr(1, close - 1);
  if (!name.empty() && name.front() == '-')
    return st.Fail("key deletions ([-...]) do not belong in a stored registry file");
  std::string_view root = name.substr(0, name.find('\\'));
  if (!EqualsIgnoreCase(root, kRootName))
    return st.Fail("key outside HKEY_LOCAL_MACHINE: [" + std::string(name) + "]");
  std::string_view rest = name.substr(root.size());
  if (!rest.empty()) rest.remove_prefix(1);  // the backslash after the root
  std::string path, why;
  if (!NormalizeKeyPath(rest, &path, &why)) return st.Fail(why);
  st.current = &st.doc->AddKey(path);
  return true;
}

bool ParseValue(ParseState& st, std::string_view line) {
  if (st.current == nullptr) return st.Fail("a value before the first [key] line");
  Value& v = st.pending;
  v = Value();
  std::string_view s = line;
  if (s.front() == '@') {
    s.remove_prefix(1);
  } else {
    s.remove_prefix(1);
    if (!ReadQuoted(&s, &v.name)) return st.Fail("a value name has no closing '\"'");
  }
  s = TrimLeft(s);
  if (s.empty() || s.front() != '=') return st.Fail("expected '=' after the value name");
  s = TrimLeft(s.substr(1));

  st.pendingLine = st.lineNumber;
  if (!s.empty() && s.front() == '"') {
    s.remove_prefix(1);
    std::string text;
    if (!ReadQuoted(&s, &text)) return st.Fail("a text value has no closing '\"'");
    if (!OnlyTrailer(s)) return st.Fail("text after the closing '\"' of a value");
    v.type = kTypeSz;
    v.data = std::move(text);
    // A quoted text is stored with its terminating NUL, as REG_SZ is. In a
    // version 5 file the text has already been narrowed.
    v.data.push_back('\0');
    Document::SetValue(*st.current, v.name, v.type, std::move(v.data));
    v = Value();
    return true;
  }
  if (s.substr(0, 1) == "-")
    return st.Fail("value deletions (=-) do not belong in a stored registry file");
  if (s.size() >= 6 && EqualsIgnoreCase(s.substr(0, 6), "dword:")) {
    s.remove_prefix(6);
    std::uint32_t number = 0;
    int digits = 0;
    while (!s.empty() && HexDigit(s.front()) >= 0) {
      number = number * 16 + static_cast<std::uint32_t>(HexDigit(s.front()));
      s.remove_prefix(1);
      if (++digits > 8) return st.Fail("a dword has more than 8 hex digits");
    }
    if (digits == 0 || !OnlyTrailer(s)) return st.Fail("a dword needs 1 to 8 hex digits");
    v.type = kTypeDword;
    v.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) v.data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    Document::SetValue(*st.current, v.name, v.type, std::move(v.data));
    v = Value();
    return true;
  }
  if (s.size() >= 4 && EqualsIgnoreCase(s.substr(0, 4), "hex:")) {
    v.type = kTypeBinary;
    s.remove_prefix(4);
  } else if (s.size() >= 4 && EqualsIgnoreCase(s.substr(0, 4), "hex(")) {
    s.remove_prefix(4);
    std::uint32_t type = 0;
    int digits = 0;
    while (!s.empty() && HexDigit(s.front()) >= 0) {
      type = type * 16 + static_cast<std::uint32_t>(HexDigit(s.front()));
      s.remove_prefix(1);
      if (++digits > 8) return st.Fail("a hex(type) has more than 8 hex digits");
    }
    if (digits == 0 || s.substr(0, 2) != "):") return st.Fail("expected hex(type): with a hex type");
    s.remove_prefix(2);
    v.type = type;
  } else {
    return st.Fail("unknown value data; expected \"text\", dword:, hex: or hex(type):");
  }
  bool more = false;
  if (!ReadHexBytes(st, s, &v.data, &more)) return false;
  if (more) {
    st.continuing = true;
    return true;
  }
  return FinishValue(st);
}

bool ParseLine(ParseState& st, std::string_view raw) {
  std::string_view line = TrimRight(TrimLeft(raw));
  if (st.continuing) {
    if (line.empty()) return st.Fail("hex data continues into a blank line");
    if (line.front() == ';') return true;
    bool more = false;
    if (!ReadHexBytes(st, line, &st.pending.data, &more)) return false;
    return more ? true : FinishValue(st);
  }
  if (line.empty() || line.front() == ';' || line.front() == '#') return true;
  if (line.front() == '[') return ParseSection(st, line);
  if (line.front() == '"' || line.front() == '@') return ParseValue(st, line);
  return st.Fail("expected a [key] line or a \"name\"=value line");
}

void AppendEscaped(std::string* out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\': out->append("\\\\"); break;
      case '"': out->append("\\\""); break;
      // Only names can hold these here (data with them is written as hex);
      // written as regedit exports them, so the line stays one line.
      case '\r': out->append("\\r"); break;
      case '\n': out->append("\\n"); break;
      default: out->push_back(c);
    }
  }
}

// True when a REG_SZ can be written in the quoted form and read back to the
// same bytes by regedit as well as by this parser: printable 7-bit text with
// exactly one NUL, at the end. 8-bit bytes go to hex too, which keeps the
// file 7-bit clean whatever an editor assumes about its encoding.
bool QuotedFormFits(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

std::string NamePart(const Value& value) {
  if (value.name.empty()) return "@=";
  std::string out = "\"";
  AppendEscaped(&out, value.name);
  out.append("\"=");
  return out;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool NormalizeKeyPath(std::string_view path, std::string* out, std::string* error) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  out->clear();
  if (path.empty()) return true;
  if (path.front() == '\\') {
    *error = "a key path must not begin with '\\'";
    return false;
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part.empty()) {
      *error = "a key path has an empty name between two '\\'";
      return false;
    }
    if (part.size() > kMaxKeyComponent) {
      *error = "a key name is longer than 255 characters";
      return false;
    }
    for (char c : part) {
      if (static_cast<unsigned char>(c) < 0x20) {
        *error = "a key name holds a control character";
        return false;
      }
    }
    start = end + 1;
  }
  out->assign(path.data(), path.size());
  return true;
}

Key* Document::FindKey(std::string_view path) {
  for (Key& key : keys_)
    if (EqualsIgnoreCase(key.path, path)) return &key;
  return nullptr;
}

const Key* Document::FindKey(std::string_view path) const {
  return const_cast<Document*>(this)->FindKey(path);
}

bool Document::KeyExists(std::string_view path) const {
  if (path.empty()) return true;
  for (const Key& key : keys_) {
    if (key.path.size() < path.size()) continue;
    if (!EqualsIgnoreCase(std::string_view(key.path).substr(0, path.size()), path)) continue;
    if (key.path.size() == path.size() || key.path[path.size()] == '\\') return true;
  }
  return false;
}

Key& Document::AddKey(std::string_view path) {
  if (Key* found = FindKey(path)) return *found;
  // Parents first, so that the file lists a key before its subkeys, as
  // regedit exports them. The root gets no section of its own.
  std::size_t cut = path.rfind('\\');
  if (cut != std::string_view::npos) AddKey(path.substr(0, cut));
  keys_.push_back(Key{std::string(path), {}});
  return keys_.back();
}

namespace {

// The length of the component of key that comes directly below path, or 0
// when key does not lie below path.
std::size_t ChildLength(std::string_view key, std::string_view path) {
  std::size_t start = 0;
  if (!path.empty()) {
    if (key.size() <= path.size() + 1 || key[path.size()] != '\\') return 0;
    if (!EqualsIgnoreCase(key.substr(0, path.size()), path)) return 0;
    start = path.size() + 1;
  } else if (key.empty()) {
    return 0;
  }
  std::size_t end = key.find('\\', start);
  return (end == std::string_view::npos ? key.size() : end) - start;
}

}  // namespace

bool Document::HasSubkeys(std::string_view path) const {
  for (const Key& key : keys_)
    if (ChildLength(key.path, path) != 0) return true;
  return false;
}

std::vector<std::string> Document::SubkeyNames(std::string_view path) const {
  std::vector<std::string> names;
  const std::size_t start = path.empty() ? 0 : path.size() + 1;
  for (const Key& key : keys_) {
    const std::size_t length = ChildLength(key.path, path);
    if (length == 0) continue;
    std::string_view name = std::string_view(key.path).substr(start, length);
    bool seen = false;
    for (const std::string& known : names) seen = seen || EqualsIgnoreCase(known, name);
    if (!seen) names.emplace_back(name);
  }
  return names;
}

void Document::RemoveKey(std::string_view path) {
  if (path.empty()) return;
  std::size_t cut = path.rfind('\\');
  if (cut != std::string_view::npos) AddKey(path.substr(0, cut));
  for (auto it = keys_.begin(); it != keys_.end(); ++it) {
    if (EqualsIgnoreCase(it->path, path)) {
      keys_.erase(it);
      return;
    }
  }
}

bool Document::RemoveValue(Key& key, std::string_view name) {
  for (auto it = key.values.begin(); it != key.values.end(); ++it) {
    if (EqualsIgnoreCase(it->name, name)) {
      key.values.erase(it);
      return true;
    }
  }
  return false;
}

const Value* Document::FindValue(const Key& key, std::string_view name) {
  for (const Value& value : key.values)
    if (EqualsIgnoreCase(value.name, name)) return &value;
  return nullptr;
}

void Document::SetValue(Key& key, std::string_view name, std::uint32_t type, std::string data) {
  for (Value& value : key.values) {
    if (EqualsIgnoreCase(value.name, name)) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  key.values.push_back(Value{std::string(name), type, std::move(data)});
}

bool Parse(std::string_view text, Document* doc, std::string* error) {
  *doc = Document();
  ParseState st;
  st.doc = doc;

  std::string decoded;
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    std::uint16_t bad = 0;
    std::size_t offset = 0;
    if (text.size() % 2 != 0) {
      *error = "a UTF-16 file has an odd number of bytes";
      return false;
    }
    if (!DecodeUtf16(text.substr(2), &decoded, &bad, &offset)) {
      int line = 1;
      for (std::size_t i = 0; i < offset; ++i) line += decoded[i] == '\n';
      *error = LineMessage(line, "character " + CodeUnitName(bad) +
                                     " has no 8-bit (Windows-1252) form");
      return false;
    }
    text = decoded;
    st.unicode = true;
  }

  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;

  std::size_t pos = 0;
  bool headerSeen = false;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (end == text.size() && line.empty()) break;  // after the last line end
    ++st.lineNumber;
    if (!headerSeen) {
      std::string_view header = TrimRight(line);
      const char* want = st.unicode ? kHeader5 : kHeader4;
      if (header != want) {
        if (!st.unicode && header == kHeader5)
          *error = LineMessage(1, std::string("a \"") + kHeader5 +
                                      "\" file must be UTF-16 with a byte order mark, "
                                      "as regedit writes it");
        else
          *error = LineMessage(1, std::string("expected \"") + want + "\"");
        return false;
      }
      headerSeen = true;
    } else if (!ParseLine(st, line)) {
      *error = st.error;
      return false;
    }
    if (end == text.size()) break;
    pos = end + 1;
  }
  if (st.continuing) {
    *error = LineMessage(st.lineNumber, "hex data continues past the end of the file");
    return false;
  }
  return true;
}

std::string FormatValueData(const Value& value, std::size_t lineLengthSoFar) {
  char buf[32];
  if (value.type == kTypeSz && QuotedFormFits(value.data)) {
    std::string out = "\"";
    AppendEscaped(&out, std::string_view(value.data).substr(0, value.data.size() - 1));
    out.push_back('"');
    return out;
  }
  if (value.type == kTypeDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(number));
    return buf;
  }
  std::string out;
  if (value.type == kTypeBinary) {
    out = "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
    out = buf;
  }
  // Wrapped as regedit wraps it: after a comma, once the line has reached
  // 77 characters, a backslash ends it and the next starts with two spaces.
  std::size_t lineLength = lineLengthSoFar + out.size();
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(value.data[i]));
    out.append(buf);
    if (i + 1 == value.data.size()) break;
    out.push_back(',');
    lineLength += 3;
    if (lineLength >= kMaxHexLine) {
      out.append("\\\r\n  ");
      lineLength = 2;
    }
  }
  return out;
}

std::string Write(const Document& doc) {
  std::string out = kHeader4;
  out.append("\r\n");
  for (const Key& key : doc.keys()) {
    out.append("\r\n[");
    out.append(kRootName);
    if (!key.path.empty()) {
      out.push_back('\\');
      out.append(key.path);
    }
    out.append("]\r\n");
    for (const Value& value : key.values) {
      std::string name = NamePart(value);
      out.append(name);
      out.append(FormatValueData(value, name.size()));
      out.append("\r\n");
    }
  }
  out.append("\r\n");
  return out;
}

}  // namespace regedit
}  // namespace platform
