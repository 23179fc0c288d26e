// file_input.cpp -- input files whose failures name the file.
#include "file_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ios>
#include <iostream>
#include <iterator>

namespace corvane_tool {

bool OpenInputFile(const std::string& path, std::ifstream* in, std::string* error) {
  std::error_code code;
  // A folder opens like a file on POSIX, and its first read then fails.
  if (std::filesystem::is_directory(path, code)) {
    *error = path + " is a folder, not a file";
    return false;
  }
  errno = 0;
  in->open(path, std::ios::binary);
  if (!in->is_open()) {
    *error = "cannot open " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }
  return true;
}

bool CheckReadToEnd(const std::ifstream& in, const std::string& path, std::string* error) {
  if (in.bad()) {
    *error = "cannot read " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }
  return true;
}

bool CheckStandardInputRead(const std::istream& in, std::string* error) {
  if (&in != &std::cin) return true;
  // std::cin reads through C's stdin, whose error flag is the only trace
  // of a failed read.
  if (!std::cin.bad() && std::ferror(stdin) == 0) return true;
  *error = std::string("cannot read standard input") +
           (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
  return false;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in;
  if (!OpenInputFile(path, &in, error)) return false;
  try {
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure& failure) {
    *error = "cannot read " + path + ": " + failure.what();
    return false;
  }
  return CheckReadToEnd(in, path, error);
}

}  // namespace corvane_tool
