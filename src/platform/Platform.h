// The windowing system of the OS this binary is built for.
#pragma once

#include "editor/NativeWindow.h"

namespace vm {

const tPlatform& NativePlatform();

}  // namespace vm
