// replay_main.cpp -- runs a fuzz target over files and folders of inputs,
// without libFuzzer: the seed corpora and the kept reproducers become a
// regression test of every build, whatever the compiler.
//
//   fuzz_TARGET_replay PATH...   (each file, or every file below a folder)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help") {
    std::printf("usage: %s PATH...\nRuns the fuzz target once on each file (folders: every file "
                "below them).\n", argv[0]);
    return argc < 2 ? 2 : 0;
  }
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file() && entry.path().filename() != "README.md") {
          files.push_back(entry.path());
        }
      }
    } else if (std::filesystem::exists(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs ran\n", files.size());
  return 0;
}
