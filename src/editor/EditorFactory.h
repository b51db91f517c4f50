// The plug-in's editor factory: the form in a native window of the OS the binary is built
// for. Declared here, with the editor; defined with the native windows (src/platform).
#pragma once

namespace vm {

class TEffEditor;
class tVoicemultiply;

// A new editor attached to `effect` (which owns it from then on and frees it).
TEffEditor* CreateVoicemultiplyEditor(tVoicemultiply& effect);

}  // namespace vm
