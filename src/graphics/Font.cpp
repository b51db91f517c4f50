#include "graphics/Font.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

#include "graphics/Bitmap.h"
#include "graphics/StbGlue.h"

namespace vm {

namespace fonts {
extern const unsigned char kSansRegular[];
extern const unsigned char kSansBold[];
}  // namespace fonts

namespace {

// One face of the embedded family, opened on first use.
const stb::FontInfo& Face(bool bold) {
  static stb::FontInfo regular, boldFace;
  static std::once_flag once;
  std::call_once(once, [] {
    stb::InitFont(regular, fonts::kSansRegular);
    stb::InitFont(boldFace, fonts::kSansBold);
  });
  return bold ? boldFace : regular;
}

// Pixels per font unit: a negative height is the em in pixels, a positive one the cell.
float ScaleOf(const TFont& font) {
  const stb::FontInfo& face = Face(font.Bold);
  if (font.Height < 0) return face.emScale * static_cast<float>(-font.Height);
  const int cell = std::max(1, face.winAscent + face.winDescent);
  return static_cast<float>(std::max(font.Height, 1)) / static_cast<float>(cell);
}

// Decodes UTF-8 (Latin text); a stray byte stands for itself.
std::vector<int> Codepoints(const std::string& text) {
  std::vector<int> out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (i + extra >= text.size() + (extra ? 0 : 1)) extra = 0;
    int cp = extra ? b & (0x3F >> extra) : b;
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

// Bold advances round up unless within a quarter pixel of the whole pixel below: the
// platform's small bold screen face is wider than the outline's rounded advances, and
// this brings the 11-pixel bold captions within a few pixels of their laid-out widths.
constexpr float kBoldRoundDown = 0.25f;

// Whole-pixel advance of one character, as the platform's text output steps its pen.
int AdvancePixels(const TFont& font, int codepoint) {
  const float exact = stb::Advance(Face(font.Bold), codepoint) * ScaleOf(font);
  return static_cast<int>(font.Bold ? std::ceil(exact - kBoldRoundDown) : std::lround(exact));
}

struct GlyphKey {
  bool bold;
  float scale;
  int codepoint;
  bool operator<(const GlyphKey& o) const {
    return std::tie(bold, scale, codepoint) < std::tie(o.bold, o.scale, o.codepoint);
  }
};

const stb::Glyph& CachedGlyph(const TFont& font, int codepoint) {
  static std::map<GlyphKey, stb::Glyph> cache;
  static std::mutex lock;
  const GlyphKey key{font.Bold, ScaleOf(font), codepoint};
  std::lock_guard<std::mutex> guard(lock);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, stb::Render(Face(font.Bold), codepoint, key.scale)).first;
  return it->second;
}

}  // namespace

void TFont::SetSize(int points, int pixelsPerInch) {
  Height = -static_cast<int>(std::lround(points * pixelsPerInch / 72.0));
}

int TextAscent(const TFont& font) {
  return static_cast<int>(std::ceil(Face(font.Bold).winAscent * ScaleOf(font) - 1e-3f));
}

int TextHeight(const TFont& font) {
  const int descent = static_cast<int>(std::ceil(Face(font.Bold).winDescent * ScaleOf(font) - 1e-3f));
  return TextAscent(font) + descent;
}

int TextWidth(const TFont& font, const std::string& text) {
  int width = 0;
  for (int cp : Codepoints(text)) width += AdvancePixels(font, cp);
  return width;
}

TRect TextInkBounds(const TFont& font, const std::string& text) {
  const int baseline = TextAscent(font);
  TRect ink;
  int penX = 0;
  for (int cp : Codepoints(text)) {
    const stb::Glyph& g = CachedGlyph(font, cp);
    ink = ink.Union(Bounds(penX + g.left, baseline + g.top, g.width, g.height));
    penX += AdvancePixels(font, cp);
  }
  return ink;
}

namespace {

// Ink of `coverage` over a pixel that may be the key colour or carry partial alpha.
TPixel CoverKeyed(TPixel out, TPixel ink, int coverage, TColor key) {
  if (ColourOf(out) == key) return (ink & 0x00FFFFFFu) | (static_cast<TPixel>(coverage) << 24);
  const int alphaBelow = AlphaOf(out);
  const int alpha = alphaBelow + (255 - alphaBelow) * coverage / 255;
  const int mix = alpha == 0 ? 0 : coverage * 255 / alpha;
  return (BlendPixel(out, ink, std::min(mix, 255)) & 0x00FFFFFFu) | (static_cast<TPixel>(alpha) << 24);
}

void RenderText(TBitmap& dst, const TFont& font, int x, int y, const std::string& text, TColor colour,
                const TRect& clip, const TColor* key) {
  const TRect area = clip.Intersect(Bounds(0, 0, dst.Width(), dst.Height()));
  const TPixel ink = PixelOf(colour);
  const int baseline = y + TextAscent(font);
  int penX = x;
  for (int cp : Codepoints(text)) {
    const stb::Glyph& g = CachedGlyph(font, cp);
    for (int gy = 0; gy < g.height; ++gy) {
      const int ty = baseline + g.top + gy;
      if (ty < area.Top || ty >= area.Bottom) continue;
      for (int gx = 0; gx < g.width; ++gx) {
        const int tx = penX + g.left + gx;
        const int coverage = g.coverage[static_cast<size_t>(gy) * g.width + gx];
        if (coverage == 0 || tx < area.Left || tx >= area.Right) continue;
        TPixel& out = dst.Row(ty)[tx];
        out = key != nullptr ? CoverKeyed(out, ink, coverage, *key) : BlendPixel(out, ink, coverage);
      }
    }
    penX += AdvancePixels(font, cp);
  }
}

}  // namespace

void DrawText(TBitmap& dst, const TFont& font, int x, int y, const std::string& text, TColor colour,
              const TRect& clip) {
  RenderText(dst, font, x, y, text, colour, clip, nullptr);
}

void DrawTextOverKey(TBitmap& dst, const TFont& font, int x, int y, const std::string& text,
                     TColor colour, TColor key, const TRect& clip) {
  RenderText(dst, font, x, y, text, colour, clip, &key);
}

}  // namespace vm
