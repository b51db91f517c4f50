#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controls/Artwork.h"
#include "controls/PlugInControls.h"
#include "graphics/Png.h"

namespace vm {
namespace {

using S = TRubberLEDButtonState;

std::string Name(S s) {
  switch (s) {
    case S::rlbUpOff: return "UpOff";
    case S::rlbDownOff: return "DownOff";
    case S::rlbUpOn: return "UpOn";
    case S::rlbDownOn: return "DownOn";
  }
  return "?";
}

struct ButtonFixture : ::testing::Test {
  TForm form{60, 60};
  TRubberLEDButton* button = form.Make<TRubberLEDButton>();
  std::vector<std::string> log;
  void SetUp() override {
    button->OnLEDChange = [this](TControl* s) { log.push_back("led " + Name(static_cast<TRubberLEDButton*>(s)->ButtonState())); };
    button->OnChange = [this](TControl* s) { log.push_back("change " + Name(static_cast<TRubberLEDButton*>(s)->ButtonState())); };
  }
  void Click() {
    form.MouseDown(TMouseButton::mbLeft, 5, 5);
    log.push_back("pressed " + Name(button->ButtonState()));
    form.MouseUp(TMouseButton::mbLeft, 5, 5);
  }
};

TEST_F(ButtonFixture, NotificationOrderWithAndWithoutQuickChange) {
  struct Case { bool quick; std::vector<std::string> first, second; };
  const Case cases[] = {
      {true, {"led UpOff", "pressed DownOn", "change UpOn"}, {"led UpOn", "pressed DownOff", "change UpOff"}},
      {false, {"pressed DownOff", "led DownOff", "change UpOn"}, {"pressed DownOn", "led DownOn", "change UpOff"}},
  };
  for (const Case& c : cases) {
    button->SetButtonState(S::rlbUpOff);
    button->QuickChange = c.quick;
    log.clear();
    Click();
    EXPECT_EQ(log, c.first) << "QuickChange " << c.quick;
    EXPECT_TRUE(button->LEDOn());
    log.clear();
    Click();
    EXPECT_EQ(log, c.second) << "QuickChange " << c.quick;
    EXPECT_FALSE(button->LEDOn());
  }
}

TEST_F(ButtonFixture, SettingTheStateLightsTheLampSilently) {
  button->SetButtonState(S::rlbUpOn);
  EXPECT_TRUE(button->LEDOn());
  button->SetButtonState(S::rlbDownOff);
  EXPECT_FALSE(button->LEDOn());
  EXPECT_TRUE(log.empty());
}

TEST_F(ButtonFixture, PicturesByStateAndEnabled) {
  TImage upOff, downOff, upOn, downOn, disOff, disOn;
  button->SetUpOff(&upOff);
  button->SetDownOff(&downOff);
  button->SetUpOn(&upOn);
  button->SetDownOn(&downOn);
  struct Case { S state; bool enabled; bool disabledSet; TImage* want; };
  const Case cases[] = {
      {S::rlbUpOff, true, true, &upOff},   {S::rlbUpOff, false, true, &disOff}, {S::rlbUpOff, false, false, &upOff},
      {S::rlbUpOn, true, true, &upOn},     {S::rlbUpOn, false, true, &disOn},   {S::rlbUpOn, false, false, &upOn},
      {S::rlbDownOn, false, true, &downOn}, {S::rlbDownOff, false, true, &downOff},
  };
  for (const Case& c : cases) {
    button->DisabledOff = c.disabledSet ? &disOff : nullptr;
    button->DisabledOn = c.disabledSet ? &disOn : nullptr;
    button->SetEnabled(c.enabled);
    button->SetButtonState(c.state);
    EXPECT_EQ(button->CurrentPicture(), c.want) << Name(c.state) << " enabled " << c.enabled;
  }
  button->SetDownOn(nullptr);
  button->SetButtonState(S::rlbDownOn);
  EXPECT_EQ(button->CurrentPicture(), nullptr);
  form.PaintInvalid();  // nothing to draw: no crash, form colour stays
  EXPECT_EQ(form.BackBuffer().Colour(5, 5), form.Color);
}

TEST_F(ButtonFixture, DisabledButtonIgnoresTheMouse) {
  button->SetEnabled(false);
  Click();
  EXPECT_EQ(log, (std::vector<std::string>{"pressed UpOff"}));
}

// The six section and random buttons' pictures in a recess, pressed and lit in turn.
TEST(ButtonSnapshot, StatesInARecess) {
  TForm form(161, 51);
  auto* recess = form.Make<TImage>();
  recess->SetBounds(0, 0, 161, 51);
  recess->SetPicture(artwork::Recess(161, 51));
  std::vector<std::unique_ptr<TImage>> pictures;
  auto picture = [&](TButtonPicture p) {
    pictures.push_back(std::make_unique<TImage>());
    pictures.back()->SetPicture(artwork::Button(p));
    return pictures.back().get();
  };
  const S states[] = {S::rlbUpOff, S::rlbDownOff, S::rlbUpOn, S::rlbDownOn};
  for (int k = 0; k < 4; ++k) {
    auto* button = form.Make<TRubberLEDButton>();
    button->SetBounds(3 + 39 * k, 3, 40, 48);
    button->SetUpOff(picture(TButtonPicture::UpOff));
    button->SetDownOff(picture(TButtonPicture::DownOff));
    button->SetUpOn(picture(TButtonPicture::UpOn));
    button->SetDownOn(picture(TButtonPicture::DownOn));
    button->SetButtonState(states[k]);
  }
  form.PaintInvalid();
  SaveSnapshot(form.BackBuffer(), "led_buttons");
  // Outside the keys' rounded corners the black recess shows, never the white key colour.
  EXPECT_EQ(form.BackBuffer().Colour(3, 3), clBlack);
  EXPECT_EQ(form.BackBuffer().Checksum(), 5447725698866996823ull);
}

}  // namespace
}  // namespace vm
