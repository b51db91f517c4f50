#include "graphics/Bitmap.h"

namespace vm {

void TBitmap::SetSize(int newWidth, int newHeight, TColor fill) {
  newWidth = std::max(newWidth, 0);
  newHeight = std::max(newHeight, 0);
  if (newWidth == width && newHeight == height) return;
  std::vector<TPixel> next(static_cast<size_t>(newWidth) * newHeight, PixelOf(fill));
  const int keepWidth = std::min(width, newWidth);
  for (int y = 0; y < std::min(height, newHeight); ++y)
    std::copy_n(Row(y), keepWidth, next.data() + static_cast<size_t>(y) * newWidth);
  pixels.swap(next);
  width = newWidth;
  height = newHeight;
}

void TBitmap::Fill(TColor colour) { std::fill(pixels.begin(), pixels.end(), PixelOf(colour)); }

TPixel TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return pixels[static_cast<size_t>(y) * width + x];
}

void TBitmap::SetPixel(int x, int y, TPixel p) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  pixels[static_cast<size_t>(y) * width + x] = p;
}

namespace {

// The part of a w-by-h source placed at (x, y) that falls inside clip and dst.
TRect Visible(const TBitmap& dst, int x, int y, int w, int h, const TRect& clip) {
  return Bounds(x, y, w, h).Intersect(clip).Intersect(Bounds(0, 0, dst.Width(), dst.Height()));
}

}  // namespace

void TBitmap::CopyTo(TBitmap& dst, int x, int y, const TRect& clip) const {
  const TRect r = Visible(dst, x, y, width, height, clip);
  for (int ty = r.Top; ty < r.Bottom; ++ty)
    std::copy_n(Row(ty - y) + (r.Left - x), r.Width(), dst.Row(ty) + r.Left);
}

void TBitmap::DrawTransparentTo(TBitmap& dst, int x, int y, TColor key, const TRect& clip) const {
  const TRect r = Visible(dst, x, y, width, height, clip);
  for (int ty = r.Top; ty < r.Bottom; ++ty) {
    const TPixel* src = Row(ty - y) + (r.Left - x);
    TPixel* out = dst.Row(ty) + r.Left;
    for (int i = 0; i < r.Width(); ++i) {
      const TPixel p = src[i];
      const int alpha = AlphaOf(p);
      if (ColourOf(p) == key || alpha == 0) continue;
      out[i] = alpha == 255 ? p : BlendPixel(out[i], p, alpha);
    }
  }
}

void TBitmap::DrawTo(TBitmap& dst, int x, int y, const TRect& clip) const {
  if (Transparent)
    DrawTransparentTo(dst, x, y, TransparentColor, clip);
  else
    CopyTo(dst, x, y, clip);
}

void TBitmap::StretchTo(TBitmap& dst, const TRect& dstRect, const TRect& clip) const {
  if (Empty() || dstRect.IsEmpty()) return;
  const TRect r = dstRect.Intersect(clip).Intersect(Bounds(0, 0, dst.width, dst.height));
  const int64_t dw = dstRect.Width(), dh = dstRect.Height();
  for (int ty = r.Top; ty < r.Bottom; ++ty) {
    const int sy = static_cast<int>((ty - dstRect.Top) * static_cast<int64_t>(height) / dh);
    for (int tx = r.Left; tx < r.Right; ++tx) {
      const int sx = static_cast<int>((tx - dstRect.Left) * static_cast<int64_t>(width) / dw);
      const TPixel p = Row(sy)[sx];
      TPixel& out = dst.Row(ty)[tx];
      if (!Transparent) {
        out = p;
        continue;
      }
      const int alpha = AlphaOf(p);
      if (ColourOf(p) == TransparentColor || alpha == 0) continue;
      out = alpha == 255 ? p : BlendPixel(out, p, alpha);
    }
  }
}

uint64_t TBitmap::Checksum() const {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      hash ^= (v >> (8 * i)) & 255u;
      hash *= 1099511628211ull;
    }
  };
  mix(static_cast<uint32_t>(width));
  mix(static_cast<uint32_t>(height));
  for (TPixel p : pixels) mix(p);
  return hash;
}

}  // namespace vm
