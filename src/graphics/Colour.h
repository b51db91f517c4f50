// Colours and pixels of the drawing layer.
//
// A colour number (TColor) holds red in its lowest byte, then green, then blue, so
// (48, 48, 48) is 3158064. A pixel of a bitmap is 0xAARRGGBB (bytes B, G, R, A in memory
// on a little-endian machine), the layout that both a Win32 DIB section and a 24/32-bit
// X11 image take as they stand. Alpha 255 is opaque; artwork carries edge coverage in it.
#pragma once

#include <cstdint>

namespace vm {

using TColor = uint32_t;
using TPixel = uint32_t;

constexpr TColor RGB(int r, int g, int b) {
  return static_cast<TColor>((r & 255) | ((g & 255) << 8) | ((b & 255) << 16));
}
constexpr int GetR(TColor c) { return static_cast<int>(c & 255); }
constexpr int GetG(TColor c) { return static_cast<int>((c >> 8) & 255); }
constexpr int GetB(TColor c) { return static_cast<int>((c >> 16) & 255); }

constexpr TPixel PixelOf(TColor c, int alpha = 255) {
  return (static_cast<TPixel>(alpha & 255) << 24) | (static_cast<TPixel>(GetR(c)) << 16) |
         (static_cast<TPixel>(GetG(c)) << 8) | static_cast<TPixel>(GetB(c));
}
constexpr TColor ColourOf(TPixel p) {
  return RGB(static_cast<int>((p >> 16) & 255), static_cast<int>((p >> 8) & 255),
             static_cast<int>(p & 255));
}
constexpr int AlphaOf(TPixel p) { return static_cast<int>(p >> 24); }

// Colour part of src laid over dst with coverage alpha (0..255); dst keeps its alpha.
constexpr TPixel BlendPixel(TPixel dst, TPixel src, int alpha) {
  TPixel out = dst & 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = static_cast<int>((dst >> shift) & 255);
    const int s = static_cast<int>((src >> shift) & 255);
    const int c = d + ((s - d) * alpha + (s > d ? 127 : -127)) / 255;
    out |= static_cast<TPixel>(c & 255) << shift;
  }
  return out;
}

constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clRed = RGB(255, 0, 0);
constexpr TColor clLime = RGB(0, 255, 0);
constexpr TColor clBlue = RGB(0, 0, 255);
constexpr TColor clBtnFace = RGB(240, 240, 240);       // system button face
constexpr TColor clBtnShadow = RGB(160, 160, 160);     // system 3-D shadow
constexpr TColor clBtnHighlight = RGB(255, 255, 255);  // system 3-D highlight
constexpr TColor clWindowText = RGB(0, 0, 0);

}  // namespace vm
