// Hosts answer the messages a window sends while it is re-parented or shown (SetParent and
// SetWindowPos on Windows) and may call the editor again from there, on the same thread
// and with the editor's lock still held. Such calls must neither deadlock nor leave the
// editor believing something other than what the host last asked for.

#include "EditorFixture.h"

namespace vm::testing_editor {
namespace {

void* const kOtherParent = reinterpret_cast<void*>(0x5678);

enum class tStage { Attach, Detach };
enum class tNested { GetRect, OpenSameParent, OpenOtherParent, Close, HostChange, Idle };

struct tReentry {
  const char* name;
  tStage stage;           // the window operation the host calls back from
  tNested nested;
  int32_t nestedResult;   // of getRect or open; ignored for the others
  bool openAfterwards;    // the editor's state once the outer call returned
};

// Test output names the case.
void PrintTo(const tReentry& c, std::ostream* out) { *out << c.name; }

const tReentry kReentries[] = {
    {"GetRectFromAttach", tStage::Attach, tNested::GetRect, 1, true},
    {"OpenFromAttach", tStage::Attach, tNested::OpenSameParent, 0, true},
    {"OpenElsewhereFromAttach", tStage::Attach, tNested::OpenOtherParent, 0, true},
    {"CloseFromAttach", tStage::Attach, tNested::Close, 0, false},
    {"HostChangeFromAttach", tStage::Attach, tNested::HostChange, 0, true},
    {"IdleFromAttach", tStage::Attach, tNested::Idle, 0, true},
    {"GetRectFromDetach", tStage::Detach, tNested::GetRect, 1, false},
    {"OpenFromDetach", tStage::Detach, tNested::OpenSameParent, 0, false},
    {"CloseFromDetach", tStage::Detach, tNested::Close, 0, false},
    {"HostChangeFromDetach", tStage::Detach, tNested::HostChange, 0, false},
};

class Reentry : public tEditorFixture, public ::testing::WithParamInterface<tReentry> {
 protected:
  // Calls the nested operation once, from inside the window's operation of `stage`.
  void Arm(const tReentry& r) {
    auto nested = [this, r] {
      if (fired) return;
      fired = true;
      pumpsBeforeNested = log.pumped;
      switch (r.nested) {
        case tNested::GetRect: {
          ERect* rect = nullptr;
          nestedResult = editor->getRect(&rect);
          nestedRect = rect;
          break;
        }
        case tNested::OpenSameParent: nestedResult = editor->open(kParent); break;
        case tNested::OpenOtherParent: nestedResult = editor->open(kOtherParent); break;
        case tNested::Close: editor->close(); break;
        case tNested::HostChange: effect.setParameter(kMix, 0.2f); break;
        case tNested::Idle: editor->idle(); break;
      }
      pumpsDuringNested = log.pumped - pumpsBeforeNested;
    };
    if (r.stage == tStage::Attach) {
      hooks.attach = [nested](void* parent) {
        nested();
        return parent != kRefusedParent;
      };
    } else {
      hooks.detach = nested;
    }
  }

  bool fired = false;
  int32_t nestedResult = 0;
  ERect* nestedRect = nullptr;
  int pumpsBeforeNested = 0;
  int pumpsDuringNested = 0;
};

TEST_P(Reentry, NoDeadlockAndTheHostsLastWordHolds) {
  const tReentry& r = GetParam();
  if (r.stage == tStage::Detach) Open();
  Arm(r);
  if (r.stage == tStage::Attach)
    EXPECT_EQ(editor->open(kParent), 1);
  else
    editor->close();
  ASSERT_TRUE(fired);

  if (r.nested == tNested::GetRect || r.nested == tNested::OpenSameParent ||
      r.nested == tNested::OpenOtherParent) {
    EXPECT_EQ(nestedResult, r.nestedResult);
  }
  if (r.nested == tNested::GetRect) {
    ASSERT_NE(nestedRect, nullptr);
    EXPECT_EQ(nestedRect->right, 828);
    EXPECT_EQ(nestedRect->bottom, 423);
  }
  EXPECT_EQ(pumpsDuringNested, 0) << "the window was pumped in the middle of its own attach";
  EXPECT_EQ(editor->IsOpen(), r.openAfterwards);
  EXPECT_EQ(editor->Window()->ParentWindow(), r.openAfterwards ? kParent : nullptr)
      << "the window's state differs from the editor's";
  EXPECT_FALSE(editor->Updating());

  // A host change made from inside reaches the form at the next idle, unwritten back.
  tVoicemultiplyEditForm& form = *editor->Form();
  editor->idle();
  if (r.nested == tNested::HostChange) {
    EXPECT_EQ(form.Mix, 0.2f);
  }
  EXPECT_EQ(editor->writeBacks, 0);

  // And the editor goes on as usual.
  hooks = {};
  EXPECT_EQ(editor->open(kOtherParent), 1);
  EXPECT_TRUE(editor->IsOpen());
  EXPECT_EQ(editor->Window()->ParentWindow(), kOtherParent);
  effect.setParameter(kGain, 0.3f);
  EXPECT_EQ(form.Gain, 0.3f);
  editor->close();
  EXPECT_FALSE(editor->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Cases, Reentry, ::testing::ValuesIn(kReentries),
                         [](const ::testing::TestParamInfo<tReentry>& info) { return info.param.name; });

}  // namespace
}  // namespace vm::testing_editor
