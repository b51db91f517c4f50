// The plug-in's editor in a top-level window of its own (X11), for a person to try the
// controls outside a DAW.
#pragma once

#include "vst/VstAbi.h"

namespace vm {

// Opens the editor in a new window and runs until the window is closed (or, when
// `seconds` > 0, that many seconds have passed), calling the editor's idle as a host
// does. Returns 0, or 1 when there is no display or the editor does not open.
int RunEditorWindow(AEffect* effect, double seconds = 0);

}  // namespace vm
