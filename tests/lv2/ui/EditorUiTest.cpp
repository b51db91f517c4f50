// The LV2 user interface through its descriptor, as a host drives it: a fake host that
// records what the interface writes to its ports, a real parent window on a virtual X
// server, port events from the host, gestures on the form and in the window.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "editor/FormSettings.h"
#include "engine/Parameters.h"
#include "lv2/PortMapping.h"
#include "lv2/ui/EditorUi.h"

#include <lv2/ui/ui.h>  // declares lv2ui_descriptor, linked in from the module's objects

// Last: Xlib defines None, Bool, Status and friends as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace vm::lv2 {
namespace {

constexpr const char* kPluginUri = "urn:voicemultiply:VoicemultiplyV42_MS";
constexpr const char* kUiUri = "urn:voicemultiply:VoicemultiplyV42_MS#ui";

uint32_t PortOf(tParameterIndex index) { return kFirstControlPort + static_cast<uint32_t>(index); }

// One call of the host's write function.
struct tWrite {
  uint32_t port, size, protocol;
  float value;
};

struct tFakeHost {
  std::vector<tWrite> writes;
  std::vector<std::pair<int, int>> sizes;  // announced through ui:resize

  static void Write(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t protocol,
                    const void* buffer) {
    float value = std::numeric_limits<float>::quiet_NaN();
    if (size == sizeof(float)) value = *static_cast<const float*>(buffer);
    static_cast<tFakeHost*>(controller)->writes.push_back({port, size, protocol, value});
  }
  static int Resize(LV2UI_Feature_Handle handle, int width, int height) {
    static_cast<tFakeHost*>(handle)->sizes.emplace_back(width, height);
    return 0;
  }
};

class EditorUi : public ::testing::Test {
 protected:
  void SetUp() override {
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X display (the test runs under xvfb-run)";
    const int screen = DefaultScreen(display);
    parent = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 900, 500, 0,
                                 BlackPixel(display, screen), WhitePixel(display, screen));
    XMapRaised(display, parent);
    XSync(display, False);
    descriptor = lv2ui_descriptor(0);
    ASSERT_NE(descriptor, nullptr);
  }

  void TearDown() override {
    if (handle) descriptor->cleanup(handle);
    if (display) {
      XDestroyWindow(display, parent);
      XCloseDisplay(display);
    }
  }

  void* ParentHandle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(parent)); }

  // instantiate with the features a host such as jalv offers (or those given).
  LV2UI_Handle Instantiate(std::vector<const LV2_Feature*> features, const char* pluginUri = kPluginUri) {
    features.push_back(nullptr);
    return descriptor->instantiate(descriptor, pluginUri, "/nowhere/", &tFakeHost::Write, &host,
                                   &widget, features.data());
  }
  std::vector<const LV2_Feature*> HostFeatures() { return {&parentFeature, &idleFeature, &resizeFeature}; }

  tEditorUi& Ui() { return *static_cast<tEditorUi*>(handle); }
  tVoicemultiplyEditForm& Form() { return Ui().Form(); }

  void Send(uint32_t port, float value, uint32_t protocol = 0, uint32_t size = sizeof(float)) {
    descriptor->port_event(handle, port, size, protocol, &value);
  }
  void Idle() {
    static const auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(idle->idle(handle), 0) << "the interface asked to be closed";
  }

  std::vector<Window> ChildrenOfParent() const {
    Window root, up, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, parent, &root, &up, &children, &count)) result.assign(children, children + count);
    if (children) XFree(children);
    return result;
  }

  // A drag on a knob through the form's own mouse input: press at one side, move to the
  // other, release there. `during` runs before the release.
  void DragKnob(TRubberKnob& knob, int fromDx, int toDx, const std::function<void()>& during = {}) {
    const int x = knob.Left() + knob.CentreX(), y = knob.Top() + knob.CentreY();
    Form().MouseDown(TMouseButton::mbLeft, x + fromDx, y);
    Form().MouseMove(x + toDx, y);
    if (during) during();
    Form().MouseUp(TMouseButton::mbLeft, x + toDx, y);
  }
  void Click(TControl& c) {
    Form().MouseDown(TMouseButton::mbLeft, c.Left() + 20, c.Top() + 20);
    Form().MouseUp(TMouseButton::mbLeft, c.Left() + 20, c.Top() + 20);
  }

  Display* display = nullptr;
  Window parent = 0;
  const LV2UI_Descriptor* descriptor = nullptr;
  tFakeHost host;
  LV2UI_Widget widget = nullptr;
  LV2UI_Handle handle = nullptr;
  LV2_Feature parentFeature{LV2_UI__parent, nullptr};
  LV2_Feature idleFeature{LV2_UI__idleInterface, nullptr};
  LV2UI_Resize resize{&host, &tFakeHost::Resize};
  LV2_Feature resizeFeature{LV2_UI__resize, &resize};
};

TEST_F(EditorUi, DescriptorNamesTheInterfaceAndOffersOnlyTheIdleInterface) {
  EXPECT_STREQ(descriptor->URI, kUiUri);
  EXPECT_EQ(lv2ui_descriptor(1), nullptr);
  EXPECT_NE(descriptor->extension_data(LV2_UI__idleInterface), nullptr);
  EXPECT_EQ(descriptor->extension_data(LV2_UI__showInterface), nullptr);
  EXPECT_EQ(descriptor->extension_data(LV2_UI__resize), nullptr);
}

TEST_F(EditorUi, ShowsTheFormAsAChildOfTheHostsWindowAtItsFixedSize) {
  parentFeature.data = ParentHandle();
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  const std::vector<Window> children = ChildrenOfParent();
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(widget), children[0]) << "the widget is not the child window";
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(display, children[0], &attributes));
  EXPECT_EQ(attributes.width, 828);
  EXPECT_EQ(attributes.height, 423);
  EXPECT_EQ(attributes.map_state, IsViewable);
  ASSERT_EQ(host.sizes.size(), 1u);
  EXPECT_EQ(host.sizes[0], std::make_pair(828, 423));
  EXPECT_TRUE(host.writes.empty()) << "written before any gesture";
  // Before any port event the form shows the table's defaults.
  for (const tParameterInfo& p : kParameters)
    EXPECT_EQ(FormSetting(Form(), p.index), p.defaultSetting) << p.name;
}

// Toolkits often give their frames a 32-bit visual: the form's window, of the screen's
// default visual, must still be taken as its child.
TEST_F(EditorUi, AParentOfAnotherDepthTakesTheForm) {
  XVisualInfo info;
  ASSERT_TRUE(XMatchVisualInfo(display, DefaultScreen(display), 32, TrueColor, &info)) << "no 32-bit visual";
  XSetWindowAttributes attributes{};
  attributes.colormap = XCreateColormap(display, parent, info.visual, AllocNone);
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  const Window deepParent = XCreateWindow(display, parent, 0, 0, 828, 423, 0, 32, InputOutput, info.visual,
                                          CWColormap | CWBorderPixel | CWBackPixel, &attributes);
  XMapWindow(display, deepParent);
  XSync(display, False);
  parentFeature.data = reinterpret_cast<void*>(static_cast<uintptr_t>(deepParent));
  handle = Instantiate(HostFeatures());
  EXPECT_NE(handle, nullptr) << "the 32-bit parent refused the form's window";
  if (handle) descriptor->cleanup(handle);
  handle = nullptr;
  XDestroyWindow(display, deepParent);
  XFreeColormap(display, attributes.colormap);
}

TEST_F(EditorUi, InstantiateFailsCleanlyWithoutAUsableParentOrForAnotherPlugin) {
  enum class tParent { Absent, Null, NoWindow, Own };
  const struct {
    const char* name;
    tParent parent;
    const char* pluginUri;
  } cases[] = {
      {"no ui:parent", tParent::Absent, kPluginUri},
      {"ui:parent without a window", tParent::Null, kPluginUri},
      {"ui:parent naming no window", tParent::NoWindow, kPluginUri},
      {"another plug-in", tParent::Own, "urn:someone:else"},
  };
  for (const auto& c : cases) {
    std::vector<const LV2_Feature*> features{&idleFeature, &resizeFeature};
    if (c.parent != tParent::Absent) features.push_back(&parentFeature);
    parentFeature.data = c.parent == tParent::Own        ? ParentHandle()
                         : c.parent == tParent::NoWindow ? reinterpret_cast<void*>(uintptr_t{0x7ffffff0})
                                                         : nullptr;
    EXPECT_EQ(Instantiate(features, c.pluginUri), nullptr) << c.name;
    EXPECT_TRUE(ChildrenOfParent().empty()) << c.name << ": a window was left behind";
    EXPECT_TRUE(host.writes.empty()) << c.name;
  }
}

TEST_F(EditorUi, PortEventsMoveTheMatchingControlWithoutWritingBack) {
  parentFeature.data = ParentHandle();
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  Send(PortOf(kClones), 8);
  Send(PortOf(kSplit), 3);
  Send(PortOf(kSection), 2);
  Send(PortOf(kVibRandom), 1);
  Send(PortOf(kDynRandom), 0);
  Send(PortOf(kMix), 0.25f);
  Send(PortOf(kGain), 0.8f);
  tVoicemultiplyEditForm& form = Form();
  EXPECT_FLOAT_EQ(form.rkClones->Value(), 7.0f / 31.0f);
  EXPECT_EQ(form.Split, 3);
  EXPECT_TRUE(form.rbSectionC->LEDOn());
  EXPECT_FALSE(form.rbSectionA->LEDOn());
  EXPECT_TRUE(form.rbVibratoRandom->LEDOn());
  EXPECT_FALSE(form.rbDynamicsRandom->LEDOn());
  EXPECT_EQ(form.rkMix->Value(), 0.25f);
  EXPECT_EQ(form.rkGain->Value(), 0.8f);
  EXPECT_TRUE(host.writes.empty()) << "a host value was written back to the host";
}

TEST_F(EditorUi, BadPortEventsAreLimitedToTheRangeOrIgnored) {
  parentFeature.data = ParentHandle();
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    uint32_t port;
    float value;
    uint32_t protocol, size;
    tParameterIndex shown;
    float expected;  // the setting the form shows afterwards
  } cases[] = {
      {PortOf(kMix), nan, 0, 4, kMix, 1.0f},              // ignored: the default stays
      {PortOf(kMix), -5.0f, 0, 4, kMix, 0.0f},
      {PortOf(kGain), inf, 0, 4, kGain, 1.0f},
      {PortOf(kClones), 100.0f, 0, 4, kClones, 32.0f},
      {PortOf(kClones), -3.0f, 0, 4, kClones, 1.0f},
      {PortOf(kClones), 5.4f, 0, 4, kClones, 5.0f},
      {PortOf(kSplit), 7.6f, 0, 4, kSplit, 5.0f},
      {PortOf(kSection), 2.6f, 0, 4, kSection, 3.0f},
      {PortOf(kVibRandom), 0.7f, 0, 4, kVibRandom, 1.0f},
      {PortOf(kTiming), 0.9f, 1, 4, kTiming, 0.5f},        // another protocol: ignored
      {PortOf(kTiming), 0.9f, 0, 8, kTiming, 0.5f},        // not one float: ignored
      {PortOf(kTiming), nan, 0, 4, kTiming, 0.5f},
  };
  for (const auto& c : cases) {
    float buffer[2] = {c.value, c.value};
    descriptor->port_event(handle, c.port, c.size, c.protocol, buffer);
    EXPECT_EQ(FormSetting(Form(), c.shown), c.expected) << kParameters[c.shown].name << " <- " << c.value;
  }
  // Ports that are no parameter, and a missing buffer: nothing moves.
  std::vector<float> before;
  for (const tParameterInfo& p : kParameters) before.push_back(FormSetting(Form(), p.index));
  const uint32_t noParameter[] = {kInputPort, kLeftPort, kRightPort, kPortCount, kPortCount + 7, 0xffffffffu};
  for (const uint32_t port : noParameter)
    Send(port, 0.0f);
  descriptor->port_event(handle, PortOf(kMix), sizeof(float), 0, nullptr);
  for (const tParameterInfo& p : kParameters)
    EXPECT_EQ(FormSetting(Form(), p.index), before[static_cast<size_t>(p.index)]) << p.name;
  EXPECT_TRUE(host.writes.empty());
}

TEST_F(EditorUi, AGestureEndWritesOnlyTheChangedValuesInPortUnits) {
  parentFeature.data = ParentHandle();
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  Send(PortOf(kClones), 8);
  Send(PortOf(kMix), 0.3f);
  tVoicemultiplyEditForm& form = Form();

  // A followed drag: the display moves, the host hears only the release.
  DragKnob(*form.rkGain, -30, 30, [&] { EXPECT_TRUE(host.writes.empty()) << "written during the drag"; });
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0].port, PortOf(kGain));
  EXPECT_EQ(host.writes[0].size, sizeof(float));
  EXPECT_EQ(host.writes[0].protocol, 0u);
  EXPECT_EQ(host.writes[0].value, form.Gain);
  EXPECT_GT(host.writes[0].value, 0.6f);

  // The voice count goes out as a whole count, not as the knob's position.
  host.writes.clear();
  DragKnob(*form.rkClones, -30, 30);
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0].port, PortOf(kClones));
  const float count = host.writes[0].value;
  EXPECT_EQ(count, std::round(count));
  EXPECT_GE(count, 1.0f);
  EXPECT_LE(count, 32.0f);
  EXPECT_NE(count, 8.0f);

  // Buttons: a switch as 0/1, a section as its number.
  host.writes.clear();
  Click(*form.rbVibratoRandom);
  Click(*form.rbSectionD);
  ASSERT_EQ(host.writes.size(), 2u);
  EXPECT_EQ(host.writes[0].port, PortOf(kVibRandom));
  EXPECT_EQ(host.writes[0].value, 1.0f);
  EXPECT_EQ(host.writes[1].port, PortOf(kSection));
  EXPECT_EQ(host.writes[1].value, 3.0f);

  // A host value that arrived since is the host's: the next gesture leaves it alone.
  host.writes.clear();
  Send(PortOf(kGain), 0.1f);
  DragKnob(*form.rkTiming, -30, 30);
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0].port, PortOf(kTiming));
  EXPECT_EQ(form.Gain, 0.1f);
}

// The whole way a user's drag takes: X events on the interface's own window, handled by
// the host's idle calls.
TEST_F(EditorUi, ADragInTheWindowIsWrittenAfterTheReleaseHandledByIdle) {
  int eventBase, errorBase, major, minor;
  ASSERT_TRUE(XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor));
  parentFeature.data = ParentHandle();
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  const auto idleUntil = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
      XSync(display, False);
      Idle();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  };
  idleUntil([] { return false; });  // no event yet: nothing to do but paint
  const TRubberKnob& mix = *Form().rkMix;
  const int x = mix.Left() + mix.CentreX(), y = mix.Top() + mix.CentreY();
  const auto pointerTo = [&](int dx) {
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, reinterpret_cast<uintptr_t>(widget), DefaultRootWindow(display),
                          x + dx, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
  };
  pointerTo(-30);
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  pointerTo(30);
  ASSERT_TRUE(idleUntil([&] { return Form().Mix != 1.0f; })) << "the drag never reached the form";
  EXPECT_TRUE(host.writes.empty()) << "written during the drag";
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  ASSERT_TRUE(idleUntil([&] { return !host.writes.empty(); })) << "the release was never written";
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0].port, PortOf(kMix));
  EXPECT_EQ(host.writes[0].value, Form().Mix);
}

TEST_F(EditorUi, CleanupTakesTheWindowAwayWithOrWithoutIdleCalls) {
  parentFeature.data = ParentHandle();
  for (const int idles : {0, 1, 20}) {
    handle = Instantiate(HostFeatures());
    ASSERT_NE(handle, nullptr) << idles;
    Send(PortOf(kMix), 0.5f);
    for (int i = 0; i < idles; ++i) Idle();
    descriptor->cleanup(handle);
    handle = nullptr;
    XSync(display, False);
    EXPECT_TRUE(ChildrenOfParent().empty()) << idles << " idle calls: the window outlived cleanup";
  }
  EXPECT_TRUE(host.writes.empty());
}

// Toolkits often destroy their frame (and with it the interface's window) before they call
// cleanup; idle and cleanup must then neither fail nor reach the destroyed windows.
TEST_F(EditorUi, CleanupAfterTheHostDestroyedItsWindow) {
  const int screen = DefaultScreen(display);
  const Window frame = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 828, 423, 0,
                                           BlackPixel(display, screen), BlackPixel(display, screen));
  XMapWindow(display, frame);
  XSync(display, False);
  parentFeature.data = reinterpret_cast<void*>(static_cast<uintptr_t>(frame));
  handle = Instantiate(HostFeatures());
  ASSERT_NE(handle, nullptr);
  Idle();
  XDestroyWindow(display, frame);
  XSync(display, False);
  Idle();
  Send(PortOf(kMix), 0.5f);
  Idle();
  EXPECT_EQ(Form().Mix, 0.5f) << "the interface stopped taking port events";
  descriptor->cleanup(handle);
  handle = nullptr;
  EXPECT_TRUE(host.writes.empty());
}

}  // namespace
}  // namespace vm::lv2
