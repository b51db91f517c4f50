// The windowing system of the OS this binary is built for.
#pragma once

#include "editor/NativeWindow.h"

namespace vm {

const tPlatform& NativePlatform();

}  // namespace vm

namespace vm {

class TEffEditor;
class tVoicemultiply;

// The effect's editor with a native window; the effect owns it.
TEffEditor* CreateVoicemultiplyEditor(tVoicemultiply& effect);

}  // namespace vm
