// commands.h -- the corvane tool's subcommands. main.cpp dispatches through
// kCommands; a command is added by declaring its Run function and giving it
// one row in the table.
//
// Each Run function receives the arguments after "corvane", so argv[0] is the
// command's own name. It returns the process's exit code: 0 success, 1 a
// fault in the input or the files, 2 bad usage. "--help" prints the
// command's usage on standard output and returns 0.
#ifndef PELLUMIN_TOOLS_COMMANDS_H_
#define PELLUMIN_TOOLS_COMMANDS_H_

namespace corvane_tool {

int RunCompileCommand(int argc, char** argv);
int RunDumpCommand(int argc, char** argv);
int RunLookupCommand(int argc, char** argv);
int RunImportCommand(int argc, char** argv);
int RunCheckCommand(int argc, char** argv);

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;  // one line for "corvane --help"
};

inline constexpr Command kCommands[] = {
    {"compile", RunCompileCommand, "compile a text list into a list file"},
    {"dump", RunDumpCommand, "show a list file as text and check its order"},
    {"lookup", RunLookupCommand, "categorise URLs and show every key tried"},
    {"import", RunImportCommand, "import one-category-per-folder lists (such as UT1)"},
    {"check", RunCheckCommand, "run the complete URL check with restrictions and policy lists"},
};

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_COMMANDS_H_
