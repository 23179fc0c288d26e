#include "regedit_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace regedit {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

// Encodes 8-bit text as a regedit version 5 export: byte order mark, then
// UTF-16LE. Bytes 0x80 and up are taken as Latin-1 except 0x80 (the euro).
std::string Utf16File(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (unsigned char c : text) {
    unsigned unit = c == 0x80 ? 0x20AC : c;
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

struct ParseCase {
  const char* label;
  std::string text;
  const char* key;
  const char* value;
  std::uint32_t type;
  std::string data;
};

TEST(RegeditParse, ReadsEachValueForm) {
  const std::vector<ParseCase> cases = {
      {"quoted text with escapes",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"a\"=\"x\\\\y\\\"z\"\r\n", "S", "a", 1,
       std::string("x\\y\"z\0", 6)},
      {"LF line ends", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"v\"\n", "S", "a", 1,
       std::string("v\0", 2)},
      {"dword", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"d\"=dword:0000000a\r\n", "S", "d", 4,
       Bytes({0x0a, 0, 0, 0})},
      {"dword all bits", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"d\"=dword:FFFFFFFF\r\n", "S",
       "d", 4, Bytes({0xff, 0xff, 0xff, 0xff})},
      {"hex(1) text with CR LF",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"t\"=hex(1):41,0d,0a,42,00\r\n", "S", "t", 1,
       std::string("A\r\nB\0", 5)},
      {"continuation lines",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"b\"=hex:01,02,\\\r\n  03,\\\n  04\r\n", "S", "b",
       3, Bytes({1, 2, 3, 4})},
      {"default value", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n@=\"v\"\r\n", "S", "", 1,
       std::string("v\0", 2)},
      {"key and value names in another case",
       "REGEDIT4\r\n[hkey_local_machine\\Software\\X]\r\n\"Name\"=dword:00000001\r\n",
       "SOFTWARE\\x", "NAME", 4, Bytes({1, 0, 0, 0})},
      {"unknown type kept", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"m\"=hex(7):61,00,00,00\r\n",
       "S", "m", 7, Bytes({0x61, 0, 0, 0})},
      {"type above 9", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"q\"=hex(b):01,02\r\n", "S", "q",
       11, Bytes({1, 2})},
      {"CR and LF escapes as Wine exports them",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"t\"=\"a\\r\\nb\"\r\n", "S", "t", 1,
       std::string("a\r\nb\0", 5)},
      {"other backslashes kept", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"p\"=\"C:\\Windows\"\r\n",
       "S", "p", 1, std::string("C:\\Windows\0", 11)},
      {"comments and blank lines",
       "REGEDIT4\r\n; note\r\n\r\n[HKEY_LOCAL_MACHINE\\S] ; key\r\n# more\r\n\"a\"=\"v\" ; c\r\n",
       "S", "a", 1, std::string("v\0", 2)},
      {"later duplicate wins, sections merge",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"a\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\T]\r\n"
       "[HKEY_LOCAL_MACHINE\\s]\r\n\"A\"=\"2\"\r\n",
       "S", "a", 1, std::string("2\0", 2)},
      {"empty hex data", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"e\"=hex(1):\r\n", "S", "e", 1,
       ""},
      {"version 5 UTF-16 text",
       Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n"
                 "\"t\"=\"\x80 caf\xe9\"\r\n"),
       "S", "t", 1, std::string("\x80 caf\xe9\0", 7)},
      {"version 5 hex(1) is UTF-16",
       Utf16File("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\S]\r\n"
                 "\"t\"=hex(1):41,00,0d,00,0a,00,ac,20,00,00\r\n"),
       "S", "t", 1, std::string("A\r\n\x80\0", 5)},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.label);
    Document doc;
    std::string error;
    ASSERT_TRUE(Parse(c.text, &doc, &error)) << error;
    const Key* key = doc.FindKey(c.key);
    ASSERT_NE(key, nullptr);
    const Value* value = Document::FindValue(*key, c.value);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
  }
}

TEST(RegeditParse, KeepsFirstSpellingAndImpliedParents) {
  Document doc;
  std::string error;
  ASSERT_TRUE(Parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product]\r\n"
                    "\"Mixed\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR\\PRODUCT]\r\n"
                    "\"MIXED\"=\"2\"\r\n",
                    &doc, &error))
      << error;
  const Key* key = doc.FindKey("software\\vendor\\product");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->path, "Software\\Vendor\\Product");
  ASSERT_EQ(key->values.size(), 1u);
  EXPECT_EQ(key->values[0].name, "Mixed");
  EXPECT_TRUE(doc.KeyExists("SOFTWARE"));
  EXPECT_TRUE(doc.KeyExists("software\\vendor"));
  EXPECT_FALSE(doc.KeyExists("Software\\Vend"));
  EXPECT_FALSE(doc.KeyExists("Software\\Vendor\\Product\\Sub"));
}

TEST(RegeditParse, EmptyOrBlankFileIsAnEmptyRegistry) {
  for (const char* text : {"", "\r\n", "  \n\n"}) {
    Document doc;
    std::string error;
    EXPECT_TRUE(Parse(text, &doc, &error)) << error;
    EXPECT_TRUE(doc.keys().empty());
  }
}

TEST(RegeditParse, RefusesMalformedFilesNamingTheLine) {
  struct Bad {
    std::string text;
    const char* message;
  };
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n";
  const std::vector<Bad> cases = {
      {"REGEDIT5\r\n", "line 1: expected \"REGEDIT4\""},
      {"[HKEY_LOCAL_MACHINE\\S]\r\n", "line 1: expected \"REGEDIT4\""},
      {"Windows Registry Editor Version 5.00\r\n", "line 1: a \"Windows Registry Editor"},
      {"REGEDIT4\r\n\"a\"=\"v\"\r\n", "line 2: a value before the first [key]"},
      {head + "\"a=\"v\r\n", "line 4: "},
      {head + "\"a\"=\"v\r\n", "line 4: a text value has no closing"},
      {head + "\"a\"\"v\"\r\n", "line 4: expected '='"},
      {head + "\"a\"=hex:zz\r\n", "line 4: bad hex digit 'z'"},
      {head + "\"a\"=hex:0g\r\n", "line 4: expected ',' between hex bytes"},
      {head + "\"a\"=hex:123\r\n", "line 4: a hex byte has more than two digits"},
      {head + "\"a\"=dword:123456789\r\n", "line 4: a dword has more than 8"},
      {head + "\"a\"=dword:\r\n", "line 4: a dword needs 1 to 8"},
      {head + "\"a\"=str:\"x\"\r\n", "line 4: unknown value data"},
      {head + "\"a\"=-\r\n", "line 4: value deletions"},
      {head + "\"a\"=hex:01,\\\r\n", "line 4: hex data continues past the end"},
      {head + "\"a\"=hex:01,\\\r\n\r\n", "line 5: hex data continues into a blank line"},
      {head + "[-HKEY_LOCAL_MACHINE\\S]\r\n", "line 4: key deletions"},
      {head + "[HKEY_CURRENT_USER\\S]\r\n", "line 4: key outside HKEY_LOCAL_MACHINE"},
      {head + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "line 4: a key path has an empty name"},
      {head + "[HKEY_LOCAL_MACHINE\\A\r\n", "line 4: a key line has no closing ']'"},
      {head + "junk\r\n", "line 4: expected a [key] line"},
      {Utf16File("Windows Registry Editor Version 5.00\r\n") + std::string("\x3a\x26", 2),
       "line 2: character U+263A has no 8-bit"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.text);
    Document doc;
    std::string error;
    EXPECT_FALSE(Parse(c.text, &doc, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << "message: " << error;
  }
}

Document SampleDocument() {
  Document doc;
  Key& key = doc.AddKey("SOFTWARE\\Pellumin\\Filter");
  Document::SetValue(key, "ControlFile", 1, std::string("C:\\Windows\\System32\\qxcontrol\0", 30));
  Document::SetValue(key, "ErrorMsg", 1,
                     std::string("<BODY bgcolor=\"#FF0000\">\r\n<p>restricted</p>\r\n</BODY>\0", 51));
  Document::SetValue(key, "Eight bit", 1, std::string("caf\xe9 \x80\x9d\xff\0", 9));
  Document::SetValue(key, "No terminator", 1, "abc");
  Document::SetValue(key, "Inner NUL", 1, std::string("a\0b\0", 4));
  Document::SetValue(key, "Quote \"and\" \\slash", 4, Bytes({1, 0, 0, 0}));
  Document::SetValue(key, "Short dword", 4, Bytes({1, 2, 3}));
  Document::SetValue(key, "", 1, std::string("default\0", 8));
  std::string blob;
  for (int i = 0; i < 300; ++i) blob.push_back(static_cast<char>(i * 7));
  Document::SetValue(key, "Blob", 3, blob);
  Document::SetValue(key, "Expand", 2, std::string("%PATH%\0", 7));
  Document::SetValue(key, "Empty", 1, "");
  Key& deny = doc.AddKey("SOFTWARE\\Pellumin\\Filter\\Deny");
  Document::SetValue(deny, "Hate SpeechState", 4, Bytes({0xff, 0xff, 0xff, 0xff}));
  return doc;
}

TEST(RegeditWrite, RoundTripsEveryValueByteForByte) {
  Document original = SampleDocument();
  std::string text = Write(original);
  Document back;
  std::string error;
  ASSERT_TRUE(Parse(text, &back, &error)) << error << "\n" << text;
  ASSERT_EQ(back.keys().size(), original.keys().size());
  for (std::size_t k = 0; k < original.keys().size(); ++k) {
    const Key& want = original.keys()[k];
    const Key& got = back.keys()[k];
    EXPECT_EQ(got.path, want.path);
    ASSERT_EQ(got.values.size(), want.values.size());
    for (std::size_t v = 0; v < want.values.size(); ++v) {
      SCOPED_TRACE(want.values[v].name);
      EXPECT_EQ(got.values[v].name, want.values[v].name);
      EXPECT_EQ(got.values[v].type, want.values[v].type);
      EXPECT_EQ(got.values[v].data, want.values[v].data);
    }
  }
  // Writing what was read gives the same text again.
  EXPECT_EQ(Write(back), text);
}

TEST(RegeditWrite, WritesRegeditsLayout) {
  std::string text = Write(SampleDocument());
  EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    std::string line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    for (unsigned char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;
    if (line.size() >= 2 && line[0] == ' ') {
      EXPECT_EQ(line.substr(0, 2), "  ");
    }
    start = end + 2;
  }
  // Plain text stays readable; control characters and 8-bit bytes go to
  // regedit's hex(1) form with the terminating 00.
  EXPECT_NE(text.find("\"ControlFile\"=\"C:\\\\Windows\\\\System32\\\\qxcontrol\"\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"ErrorMsg\"=hex(1):3c,42,4f,44,59"), std::string::npos);
  EXPECT_NE(text.find("\"Eight bit\"=hex(1):63,61,66,e9,20,80,9d,ff,00\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Quote \\\"and\\\" \\\\slash\"=dword:00000001\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Short dword\"=hex(4):01,02,03\r\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Hate SpeechState\"=dword:ffffffff\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Expand\"=hex(2):25,50,41,54,48,25,00\r\n"), std::string::npos);
}

TEST(RegeditWrite, WrapsLongHexLinesAsRegeditDoes) {
  Value value{"Blob", 3, std::string(40, '\x11')};
  std::string name = "\"Blob\"=";
  std::string data = FormatValueData(value, name.size());
  // regedit fills a line until it reaches 77 characters: "Blob" leaves room
  // for 22 bytes on the first line, then 25 a line.
  std::string first = name + data.substr(0, data.find("\r\n"));
  EXPECT_EQ(first, name + "hex:" + [] {
              std::string s;
              for (int i = 0; i < 22; ++i) s += "11,";
              return s;
            }() + "\\");
  EXPECT_EQ(data.substr(data.find("\r\n") + 2, 2), "  ");
}

TEST(RegeditKeyPath, NormalizesOrRefuses) {
  struct Case {
    std::string in;
    bool ok;
    const char* out;
  };
  const std::vector<Case> cases = {
      {"SOFTWARE\\X", true, "SOFTWARE\\X"},
      {"SOFTWARE\\X\\", true, "SOFTWARE\\X"},
      {"SOFTWARE\\X\\\\", true, "SOFTWARE\\X"},
      {"", true, ""},
      {"\\", true, ""},
      {"\\Deny", false, ""},
      {"A\\\\B", false, ""},
      {"A\nB", false, ""},
      {std::string(255, 'k'), true, nullptr},
      {std::string(256, 'k'), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string out, error;
    EXPECT_EQ(NormalizeKeyPath(c.in, &out, &error), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.out ? std::string(c.out) : c.in);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

// Subkeys are found through the sections below a key, also where a parent
// has no section of its own; removing a key keeps its parent.
TEST(RegeditDocument, ListsAndRemovesSubkeys) {
  Document doc;
  std::string error;
  ASSERT_TRUE(Parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B1]\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\a\\b2\\C]\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\b1\\D]\r\n"
                    "\"v\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\AB]\r\n\r\n",
                    &doc, &error))
      << error;
  struct Case {
    const char* path;
    bool hasSubkeys;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", true, {"A", "AB"}},   // "a" is A, spelt as first written
      {"A", true, {"B1", "b2"}},     // A has no section, only keys below it
      {"a\\B2", true, {"C"}},
      {"A\\B1\\D", false, {}},
      {"A\\B", false, {}},  // not a prefix of B1
      {"Missing", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(doc.HasSubkeys(c.path), c.hasSubkeys);
    EXPECT_EQ(doc.SubkeyNames(c.path), c.names);
  }
  doc.RemoveKey("a\\b2\\c");
  EXPECT_FALSE(doc.KeyExists("A\\b2\\C"));
  EXPECT_TRUE(doc.KeyExists("A\\b2")) << "the parent stays";
  EXPECT_NE(doc.FindKey("A\\b2"), nullptr) << "with a section of its own";
  Key* d = doc.FindKey("A\\B1\\D");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(Document::RemoveValue(*d, "V"));
  EXPECT_FALSE(Document::RemoveValue(*d, "v"));
  EXPECT_TRUE(d->values.empty());
}

}  // namespace
}  // namespace regedit
}  // namespace platform
