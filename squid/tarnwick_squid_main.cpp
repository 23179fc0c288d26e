// tarnwick-squid -- the filter as a Squid url_rewrite_program helper.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "base/args.h"
#include "net.h"
#include "platform.h"
#include "pellumin_version.h"
#include "squid_helper.h"

namespace {

using tarnwick_squid::ChannelMode;
using tarnwick_squid::FailureMode;
using tarnwick_squid::Protocol;
using tarnwick_squid::HelperOptions;

const char kUsage[] =
    "Usage: tarnwick-squid --redirect URL [--key KEY] [--log FILE] [--threads N]\n"
    "                      [--channel-id auto|on|off] [--max-line BYTES]\n"
    "                      [--on-failure deny|allow]\n"
    "       tarnwick-squid --protocol acl [--key KEY] [--log FILE] [--threads N]\n"
    "                      [--channel-id auto|on|off] [--max-line BYTES]\n"
    "                      [--on-failure deny|allow]\n"
    "\n"
    "A Squid url_rewrite_program helper: reads \"[channel-ID] URL [extras]\" lines on\n"
    "standard input and answers each with \"OK status=302 url=...\" (denied: the\n"
    "client is sent to the block page), \"ERR\" (passes) or \"BH message=...\" (a line\n"
    "it cannot read); an \"sni=%ssl::>sni\" extra has a CONNECT judged by its TLS\n"
    "server name too. With --protocol acl, a Squid external_acl_type helper for the\n"
    "format \"%URI %>a %ssl::>sni\": \"OK message=... log=...\" for a request to deny,\n"
    "\"ERR\" to let it pass. The settings, the control list and the deny and alert lists\n"
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
    "  --threads N        threads that answer one read's lines when it holds many\n"
    "                     (a stream, or a helper behind), 1 to 64 (default 4)\n"
    "  --channel-id MODE  auto (default): a first word of digits is a channel-ID, as\n"
    "                     Squid sends with concurrency=N; on: the first word always is;\n"
    "                     off: never (concurrency=0)\n"
    "  --max-line BYTES   longest request line read, 256 to 1048576 (default 65536);\n"
    "                     longer ones are answered BH\n"
    "  --protocol NAME    rewrite (default): url_rewrite_program, --redirect required;\n"
    "                     acl: external_acl_type, --redirect not used\n"
    "  --on-failure MODE  while the filter cannot be loaded: deny (default) every\n"
    "                     request (the block page's %c is \"unavailable\"), or allow\n"
    "                     every request; the helper stays up, says why every minute\n"
    "                     and tries to load again every 30 seconds and on SIGHUP\n"
    "  --help             show this text\n"
    "\n"
    "SIGHUP re-reads the settings and lists and reopens the --log file; requests\n"
    "go on meanwhile, and a reload that fails keeps the filter in force. Messages\n"
    "go to standard error (Squid's cache.log). The helper ends when its input ends.\n"
    "\n"
    "Exit status: 0 when the input ended, 1 when standard output cannot be kept\n"
    "for the answers, 2 on bad arguments.\n";

// How often a helper without a filter tries to load it again, and says
// that it has none.
constexpr std::chrono::seconds kRetryInterval{30};
constexpr std::chrono::seconds kNoteInterval{60};

void Say(const std::string& text) {
  std::fprintf(stderr, "tarnwick-squid: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string UnavailableNote(FailureMode mode) {
  return mode == FailureMode::kAllow
             ? "WARNING: no filter is loaded; every request PASSES UNFILTERED (--on-failure "
               "allow); trying again every 30 seconds and on SIGHUP"
             : "no filter is loaded; every request is DENIED as unavailable (--on-failure "
               "deny); trying again every 30 seconds and on SIGHUP";
}

bool IsValueOption(const std::string& name) {
  return name == "--redirect" || name == "--key" || name == "--log" || name == "--threads" ||
         name == "--channel-id" || name == "--max-line" || name == "--protocol" ||
         name == "--on-failure";
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
  } else if (name == "--protocol") {
    if (value != "rewrite" && value != "acl") {
      std::fprintf(stderr, "tarnwick-squid: --protocol must be rewrite or acl, not '%s'\n",
                   value.c_str());
      return false;
    }
    options->protocol = value == "acl" ? Protocol::kAcl : Protocol::kRewrite;
  } else if (name == "--on-failure") {
    if (value != "deny" && value != "allow") {
      std::fprintf(stderr, "tarnwick-squid: --on-failure must be deny or allow, not '%s'\n",
                   value.c_str());
      return false;
    }
    options->onFailure = value == "allow" ? FailureMode::kAllow : FailureMode::kDeny;
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
  if (!haveRedirect && options->protocol == Protocol::kRewrite) {
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
  // Read and written by descriptor: one read(2) of whatever Squid has
  // written, one write(2) of its answers.
  tarnwick_squid::DescriptorChannel channel(STDIN_FILENO, fileno(answerStream));

  tarnwick_squid::FilterHelper helper(options);
  std::string message;
  // Before the filter loads, so that a SIGHUP during a slow start is kept.
  platform::InstallReloadHandler();
  bool available = helper.Start(&message);
  if (available) {
    Say("plug-in: " + message);
    for (const std::string& line : helper.InForce()) Say("in force: " + line);
  } else {
    // Exiting would have Squid restart the helper until it gives up on it
    // and stops serving: one bad list would take the whole proxy down.
    // The helper stays up and answers by the failure mode instead.
    Say("cannot start: " + message);
    Say(UnavailableNote(options.onFailure));
  }

  std::atomic<bool> done{false};
  std::thread reloader([&] {
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextTry = Clock::now() + kRetryInterval;
    Clock::time_point nextNote = Clock::now() + kNoteInterval;
    while (!done.load()) {
      const bool asked = platform::TakeReloadRequest();
      const Clock::time_point now = Clock::now();
      if (!available && !asked && now >= nextNote) {
        Say("the filter is still unavailable: " + message);
        Say(UnavailableNote(options.onFailure));
        nextNote = now + kNoteInterval;
      }
      if (!asked && (available || now < nextTry)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      nextTry = now + kRetryInterval;
      std::string text;
      if (helper.Reload(&text)) {
        Say((available ? "reloaded: " : "filter loaded, filtering resumes: ") + text);
        for (const std::string& line : helper.InForce()) Say("in force: " + line);
        available = true;
      } else if (available) {
        Say("reload failed, the filter in force stays: " + text);
      } else {
        message = text;
        if (asked) Say("the filter is still unavailable: " + message);
      }
    }
  });

  const tarnwick_squid::ServeCounts counts = helper.Serve(&channel);
  done.store(true);
  reloader.join();
  Say("input ended after " + tarnwick_squid::DescribeCounts(counts));
  return 0;
}
