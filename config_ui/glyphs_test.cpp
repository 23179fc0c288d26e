// The checked-in glyph strip against its drawing, and the drawing against
// the picture the list needs: two 16 x 16 boxes, the second ticked.
#include "glyphs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace config_ui {
namespace {

std::vector<std::uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The colour of pixel (x, y), y = 0 the top row, read from the .bmp bytes.
Rgb PixelOf(const std::vector<std::uint8_t>& bmp, int x, int y) {
  const std::uint32_t offset = Get32(bmp, 10);
  const std::size_t row = static_cast<std::size_t>(15 - y);  // bottom-up
  const std::uint8_t pair = bmp[offset + row * 16 + x / 2];
  const int index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
  const std::size_t entry = 14 + 40 + 4 * static_cast<std::size_t>(index);
  return Rgb{bmp[entry + 2], bmp[entry + 1], bmp[entry]};
}

bool Is(Rgb c, int r, int g, int b) { return c.r == r && c.g == g && c.b == b; }

TEST(Glyphs, CheckedInBitmapIsTheDrawing) {
  EXPECT_EQ(ReadFile(PELLUMIN_CONFIG_UI_DIR "/glyphs.bmp"), GlyphBitmapFile())
      << "glyphs.bmp is stale: run write_glyphs config_ui/glyphs.bmp";
}

TEST(Glyphs, BoxesTickAndMaskAreWhereTheListNeedsThem) {
  const std::vector<std::uint8_t> bmp = ReadFile(PELLUMIN_CONFIG_UI_DIR "/glyphs.bmp");
  ASSERT_EQ(bmp.size(), 374u);
  EXPECT_EQ(Get32(bmp, 18), 32u);                // width
  EXPECT_EQ(Get32(bmp, 22), 16u);                // height, bottom-up
  EXPECT_EQ(bmp[28], 4);                          // bits per pixel: 16 colours
  for (int image = 0; image < 2; ++image) {
    int tick = 0;
    for (int y = 0; y < 16; ++y) {
      for (int gx = 0; gx < 16; ++gx) {
        const Rgb c = PixelOf(bmp, image * 16 + gx, y);
        const bool inBox = gx >= 2 && gx <= 13 && y >= 2 && y <= 13;
        const bool inside = gx >= 4 && gx <= 12 && y >= 4 && y <= 12;
        SCOPED_TRACE("image " + std::to_string(image) + " pixel " + std::to_string(gx) + "," +
                     std::to_string(y));
        if (!inBox) {
          EXPECT_TRUE(Is(c, 128, 0, 128));
        } else if (gx == 13 || y == 13) {
          EXPECT_TRUE(Is(c, 128, 128, 128));  // one-pixel grey bottom and right edges
        } else if (gx <= 3 || y <= 3) {
          EXPECT_TRUE(Is(c, 0, 0, 0));  // two-pixel black top and left edges
        } else {
          ASSERT_TRUE(inside);
          if (Is(c, 0, 0, 0)) {
            ++tick;
          } else {
            EXPECT_TRUE(Is(c, 128, 0, 128));
          }
        }
      }
    }
    if (image == 0) {
      EXPECT_EQ(tick, 0);
    } else {
      EXPECT_GE(tick, 12);
    }
  }
}

}  // namespace
}  // namespace config_ui
