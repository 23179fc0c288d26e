// pellumin_regfile: sets, reads and shows values in the POSIX registry file
// through the platform layer, for scripts and for checking files by hand.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

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
    "  dump                        print the whole file as this system writes it\n"
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
        char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
        char* end = nullptr;
        long value = std::strtol(hex, &end, 16);
        if (end != hex + 2) return false;
        out->push_back(static_cast<char>(value));
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
    std::uint32_t value = static_cast<std::uint32_t>(number);
    data.assign(reinterpret_cast<const char*>(&value), 4);
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
    std::uint32_t number;
    std::memcpy(&number, data.data(), 4);
    std::printf("dword %u\n", static_cast<unsigned>(number));
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
  int i = 1;
  for (int j = 1; j < argc; ++j) {
    if (std::strcmp(argv[j], "--help") == 0 || std::strcmp(argv[j], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // The root the commands work on: the --file one, else the default
  // environment's (an empty --file is no file given).
  std::unique_ptr<platform::Registry> fileRegistry;
  platform::Registry* registry = platform::Env::Default()->registry();
  std::string dumpFile;
  bool named = false;
  if (!platform::internal::DefaultRegistryFile(&dumpFile, &named) || !named) dumpFile.clear();
  if (i + 1 < argc && std::strcmp(argv[i], "--file") == 0) {
    if (argv[i + 1][0] != '\0') {
      dumpFile = argv[i + 1];
      fileRegistry = platform::NewFileRegistry(dumpFile);
      registry = fileRegistry.get();
    }
    i += 2;
  }
  if (i >= argc) return Usage("no command given");
  std::string command = argv[i++];
  int left = argc - i;
  if (command == "create" && left == 1) return Create(registry, argv[i]);
  if (command == "set" && left == 4) return Set(registry, argv[i], argv[i + 1], argv[i + 2], argv[i + 3]);
  if (command == "get" && left == 2) return Get(registry, argv[i], argv[i + 1]);
  if (command == "dump" && left == 0) return Dump(dumpFile);
  return Usage(("bad command or arguments: " + command).c_str());
}
