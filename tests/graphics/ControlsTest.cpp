#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/Controls.h"

namespace vm {
namespace {

// A control that records its mouse events and paints one colour.
class Probe : public TControl {
 public:
  explicit Probe(TColor c) : colour(c) {}
  void Paint(TCanvas& canvas) override {
    canvas.Brush.Color = colour;
    canvas.FillRect(Bounds(0, 0, Width(), Height()));
  }
  void MouseDown(TMouseButton, int x, int y) override { log.push_back("down " + std::to_string(x) + "," + std::to_string(y)); }
  void MouseMove(int x, int y) override { log.push_back("move " + std::to_string(x) + "," + std::to_string(y)); }
  void MouseUp(TMouseButton, int x, int y) override { log.push_back("up " + std::to_string(x) + "," + std::to_string(y)); }
  TColor colour;
  std::vector<std::string> log;
};

TEST(Form, LaterChildrenPaintOverEarlierOnes) {
  TForm form(20, 20);
  auto* below = form.Make<Probe>(clRed);
  below->SetBounds(0, 0, 10, 10);
  auto* above = form.Make<Probe>(clBlue);
  above->SetBounds(5, 5, 10, 10);
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Colour(2, 2), clRed);
  EXPECT_EQ(form.BackBuffer().Colour(7, 7), clBlue);
  EXPECT_EQ(form.BackBuffer().Colour(18, 2), form.Color);
  above->Hide();
  EXPECT_EQ(form.InvalidRect(), Bounds(5, 5, 10, 10));
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Colour(7, 7), clRed);
  EXPECT_EQ(form.TakeChangedRect().Width(), 20);  // first paint covered everything
  EXPECT_TRUE(form.TakeChangedRect().IsEmpty());
}

TEST(Form, MouseGoesToTopmostEnabledControlWithCapture) {
  TForm form(40, 40);
  auto* below = form.Make<Probe>(clRed);
  below->SetBounds(0, 0, 20, 20);
  auto* above = form.Make<Probe>(clBlue);
  above->SetBounds(10, 10, 20, 20);
  auto* disabled = form.Make<Probe>(clLime);
  disabled->SetBounds(0, 0, 40, 40);
  disabled->SetEnabled(false);

  form.MouseDown(TMouseButton::mbLeft, 12, 12);
  form.MouseMove(2, 3);  // outside, still captured
  form.MouseUp(TMouseButton::mbLeft, 2, 3);
  form.MouseMove(5, 5);  // no capture: the control under the pointer
  EXPECT_EQ(above->log, (std::vector<std::string>{"down 2,2", "move -8,-7", "up -8,-7"}));
  EXPECT_EQ(below->log, (std::vector<std::string>{"move 5,5"}));
  EXPECT_TRUE(disabled->log.empty());
  EXPECT_EQ(form.Captured(), nullptr);
}

TEST(Form, ClickFiresOnlyWhenReleasedOverTheControl) {
  TForm form(40, 40);
  auto* probe = form.Make<Probe>(clRed);
  probe->SetBounds(0, 0, 10, 10);
  int clicks = 0;
  probe->OnClick = [&](TControl* sender) { clicks += sender == probe; };
  form.MouseDown(TMouseButton::mbLeft, 5, 5);
  form.MouseUp(TMouseButton::mbLeft, 5, 5);
  form.MouseDown(TMouseButton::mbLeft, 5, 5);
  form.MouseUp(TMouseButton::mbLeft, 30, 30);
  EXPECT_EQ(clicks, 1);
}

TEST(Label, SizesItselfAndKeepsItsRightEdgeWhenRightAligned) {
  TForm form(200, 50);
  auto* label = form.Make<TLabel>();
  label->Alignment = TAlignment::taRightJustify;
  label->SetBounds(100, 5, 50, 13);
  label->SetCaption("Bass Formants && Level");
  EXPECT_EQ(label->DisplayText(), "Bass Formants & Level");
  EXPECT_EQ(label->Left() + label->Width(), 150);
  EXPECT_EQ(label->Width(), TextWidth(label->Font(), "Bass Formants & Level"));
  EXPECT_EQ(label->Height(), 13);
  // Transparent: the form shows between the letters.
  TFont font;
  font.Color = clWhite;
  label->SetFont(font);
  form.Color = clBlack;
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Colour(label->Left(), label->Top() + 12), clBlack);
}

TEST(Image, StretchedAndTransparentPictures) {
  TForm form(20, 10);
  form.Color = clBlue;
  auto* image = form.Make<TImage>();
  image->SetBounds(0, 0, 20, 10);
  TBitmap picture(2, 1, clWhite);
  picture.SetColour(0, 0, clRed);
  image->SetPicture(picture);
  image->Stretch = true;
  image->SetTransparent(true);
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Colour(9, 9), clRed);
  EXPECT_EQ(form.BackBuffer().Colour(10, 0), clBlue);  // white left out
}

TEST(Bevel, LeftLineIsShadowThenHighlight) {
  TForm form(9, 10);
  form.Color = clBlack;
  auto* bevel = form.Make<TBevel>();
  bevel->SetBounds(0, 0, 9, 10);
  bevel->Shape = TBevelShape::bsLeftLine;
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Colour(0, 5), clBtnShadow);
  EXPECT_EQ(form.BackBuffer().Colour(1, 5), clBtnHighlight);
  EXPECT_EQ(form.BackBuffer().Colour(2, 5), clBlack);
}

}  // namespace
}  // namespace vm
