// Fonts by name, pixel height and bold, rasterised from embedded TrueType outlines
// (Liberation Sans, metrically compatible with Arial; "MS Sans Serif", "Arial" and every
// other name map to it). Text is anti-aliased onto the pixels below it.
#pragma once

#include <string>

#include "graphics/Colour.h"
#include "graphics/Rect.h"

namespace vm {

class TBitmap;

class TFont {
 public:
  std::string Name = "MS Sans Serif";
  // Negative: character (em) height in pixels; positive: cell height (ascent + descent).
  int Height = -11;
  bool Bold = false;
  TColor Color = clWindowText;

  // Point size at a given screen resolution: Height = -round(points * ppi / 72).
  void SetSize(int points, int pixelsPerInch);
  bool operator==(const TFont&) const = default;
};

// Metrics and drawing of text in a font. Widths are sums of whole-pixel advances.
int TextWidth(const TFont& font, const std::string& text);
int TextHeight(const TFont& font);  // ascent + descent of the font, in pixels
int TextAscent(const TFont& font);
// The pixels that drawing the text at (0, 0) covers at all (its glyphs' coverage boxes),
// relative to the cell's top-left; empty for blank text. Glyphs may reach a pixel or so
// outside the cell of TextWidth by TextHeight, to the left or right.
TRect TextInkBounds(const TFont& font, const std::string& text);
// Draws text with its cell's top-left at (x, y), transparent background, clipped.
void DrawText(TBitmap& dst, const TFont& font, int x, int y, const std::string& text,
              TColor colour, const TRect& clip);
// As DrawText, onto a bitmap whose background is a colour key: where the text's edge
// covers a key pixel, the ink goes in with its coverage as alpha instead of being mixed
// with the key colour, so the picture later blends cleanly over whatever lies below.
void DrawTextOverKey(TBitmap& dst, const TFont& font, int x, int y, const std::string& text,
                     TColor colour, TColor key, const TRect& clip);

}  // namespace vm
