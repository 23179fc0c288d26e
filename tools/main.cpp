// corvane -- the list tool: compiles, inspects and imports list files and
// shows how the engine categorises URLs. Only dispatch lives here; each
// command is in its own file, listed in commands.h.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "commands.h"
#include "pellumin_version.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: corvane COMMAND [ARGS...]\n"
               "       corvane help COMMAND | corvane COMMAND --help\n\ncommands:\n");
  for (const corvane_tool::Command& command : corvane_tool::kCommands) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
}

const corvane_tool::Command* FindCommand(const char* name) {
  for (const corvane_tool::Command& command : corvane_tool::kCommands) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

// What a command wrote must have reached standard output: a full disk or a
// closed pipe makes a command that succeeded fail, with a message.
int Finish(const char* name, int status) {
  std::cout.flush();
  errno = 0;
  const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (!failed || status != 0) return status;
  std::fprintf(stderr, "corvane %s: cannot write standard output%s%s\n", name,
               errno != 0 ? ": " : "", errno != 0 ? std::strerror(errno) : "");
  return 1;
}

int UnknownCommand(const char* name) {
  std::fprintf(stderr, "corvane: unknown command \"%s\"\n\n", name);
  PrintUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (pellumin::AnswerVersion(argc, argv, "corvane")) return 0;
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(name, "help") == 0) {
    if (argc < 3) {
      PrintUsage(stdout);
      return 0;
    }
    const corvane_tool::Command* command = FindCommand(argv[2]);
    if (command == nullptr) return UnknownCommand(argv[2]);
    char help[] = "--help";
    char* helpArgs[] = {argv[2], help, nullptr};
    return Finish(argv[2], command->run(2, helpArgs));
  }
  const corvane_tool::Command* command = FindCommand(name);
  if (command == nullptr) return UnknownCommand(name);
  // Each command names the file behind a failure itself; this is the last
  // guard, so that nothing the library throws ends the tool with an abort.
  try {
    return Finish(name, command->run(argc - 1, argv + 1));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "corvane %s: %s\n", name, failure.what());
  } catch (...) {
    std::fprintf(stderr, "corvane %s: unexpected failure\n", name);
  }
  return 1;
}
