// The registry on POSIX: HKEY_LOCAL_MACHINE is one REGEDIT4 text file.
//
// Every open reads the file as it is now; a key handle keeps the values it
// saw then. Every change re-reads the file under an advisory lock on a file
// beside it ("<file>.lock", flock), applies the one change and replaces the
// whole file by a complete new copy (temporary file, fsync, rename), so a
// reader never sees half a file, two writers never lose each other's values,
// and a crash leaves the old file whole (the next write removes the
// temporary copy such a crash leaves). A file that does not parse is never
// written.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "document_registry.h"
#include "env.h"
#include "platform.h"
#include "platform_internal.h"
#include "regedit_format.h"

namespace platform {
namespace {

using internal::Fail;

RegStatus FromErrno(int error) {
  return (error == EACCES || error == EPERM || error == EROFS) ? RegStatus::kAccessDenied
                                                                : RegStatus::kIoError;
}

RegStatus IoFail(const std::string& what, const std::string& file, int error) {
  return Fail(FromErrno(error), file + ": " + what + ": " + std::strerror(error));
}

const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

// Reads the whole file. *missing tells a file that is not there from one
// that cannot be read.
RegStatus ReadFile(const std::string& file, std::string* text, bool* missing) {
  text->clear();
  *missing = false;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *missing = true;
      return RegStatus::kOk;
    }
    return IoFail("cannot open", file, errno);
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      close(fd);
      return IoFail("cannot read", file, error);
    }
    if (n == 0) break;
    text->append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return RegStatus::kOk;
}

RegStatus LoadDocument(const std::string& file, regedit::Document* doc, bool* missing) {
  std::string text;
  RegStatus status = ReadFile(file, &text, missing);
  if (status != RegStatus::kOk) return status;
  std::string why;
  if (!regedit::Parse(text, doc, &why)) return Fail(RegStatus::kBadFormat, file + ": " + why);
  return RegStatus::kOk;
}

std::string FolderOf(const std::string& file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

RegStatus MakeFolders(const std::string& file) {
  std::string folder = FolderOf(file);
  for (std::size_t i = 1; i <= folder.size(); ++i) {
    if (i != folder.size() && folder[i] != '/') continue;
    std::string part = folder.substr(0, i);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      return IoFail("cannot create folder " + part, file, errno);
  }
  return RegStatus::kOk;
}

// Holds flock on "<file>.lock" for its lifetime. flock locks belong to an
// open file description, so they also keep threads of one process apart.
class FileLock {
 public:
  RegStatus Acquire(const std::string& file) {
    std::string lockFile = file + ".lock";
    fd_ = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return IoFail("cannot open lock file " + lockFile, file, errno);
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) return IoFail("cannot lock " + lockFile, file, errno);
    }
    return RegStatus::kOk;
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::atomic<unsigned> g_tempCounter{0};

// Writes a complete new copy beside the file and renames it over the file.
// The new copy keeps the permissions of the one it replaces.
RegStatus WriteAtomically(const std::string& file, const std::string& text) {
  mode_t mode = 0666;
  struct stat st;
  bool keepMode = stat(file.c_str(), &st) == 0;
  if (keepMode) mode = st.st_mode & 07777;
  std::string temp = file + ".tmp." + std::to_string(getpid()) + "." +
                     std::to_string(g_tempCounter.fetch_add(1));
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return IoFail("cannot create " + temp, file, errno);
  if (keepMode) fchmod(fd, mode);
  bool written = WriteAll(fd, text);
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    unlink(temp.c_str());
    return IoFail("cannot write " + temp, file, error);
  }
  if (!ReplaceFile(temp.c_str(), file.c_str())) {
    error = errno;
    unlink(temp.c_str());
    return IoFail("cannot replace the file", file, error);
  }
  return RegStatus::kOk;
}

// True for the names WriteAtomically gives its copies of base:
// "<base>.tmp.<pid>.<counter>".
bool IsTemporaryCopyName(const std::string& name, const std::string& base) {
  const std::string prefix = base + ".tmp.";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  int dots = 0;
  bool digit_before = false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] == '.') {
      if (!digit_before || ++dots > 1) return false;
      digit_before = false;
    } else if (name[i] >= '0' && name[i] <= '9') {
      digit_before = true;
    } else {
      return false;
    }
  }
  return dots == 1 && digit_before;
}

// A writer makes its temporary copy only while it holds the lock, so any
// copy found by the holder of the lock was left by a writer that died
// (killed, or the machine stopped) between creating and renaming it.
// Removing them here keeps such leftovers from piling up.
void RemoveStaleCopies(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash);
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (IsTemporaryCopyName(name, base)) unlink((folder + "/" + name).c_str());
  }
  closedir(dir);
}

// Re-reads the file under the lock, lets change() alter it, and writes it
// back when change() says it altered something.
RegStatus ModifyFile(const std::string& file,
                     const std::function<bool(regedit::Document&)>& change) {
  RegStatus status = MakeFolders(file);
  if (status != RegStatus::kOk) return status;
  FileLock lock;
  status = lock.Acquire(file);
  if (status != RegStatus::kOk) return status;
  regedit::Document doc;
  bool missing = false;
  status = LoadDocument(file, &doc, &missing);
  if (status != RegStatus::kOk) return status;
  if (!change(doc)) return RegStatus::kOk;
  RemoveStaleCopies(file);
  return WriteAtomically(file, regedit::Write(doc));
}

// A registry root on one REGEDIT4 file: the file given, or, for the default
// environment, the file the process environment names at each open.
class FileRegistry final : public internal::DocumentRegistry {
 public:
  // fromEnvironment: the default environment's lookup at each open, else
  // file.
  FileRegistry(std::string file, bool fromEnvironment)
      : file_(std::move(file)), fromEnvironment_(fromEnvironment) {}

  RegStatus Locate(std::string* where) override {
    if (!fromEnvironment_) {
      if (file_.empty()) return Fail(RegStatus::kInvalid, "no registry file given");
      *where = file_;
      return RegStatus::kOk;
    }
    bool named = false;
    if (!internal::DefaultRegistryFile(where, &named))
      return Fail(RegStatus::kIoError, "no registry file: set TARNWICK_HKLM or HOME");
    return RegStatus::kOk;
  }
  RegStatus Read(const std::string& where, regedit::Document* doc) override {
    bool missing = false;
    return LoadDocument(where, doc, &missing);
  }
  RegStatus Modify(const std::string& where, const std::string&, const Change& change) override {
    return ModifyFile(where, change);
  }
  std::string Prefix(const std::string& where) override { return where + ": "; }

 private:
  const std::string file_;
  const bool fromEnvironment_;
};

}  // namespace

namespace internal {

// TARNWICK_HKLM, else $XDG_CONFIG_HOME/tarnwick/hklm.reg, else
// ~/.config/tarnwick/hklm.reg. Looked up at every open, so a change of the
// environment takes effect at once.
bool DefaultRegistryFile(std::string* file, bool* named) {
  *named = false;
  if (const char* value = NonEmptyEnv("TARNWICK_HKLM")) {
    *file = value;
    *named = true;
    return true;
  }
  const char* xdg = NonEmptyEnv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {  // relative values are to be ignored
    *file = std::string(xdg) + "/tarnwick/hklm.reg";
    return true;
  }
  const char* home = NonEmptyEnv("HOME");
  if (home == nullptr) {
    if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  }
  if (home == nullptr || *home == '\0') return false;
  *file = std::string(home) + "/.config/tarnwick/hklm.reg";
  return true;
}

std::unique_ptr<Registry> NewDefaultRegistry() {
  return std::unique_ptr<Registry>(new FileRegistry(std::string(), true));
}

}  // namespace internal

std::unique_ptr<Registry> NewFileRegistry(const std::string& file) {
  return std::unique_ptr<Registry>(new FileRegistry(file, false));
}

}  // namespace platform
