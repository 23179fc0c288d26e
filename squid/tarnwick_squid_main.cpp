// tarnwick-squid -- the filter as a Squid url_rewrite_program helper.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "base/args.h"
#include "net.h"
#include "platform.h"
#include "pellumin_version.h"
#include "squid_helper.h"

namespace {

using tarnwick_squid::ChannelMode;
using tarnwick_squid::HelperOptions;

const char kUsage[] =
    "Usage: tarnwick-squid --redirect URL [--key KEY] [--log FILE] [--threads N]\n"
    "                      [--channel-id auto|on|off] [--max-line BYTES]\n"
    "\n"
    "A Squid url_rewrite_program helper: reads \"[channel-ID] URL [extras]\" lines on\n"
    "standard input and answers each with \"OK status=302 url=...\" (denied: the\n"
    "client is sent to the block page), \"ERR\" (passes) or \"BH message=...\" (a line\n"
    "it cannot read). The settings, the control list and the deny and alert lists\n"
    "are the plug-in's own, read from the configuration key path below\n"
    "HKEY_LOCAL_MACHINE (on Linux the REGEDIT4 file named by TARNWICK_HKLM).\n"
    "\n"
    "Options:\n"
    "  --redirect URL     the block page for a denied request (required); %u is the\n"
    "                     requested URL, %a the client, %c the denied categories,\n"
    "                     %% a percent sign, each percent-escaped\n"
    "  --key KEY          configuration key path (default SOFTWARE\\Pellumin\\Filter)\n"
    "  --log FILE         append the access log line of each alerted request to FILE\n"
    "                     (default: no access log)\n"
    "  --threads N        worker threads for requests with channel-IDs, 1 to 64\n"
    "                     (default 4)\n"
    "  --channel-id MODE  auto (default): a first word of digits is a channel-ID, as\n"
    "                     Squid sends with concurrency=N; on: the first word always is;\n"
    "                     off: never (concurrency=0)\n"
    "  --max-line BYTES   longest request line read, 256 to 1048576 (default 65536);\n"
    "                     longer ones are answered BH\n"
    "  --help             show this text\n"
    "\n"
    "SIGHUP re-reads the settings and lists and reopens the --log file; requests\n"
    "go on meanwhile, and a reload that fails keeps the filter in force. Messages\n"
    "go to standard error (Squid's cache.log). The helper ends when its input ends.\n"
    "\n"
    "Exit status: 0 when the input ended, 1 when the filter cannot be loaded at\n"
    "start, 2 on bad arguments.\n";

// std::ostream over the stream that platform::TakeStandardOutput hands back.
class FileBuffer : public std::streambuf {
 public:
  explicit FileBuffer(std::FILE* file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    return static_cast<std::streamsize>(std::fwrite(data, 1, static_cast<std::size_t>(size), file_));
  }
  int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

 private:
  std::FILE* file_;
};

void Say(const std::string& text) {
  std::fprintf(stderr, "tarnwick-squid: %s\n", text.c_str());
  std::fflush(stderr);
}

bool IsValueOption(const std::string& name) {
  return name == "--redirect" || name == "--key" || name == "--log" || name == "--threads" ||
         name == "--channel-id" || name == "--max-line";
}

// Stores the value of one option; false, with the message printed, for a
// value the option cannot take.
bool ApplyOption(const std::string& name, const std::string& value, HelperOptions* options) {
  long number = 0;
  if (name == "--redirect") {
    if (value.empty()) {
      std::fprintf(stderr, "tarnwick-squid: --redirect needs a URL\n");
      return false;
    }
    options->redirect = value;
  } else if (name == "--key") {
    options->keyPath = value;
  } else if (name == "--log") {
    options->logPath = value;
  } else if (name == "--threads") {
    if (!base::ParseDecimalInRange(value, 1, 64, &number)) {
      std::fprintf(stderr, "tarnwick-squid: --threads must be 1 to 64, not '%s'\n", value.c_str());
      return false;
    }
    options->threads = static_cast<int>(number);
  } else if (name == "--max-line") {
    if (!base::ParseDecimalInRange(value, 256, 1048576, &number)) {
      std::fprintf(stderr, "tarnwick-squid: --max-line must be 256 to 1048576, not '%s'\n",
                   value.c_str());
      return false;
    }
    options->maxLineLength = static_cast<std::size_t>(number);
  } else if (value == "auto") {
    options->channelMode = ChannelMode::kAuto;
  } else if (value == "on") {
    options->channelMode = ChannelMode::kOn;
  } else if (value == "off") {
    options->channelMode = ChannelMode::kOff;
  } else {
    std::fprintf(stderr, "tarnwick-squid: --channel-id must be auto, on or off, not '%s'\n",
                 value.c_str());
    return false;
  }
  return true;
}

// What main does once the arguments are read: serve, or end at once with
// exitStatus (0 after the help text, 2 after a bad argument's message).
struct ArgumentsOutcome {
  bool serve;
  int exitStatus;
};

// Reads the arguments in order; the first "--help" or bad argument ends the
// reading.
ArgumentsOutcome ParseArguments(int argc, char** argv, HelperOptions* options) {
  const ArgumentsOutcome kBadArguments{false, 2};
  bool haveRedirect = false;
  base::ArgCursor args(argc, argv);
  while (args.Next()) {
    const std::string name = args.Name();
    if (name == "--help" || name == "-h") {
      std::fputs(kUsage, stdout);
      return {false, 0};
    }
    if (!IsValueOption(name)) {
      std::fprintf(stderr, "tarnwick-squid: unknown argument '%s'\n%s", args.Arg().c_str(), kUsage);
      return kBadArguments;
    }
    std::string value;
    std::string error;
    if (!args.TakeValue(&value, &error)) {
      std::fprintf(stderr, "tarnwick-squid: %s\n%s", error.c_str(), kUsage);
      return kBadArguments;
    }
    if (!ApplyOption(name, value, options)) return kBadArguments;
    if (name == "--redirect") haveRedirect = true;
  }
  if (!haveRedirect) {
    std::fprintf(stderr, "tarnwick-squid: --redirect URL is required (the block page)\n%s",
                 kUsage);
    return kBadArguments;
  }
  return {true, 0};
}

}  // namespace

int main(int argc, char** argv) {
  if (pellumin::AnswerVersion(argc, argv, "tarnwick-squid")) return 0;
  HelperOptions options;
  options.env = platform::Env::Default();
  const ArgumentsOutcome outcome = ParseArguments(argc, argv, &options);
  if (!outcome.serve) return outcome.exitStatus;

  // Answers go to Squid on standard output, one line per request; the
  // engine's own notes (a list that cannot be opened) and anything else
  // printed must go to standard error (cache.log), never among them.
  std::FILE* answerStream = platform::TakeStandardOutput();
  if (answerStream == nullptr) {
    Say(std::string("cannot keep standard output for the answers: ") + std::strerror(errno));
    return 1;
  }
  FileBuffer answerBuffer(answerStream);
  std::ostream answers(&answerBuffer);

  tarnwick_squid::FilterHelper helper(options);
  std::string message;
  // Before the filter loads, so that a SIGHUP during a slow start is kept.
  platform::InstallReloadHandler();
  if (!helper.Start(&message)) {
    // Exiting tells Squid at once; answering every request with a pass
    // would filter nothing without a word.
    Say("cannot start: " + message);
    return 1;
  }
  Say("plug-in: " + message);
  for (const std::string& line : helper.InForce()) Say("in force: " + line);

  std::atomic<bool> done{false};
  std::thread reloader([&] {
    while (!done.load()) {
      if (!platform::TakeReloadRequest()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      std::string text;
      if (helper.Reload(&text)) {
        Say("reloaded: " + text);
        for (const std::string& line : helper.InForce()) Say("in force: " + line);
      } else {
        Say("reload failed, the filter in force stays: " + text);
      }
    }
  });

  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  const tarnwick_squid::ServeCounts counts = helper.Serve(std::cin, answers);
  done.store(true);
  reloader.join();
  Say("input ended after " + std::to_string(counts.lines) + " requests (" +
      std::to_string(counts.denied) + " denied, " + std::to_string(counts.alerted) +
      " alerted, " + std::to_string(counts.broken) + " answered BH)");
  return 0;
}
