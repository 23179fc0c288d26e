// glyphs.cpp -- the drawing of the two glyphs, and its .bmp encoding.
#include "glyphs.h"

namespace config_ui {

const Rgb kGlyphPalette[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

namespace {

// The box: a 12 x 12 outline at (2, 2), so columns and rows 2 to 13. The
// black top and left edges are two pixels thick and run up to the last
// column and row but one; the grey right and bottom edges are one pixel
// thick and take the corners they meet, as a sunken frame is drawn.
constexpr int kBoxFirst = 2;
constexpr int kBoxLast = 13;

bool OnBlackEdge(int x, int y) {
  const bool inSpan = x >= kBoxFirst && x < kBoxLast && y >= kBoxFirst && y < kBoxLast;
  return inSpan && (x < kBoxFirst + 2 || y < kBoxFirst + 2);
}

bool OnGreyEdge(int x, int y) {
  const bool inBox = x >= kBoxFirst && x <= kBoxLast && y >= kBoxFirst && y <= kBoxLast;
  return inBox && (x == kBoxLast || y == kBoxLast);
}

// The tick, three pixels tall: down from (5, 7) to (7, 9), then up to (11, 5).
bool OnTick(int x, int y) {
  if (x < 5 || x > 11) return false;
  const int top = x <= 7 ? x + 2 : 16 - x;
  return y >= top && y < top + 3;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

int GlyphPixel(int x, int y) {
  const int image = x / kGlyphSize;
  const int gx = x % kGlyphSize;
  if (OnGreyEdge(gx, y)) return kGlyphDarkGrey;
  if (OnBlackEdge(gx, y)) return kGlyphBlack;
  if (image == 1 && OnTick(gx, y)) return kGlyphBlack;
  return kGlyphMask;
}

std::vector<std::uint8_t> GlyphBitmapFile() {
  constexpr std::uint32_t kRowBytes = kGlyphStripWidth / 2;  // 16: already a multiple of 4
  constexpr std::uint32_t kPixelBytes = kRowBytes * kGlyphSize;
  constexpr std::uint32_t kOffset = 14 + 40 + 16 * 4;
  std::vector<std::uint8_t> out;
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  Put32(out, kOffset + kPixelBytes);
  Put32(out, 0);
  Put32(out, kOffset);
  // BITMAPINFOHEADER
  Put32(out, 40);
  Put32(out, kGlyphStripWidth);
  Put32(out, kGlyphSize);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // BI_RGB
  Put32(out, kPixelBytes);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 16);
  Put32(out, 0);
  for (const Rgb& c : kGlyphPalette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = kGlyphSize - 1; y >= 0; --y) {
    for (int x = 0; x < kGlyphStripWidth; x += 2) {
      out.push_back(static_cast<std::uint8_t>(GlyphPixel(x, y) << 4 | GlyphPixel(x + 1, y)));
    }
  }
  return out;
}

}  // namespace config_ui
