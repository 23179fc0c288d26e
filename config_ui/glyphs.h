// glyphs.h -- the category list's glyph strip (bitmap IDB_CATEGORY_GLYPHS,
// glyphs.bmp): two 16 x 16 images side by side in 16 colours. Image 0 is an
// empty check box, image 1 the same box with a tick; everything else is the
// mask colour RGB(128, 0, 128).
#ifndef PELLUMIN_CONFIG_UI_GLYPHS_H_
#define PELLUMIN_CONFIG_UI_GLYPHS_H_

#include <cstdint>
#include <vector>

namespace config_ui {

constexpr int kGlyphSize = 16;
constexpr int kGlyphStripWidth = 2 * kGlyphSize;

// Palette indexes of the strip (the standard 16-colour palette).
constexpr int kGlyphBlack = 0;
constexpr int kGlyphMask = 5;      // RGB(128, 0, 128)
constexpr int kGlyphDarkGrey = 8;  // RGB(128, 128, 128)

struct Rgb {
  std::uint8_t r, g, b;
};
extern const Rgb kGlyphPalette[16];

// The palette index of pixel (x, y) of the strip, y = 0 the top row.
int GlyphPixel(int x, int y);

// The strip as a Windows .bmp file: BITMAPINFOHEADER, 4 bits per pixel,
// bottom-up rows.
std::vector<std::uint8_t> GlyphBitmapFile();

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_GLYPHS_H_
