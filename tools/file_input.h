// file_input.h -- opening and reading the corvane tool's input files so that
// every failure names the file: a folder given for a file, a file that
// cannot be opened, and a read that fails part way (which the stream
// library may report by throwing std::ios_base::failure).
#ifndef PELLUMIN_TOOLS_FILE_INPUT_H_
#define PELLUMIN_TOOLS_FILE_INPUT_H_

#include <fstream>
#include <string>

namespace corvane_tool {

// Opens path for reading in binary mode. False with "PATH is a folder, not
// a file" or "cannot open PATH: REASON".
bool OpenInputFile(const std::string& path, std::ifstream* in, std::string* error);

// After reading in up to its end: false with "cannot read PATH" when the
// read failed rather than reached the end.
bool CheckReadToEnd(const std::ifstream& in, const std::string& path, std::string* error);

// After reading in (std::cin or another stream) up to its end: false with
// "cannot read standard input: REASON" when in is std::cin and a read
// failed, which std::cin reports only as an end of input.
bool CheckStandardInputRead(const std::istream& in, std::string* error);

// Reads the whole of path into *bytes, with the failures above.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_FILE_INPUT_H_
