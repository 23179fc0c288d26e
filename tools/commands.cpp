// The commands' entry points: each runs its command on the process's
// standard streams.
#include "commands.h"

#include <iostream>

#include "list_dump.h"
#include "lookup.h"
#include "text_list.h"
#include "ut1_import.h"

namespace corvane_tool {

int RunCompileCommand(int argc, char** argv) { return RunCompile(argc, argv, std::cout, std::cerr); }
int RunDumpCommand(int argc, char** argv) { return RunDump(argc, argv, std::cout, std::cerr); }
int RunLookupCommand(int argc, char** argv) { return RunLookup(argc, argv, std::cout, std::cerr); }
int RunImportCommand(int argc, char** argv) { return RunImport(argc, argv, std::cout, std::cerr); }

}  // namespace corvane_tool
