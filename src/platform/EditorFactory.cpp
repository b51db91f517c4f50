// The plug-in's editor: the form in a native window of this OS.
#include "editor/EditorFactory.h"

#include "editor/Editor.h"
#include "platform/Platform.h"

namespace vm {

// Owned by the effect once it attaches itself with setEditor; freed with the effect.
TEffEditor* CreateVoicemultiplyEditor(tVoicemultiply& effect) {
  return new tVoicemultiplyEditor(effect, &NativePlatform());
}

}  // namespace vm
