// An off-screen 32-bit bitmap: pixels 0xAARRGGBB, rows top to bottom, with an optional
// transparent colour key. Copies between bitmaps come plain (every pixel), transparent
// (key pixels skipped, partial alpha blended over the target) and stretched.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/Colour.h"
#include "graphics/Rect.h"

namespace vm {

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, TColor fill = clBlack) { SetSize(width, height, fill); }

  int Width() const { return width; }
  int Height() const { return height; }
  bool Empty() const { return width == 0 || height == 0; }
  // New pixels take `fill`; pixels inside both old and new size keep their value.
  void SetSize(int newWidth, int newHeight, TColor fill = clBlack);
  void Fill(TColor colour);

  // Reads outside the bitmap give 0; writes outside are ignored.
  TPixel Pixel(int x, int y) const;
  void SetPixel(int x, int y, TPixel p);
  TColor Colour(int x, int y) const { return ColourOf(Pixel(x, y)); }
  void SetColour(int x, int y, TColor c) { SetPixel(x, y, PixelOf(c)); }

  const TPixel* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width; }
  TPixel* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
  const std::vector<TPixel>& Pixels() const { return pixels; }

  // Colour key: when Transparent, pixels of TransparentColor are not drawn by Draw.
  bool Transparent = false;
  TColor TransparentColor = clWhite;

  // Every pixel of this bitmap at (x, y) of dst, clipped to `clip` (in dst coordinates).
  void CopyTo(TBitmap& dst, int x, int y, const TRect& clip) const;
  void CopyTo(TBitmap& dst, int x, int y) const { CopyTo(dst, x, y, Bounds(0, 0, dst.width, dst.height)); }
  // As CopyTo, but leaving out pixels whose colour is `key` and blending pixels whose
  // alpha is below 255 over what dst holds.
  void DrawTransparentTo(TBitmap& dst, int x, int y, TColor key, const TRect& clip) const;
  // Draw with this bitmap's own transparency (plain copy unless Transparent).
  void DrawTo(TBitmap& dst, int x, int y, const TRect& clip) const;
  // Nearest-neighbour stretch of the whole bitmap onto dstRect, with this bitmap's own
  // transparency; dest pixel (x, y) takes source ((x - left) * w / dstWidth, ...).
  void StretchTo(TBitmap& dst, const TRect& dstRect, const TRect& clip) const;

  // FNV-1a over size and pixels: a fingerprint for snapshot tests.
  uint64_t Checksum() const;

 private:
  int width = 0;
  int height = 0;
  std::vector<TPixel> pixels;
};

}  // namespace vm
