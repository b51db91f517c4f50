// The face plate: the printed panel of the plug-in, one 828 by 423 picture under the live
// controls. It is the drawn look of the form itself, stripped of everything that depends
// on a value (dots, display, text line, version, Unshifted mark) and flattened.
#pragma once

#include "graphics/Bitmap.h"

namespace vm {

// The picture, made on first use and kept for the life of the process (the first caller
// makes it; concurrent first callers wait for it).
const TBitmap& FacePlatePicture();

// Makes a new picture from a fresh drawn-look form (what FacePlatePicture keeps).
TBitmap PaintFacePlate();

}  // namespace vm
