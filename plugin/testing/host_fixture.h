// host_fixture.h -- what plug-in tests need to act as a host: a settings
// store written by hand in REGEDIT4 form, a compiled control list, and a
// connected socket pair with a HostConnection around one end.
#ifndef PELLUMIN_PLUGIN_TESTING_HOST_FIXTURE_H_
#define PELLUMIN_PLUGIN_TESTING_HOST_FIXTURE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "env.h"
#include "net.h"
#include "registry_env.h"
#include "tarnwick.h"
#include "testing/list_builder.h"

namespace tarnwick {
namespace testkit {

// A folder below the system's temporary folder, removed when the object
// goes: the engine tests' own.
using corvane::testkit::TempDir;

// Value lines of a REGEDIT4 section, as an administrator writes them.
std::string Dword(const std::string& name, std::uint32_t value);
// A quoted string value; backslashes and quotes are escaped.
std::string Text(const std::string& name, const std::string& value);
// A string value as hex(1): bytes, for text with line breaks.
std::string HexText(const std::string& name, const std::string& value);

// HKEY_LOCAL_MACHINE for the test program. On POSIX a REGEDIT4 file, which
// env() reads through a registry bound to it (and which TARNWICK_HKLM names,
// set once before any thread starts, for the plug-in loaded as a host loads
// it); each Import appends the given sections. Key paths are relative to
// HKEY_LOCAL_MACHINE.
class Registry {
 public:
  static Registry& Get();
  // Imports "[HKEY_LOCAL_MACHINE\<path>]" followed by lines, for each
  // section.
  void Import(const std::vector<std::pair<std::string, std::vector<std::string>>>& sections);
  // A key path no earlier test has used.
  std::string FreshKeyPath(const std::string& hint);
  // An environment whose registry holds what Import wrote: on POSIX a
  // registry root bound to the file, on Windows the real registry.
  platform::Env* env() { return &env_; }

 private:
  Registry();
  TempDir dir_;
  std::string file_;
  std::unique_ptr<platform::Registry> fileRegistry_;
  RegistryEnv env_;
  int next_ = 0;
};

// One control list record for key, which is digested exactly as given.
struct ListEntry {
  std::string key;       // upper-case key text, e.g. "BOTH.EXAMPLE"
  std::vector<int> categories;
};
// The bytes of a list file (count, then records in list order).
std::string ControlListBytes(const std::vector<ListEntry>& entries);

// A connected loopback TCP pair. host() is the host's HostConnection with
// the plug-in's end as clientSocket; ReadAll reads the client's end until
// the plug-in's end is closed.
class ClientPair {
 public:
  explicit ClientPair(const std::string& clientText = "10.1.2.3");
  HostConnection* host() { return connection_.get(); }
  // Closes the plug-in's end (so ReadAll sees the end) and returns all the
  // client received.
  std::string CloseAndReadAll();
  // Reads exactly length bytes from the client's end (fewer if it ends).
  std::string Read(std::size_t length);
  // Closes the client's end, so that sends to it fail.
  void CloseClient() { client_.Close(); }
  // Closes the plug-in's end; clientSocket then names no socket.
  void ClosePluginEnd() { server_.Close(); }

 private:
  platform::Socket server_;
  platform::Socket client_;
  std::unique_ptr<HostConnection> connection_;
};

}  // namespace testkit
}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_TESTING_HOST_FIXTURE_H_
