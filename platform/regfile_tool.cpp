// pellumin_regfile: sets, reads and shows values in the POSIX registry file
// through the platform layer, for scripts and for checking files by hand.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/args.h"
#include "base/ascii.h"
#include "base/endian.h"
#include "env.h"
#include "platform.h"
#include "platform_internal.h"
#include "regedit_format.h"

namespace {

const char kUsage[] =
    "usage: pellumin_regfile [--file PATH] COMMAND ...\n"
    "\n"
    "Works on the file that stands for HKEY_LOCAL_MACHINE: PATH, else\n"
    "$TARNWICK_HKLM, else $XDG_CONFIG_HOME/tarnwick/hklm.reg, else\n"
    "~/.config/tarnwick/hklm.reg. KEY is a path below HKEY_LOCAL_MACHINE.\n"
    "\n"
    "  create KEY                  create the key (and its parents)\n"
    "  set KEY NAME sz TEXT        set a REG_SZ; TEXT may use \\r \\n \\t \\\\ \\xHH\n"
    "  set KEY NAME dword NUMBER   set a REG_DWORD (decimal or 0x hex)\n"
    "  get KEY NAME                print a value: sz TEXT (escaped as above),\n"
    "                              dword NUMBER, or hex(TYPE) BYTES\n"
    "  dump                        print the whole file as the registry layer writes it\n"
    "  --help                      show this text\n"
    "\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 bad usage.\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "pellumin_regfile: %s\n\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

const char* StatusName(platform::RegStatus status) {
  switch (status) {
    case platform::RegStatus::kOk: return "ok";
    case platform::RegStatus::kNotFound: return "not found";
    case platform::RegStatus::kAccessDenied: return "access denied";
    case platform::RegStatus::kMoreData: return "more data";
    case platform::RegStatus::kBadFormat: return "bad format";
    case platform::RegStatus::kIoError: return "I/O error";
    case platform::RegStatus::kInvalid: return "invalid argument";
  }
  return "unknown";
}

int Failed(platform::Registry* registry, const char* what, platform::RegStatus status) {
  std::fprintf(stderr, "pellumin_regfile: %s: %s", what, StatusName(status));
  if (*registry->LastError() != '\0') std::fprintf(stderr, " (%s)", registry->LastError());
  std::fputc('\n', stderr);
  return 1;
}

bool Unescape(const char* in, std::string* out) {
  for (const char* p = in; *p != '\0'; ++p) {
    if (*p != '\\') {
      out->push_back(*p);
      continue;
    }
    ++p;
    switch (*p) {
      case 'r': out->push_back('\r'); break;
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case '\\': out->push_back('\\'); break;
      case 'x': {
        // Exactly two hexadecimal digits; a sign or a space is a bad
        // escape, not part of a number.
        const int high = base::AsciiHexValue(p[1]);
        const int low = high < 0 ? -1 : base::AsciiHexValue(p[2]);
        if (low < 0) return false;
        out->push_back(static_cast<char>(high * 16 + low));
        p += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

std::string Escape(const std::string& text) {
  std::string out;
  char buf[8];
  for (unsigned char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int Create(platform::Registry* registry, const char* path) {
  std::unique_ptr<platform::RegistryKey> key;
  platform::RegStatus status = registry->CreateKey(path, "", &key);
  if (status != platform::RegStatus::kOk) return Failed(registry, "create", status);
  return 0;
}

int Set(platform::Registry* registry, const char* path, const char* name, const char* kind, const char* text) {
  std::string data;
  std::uint32_t type;
  if (std::strcmp(kind, "sz") == 0) {
    if (!Unescape(text, &data)) return Usage("bad escape in TEXT");
    data.push_back('\0');
    type = platform::kRegSz;
  } else if (std::strcmp(kind, "dword") == 0) {
    char* end = nullptr;
    unsigned long long number = std::strtoull(text, &end, 0);
    if (*text == '\0' || *end != '\0' || number > 0xFFFFFFFFull) return Usage("bad NUMBER");
    char bytes[4];
    base::StoreLe32(bytes, static_cast<std::uint32_t>(number));
    data.assign(bytes, 4);
    type = platform::kRegDword;
  } else {
    return Usage("the kind must be sz or dword");
  }
  std::unique_ptr<platform::RegistryKey> key;
  platform::RegStatus status = registry->CreateKey(path, "", &key);
  if (status != platform::RegStatus::kOk) return Failed(registry, "create", status);
  status = key->SetValue(name, type, data.data(), static_cast<std::uint32_t>(data.size()));
  return status == platform::RegStatus::kOk ? 0 : Failed(registry, "set", status);
}

int Get(platform::Registry* registry, const char* path, const char* name) {
  std::unique_ptr<platform::RegistryKey> key;
  platform::RegStatus status = registry->OpenKey(path, platform::RegAccess::kRead, &key);
  if (status != platform::RegStatus::kOk) return Failed(registry, "open", status);
  std::uint32_t type = 0, size = 0;
  status = key->QueryValue(name, &type, nullptr, &size);
  std::string data(size, '\0');
  if (status == platform::RegStatus::kOk) status = key->QueryValue(name, &type, &data[0], &size);
  key.reset();
  if (status != platform::RegStatus::kOk) return Failed(registry, "get", status);
  data.resize(size);
  if (type == platform::kRegSz && !data.empty() && data.back() == '\0') {
    data.pop_back();
    std::printf("sz %s\n", Escape(data).c_str());
  } else if (type == platform::kRegDword && data.size() == 4) {
    std::printf("dword %u\n", static_cast<unsigned>(base::LoadLe32(data.data())));
  } else {
    platform::regedit::Value value{name, type, data};
    std::string text = platform::regedit::FormatValueData(value, 0);
    std::string flat;
    for (char c : text)
      if (c != '\\' && c != '\r' && c != '\n' && c != ' ') flat.push_back(c);
    std::size_t colon = flat.find(':');
    std::printf("%s %s\n", flat.substr(0, colon).c_str(), flat.substr(colon + 1).c_str());
  }
  return 0;
}

// file: --file, else the one TARNWICK_HKLM names ("" when neither).
int Dump(const std::string& dumpFile) {
  if (dumpFile.empty()) return Usage("dump needs --file or TARNWICK_HKLM");
  const char* file = dumpFile.c_str();
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pellumin_regfile: cannot read %s\n", file);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  platform::regedit::Document doc;
  std::string why;
  if (!platform::regedit::Parse(text.str(), &doc, &why)) {
    std::fprintf(stderr, "pellumin_regfile: %s: %s\n", file, why.c_str());
    return 1;
  }
  std::string out = platform::regedit::Write(doc);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // "--help" anywhere, even where it would be a value, shows the usage.
  if (base::AnyArgIs(argc, argv, {"--help", "-h"})) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  base::ArgCursor args(argc, argv);
  if (!args.Next()) return Usage("no command given");
  // The root the commands work on: the --file one (only in front of the
  // command), else the default environment's; an empty --file is no file
  // given.
  std::unique_ptr<platform::Registry> fileRegistry;
  platform::Registry* registry = platform::Env::Default()->registry();
  std::string dumpFile;
  bool named = false;
  if (!platform::internal::DefaultRegistryFile(&dumpFile, &named) || !named) dumpFile.clear();
  if (args.Arg() == "--file") {
    std::string path, error;
    if (args.TakeValue(&path, &error)) {
      if (!path.empty()) {
        dumpFile = path;
        fileRegistry = platform::NewFileRegistry(dumpFile);
        registry = fileRegistry.get();
      }
      if (!args.Next()) return Usage("no command given");
    }
  }
  const std::string command = args.Arg();
  const std::vector<std::string> operands = args.Rest();
  const std::size_t left = operands.size();
  if (command == "create" && left == 1) return Create(registry, operands[0].c_str());
  if (command == "set" && left == 4) {
    return Set(registry, operands[0].c_str(), operands[1].c_str(), operands[2].c_str(),
               operands[3].c_str());
  }
  if (command == "get" && left == 2) return Get(registry, operands[0].c_str(), operands[1].c_str());
  if (command == "dump" && left == 0) return Dump(dumpFile);
  return Usage(("bad command or arguments: " + command).c_str());
}
