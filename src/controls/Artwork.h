// The editor's pictures, drawn in code: knob faces, dot, shimmers, button states, screw,
// display bezel, recesses and logo. Shapes are sampled 4 by 4 per pixel; the coverage of
// an edge goes into the pixel's alpha, and pixels outside every shape are white with
// alpha 0, so the white that knobs and buttons treat as transparent never fringes.
#pragma once

#include "graphics/Bitmap.h"

namespace vm {

enum class TKnobShade { Normal, Dark, Light };  // iKnob, iKnobDark, iKnobLight

enum class TButtonPicture {
  UpOn,       // iUpOn: raised key, lamp lit
  UpOff,      // iUpOff: raised key, lamp dark
  UpOff2,     // IUpOff2 to IUpOff4: the same key with slightly different wear
  UpOff3,
  UpOff4,
  DownOn,     // iDownOn: pressed key, lamp lit
  DownOff,    // iDownOff: pressed key, lamp dark
  UpOffDis,   // iUpOffDis: faded key, pale lamp
  UpOnDis     // IUpOnDis: faded key, pale lit lamp
};

namespace artwork {

TBitmap KnobFace(TKnobShade shade, bool disabled);  // 56 by 56
TBitmap KnobDot();                                   // 6 by 6
TBitmap Shimmer(int k);                              // 36 by 36, k = 1..4
TBitmap Button(TButtonPicture picture);              // 38 by 45
TBitmap Screw();                                     // 12 by 12
TBitmap DisplayBezel();                              // 182 by 88
TBitmap Recess(int width, int height);               // LCD 182 by 18, buttons 44 by 51, 161 by 51
TBitmap Logo();                                      // 183 by 34

}  // namespace artwork
}  // namespace vm
