// write_glyphs: writes the glyph strip (glyphs.bmp) that Tarnwick's resource
// script embeds. Run it after changing glyphs.cpp; glyphs_test checks that
// the checked-in file is what the drawing gives.
#include <cstdio>
#include <cstring>

#include "glyphs.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(argc == 2 ? stdout : stderr, "usage: write_glyphs OUTPUT.bmp\n");
    return argc == 2 ? 0 : 2;
  }
  const std::vector<std::uint8_t> bytes = config_ui::GlyphBitmapFile();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
