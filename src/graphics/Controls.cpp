#include "graphics/Controls.h"

#include <algorithm>

namespace vm {

// ---- TControl -------------------------------------------------------------------------

TControl::TControl() = default;

TControl::~TControl() {
  destroying = true;
  SetParent(nullptr);
}

void TControl::SetParent(TForm* form) {
  if (form == parent) return;
  if (parent != nullptr) {
    parent->Invalidate(bounds);
    parent->Detach(this);
  }
  parent = form;
  if (parent != nullptr) {
    parent->Attach(this);
    Invalidate();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  const TRect next = Bounds(left, top, std::max(width, 0), std::max(height, 0));
  if (next == bounds) return;
  Invalidate();
  bounds = next;
  Invalidate();
}

void TControl::SetVisible(bool v) {
  if (v == visible) return;
  visible = v;
  if (parent != nullptr) parent->Invalidate(bounds);
}

void TControl::SetEnabled(bool v) {
  if (v == enabled) return;
  enabled = v;
  EnabledChanged();
  Invalidate();
}

const TFont& TControl::Font() const { return parentFont && parent != nullptr ? parent->Font : font; }

void TControl::SetFont(const TFont& f) {
  font = f;
  parentFont = false;
  FontChanged();
  Invalidate();
}

void TControl::SetParentFont(bool v) {
  if (v == parentFont) return;
  if (!v && parent != nullptr) font = parent->Font;
  parentFont = v;
  FontChanged();
  Invalidate();
}

void TControl::Invalidate() {
  if (visible && parent != nullptr) parent->Invalidate(bounds);
}

void TControl::Repaint() {
  if (visible && parent != nullptr) parent->PaintRect(bounds);
}

TCanvas TControl::GetCanvas() {
  static TBitmap nowhere;
  if (parent == nullptr) return TCanvas(nowhere);
  parent->MarkChanged(bounds);
  return TCanvas(parent->BackBuffer(), bounds.Left, bounds.Top, bounds);
}

// ---- TForm ----------------------------------------------------------------------------

TForm::TForm(int clientWidth, int clientHeight) : backBuffer(clientWidth, clientHeight, clBtnFace) {
  Font.Name = "MS Sans Serif";
  Font.Height = -11;
  Invalidate();
}

TForm::~TForm() {
  while (!owned.empty()) owned.pop_back();  // last made, first freed
  for (TControl* c : children) c->parent = nullptr;
}

void TForm::SetClientSize(int width, int height) {
  backBuffer.SetSize(width, height, Color);
  invalid = {};
  Invalidate();
}

TControl* TForm::FindControl(const std::string& name) const {
  for (TControl* c : children)
    if (c->Name == name) return c;
  return nullptr;
}

void TForm::Attach(TControl* c) { children.push_back(c); }

void TForm::Detach(TControl* c) {
  std::erase(children, c);
  if (captured == c) captured = nullptr;
}

void TForm::Invalidate(const TRect& r) {
  const TRect inside = r.Intersect(Bounds(0, 0, ClientWidth(), ClientHeight()));
  if (inside.IsEmpty()) return;
  invalid = invalid.Union(inside);
  if (OnInvalidate) OnInvalidate();
}

void TForm::PaintRect(const TRect& r) {
  const TRect area = r.Intersect(Bounds(0, 0, ClientWidth(), ClientHeight()));
  if (area.IsEmpty()) return;
  TCanvas background(backBuffer);
  background.Brush.Color = Color;
  background.FillRect(area);
  // A paint may move other controls (a knob places its dot); iterate over a snapshot.
  const std::vector<TControl*> order = children;
  for (TControl* c : order) {
    if (!c->visible || c->bounds.Intersect(area).IsEmpty()) continue;
    TCanvas canvas(backBuffer, c->bounds.Left, c->bounds.Top, c->bounds.Intersect(area));
    canvas.Font = c->Font();
    c->Paint(canvas);
  }
  MarkChanged(area);
}

void TForm::PaintInvalid() {
  // Painting can invalidate again (controls placed during a paint); a few rounds settle it.
  for (int round = 0; round < 4 && !invalid.IsEmpty(); ++round) {
    const TRect area = invalid;
    invalid = {};
    PaintRect(area);
  }
}

TRect TForm::TakeChangedRect() {
  const TRect r = changed;
  changed = {};
  return r;
}

TControl* TForm::ControlAt(int x, int y) const {
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    TControl* c = *it;
    if (c->visible && c->enabled && c->HitTest(x - c->Left(), y - c->Top())) return c;
  }
  return nullptr;
}

void TForm::MouseDown(TMouseButton button, int x, int y) {
  if (captured != nullptr) return;  // a second button while one is held goes to the same gesture
  captured = ControlAt(x, y);
  capturedButton = button;
  if (captured != nullptr) captured->MouseDown(button, x - captured->Left(), y - captured->Top());
}

void TForm::MouseMove(int x, int y) {
  TControl* target = captured != nullptr ? captured : ControlAt(x, y);
  if (target != nullptr) target->MouseMove(x - target->Left(), y - target->Top());
}

void TForm::MouseUp(TMouseButton button, int x, int y) {
  TControl* target = captured;
  if (target == nullptr || button != capturedButton) return;
  captured = nullptr;
  const int cx = x - target->Left(), cy = y - target->Top();
  target->MouseUp(button, cx, cy);
  // The handler may have freed or re-parented the control; only click what is still here.
  if (std::find(children.begin(), children.end(), target) != children.end() && target->HitTest(cx, cy) &&
      target->OnClick)
    target->OnClick(target);
}

// ---- TImage ---------------------------------------------------------------------------

void TImage::SetTransparent(bool v) {
  if (Picture.Transparent == v) return;
  Picture.Transparent = v;
  Invalidate();
}

void TImage::SetPicture(const TBitmap& bitmap) {
  const bool transparent = Picture.Transparent;
  Picture = bitmap;
  Picture.Transparent = transparent || bitmap.Transparent;
  Invalidate();
}

void TImage::Paint(TCanvas& canvas) {
  if (Picture.Empty()) return;
  if (Stretch)
    canvas.StretchDraw(Bounds(0, 0, Width(), Height()), Picture);
  else
    canvas.Draw(0, 0, Picture);
}

// ---- TLabel ---------------------------------------------------------------------------

TLabel::TLabel() { TControl::SetBounds(0, 0, 65, 13); }

void TLabel::SetCaption(const std::string& text) {
  if (text == caption) return;
  caption = text;
  AdjustBounds();
  Invalidate();
}

std::string TLabel::DisplayText() const {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&';
      ++i;  // a single ampersand marks the next character (underlined on the platform)
      if (i < caption.size() && caption[i] != '&') out += caption[i];
      continue;
    }
    out += caption[i];
  }
  return out;
}

void TLabel::SetBounds(int left, int top, int width, int height) {
  TControl::SetBounds(left, top, width, height);
  AdjustBounds();
}

void TLabel::EndLoad() {
  TControl::EndLoad();
  AdjustBounds();
}

void TLabel::FontChanged() { AdjustBounds(); }

namespace {

// Columns that drawn text takes from its pen start: its advances, widened by glyph ink
// reaching past them (at 11 pixels an "A" or a closing "y" is a pixel wider than its
// advance), so that a label sized to it cuts off none of its text.
struct tTextSpan {
  int Left;
  int Right;
  int Width() const { return Right - Left; }
};

tTextSpan SpanOf(const TFont& font, const std::string& text) {
  const TRect ink = TextInkBounds(font, text);
  const int advances = TextWidth(font, text);
  if (ink.IsEmpty()) return {0, advances};
  return {std::min(0, ink.Left), std::max(advances, ink.Right)};
}

}  // namespace

void TLabel::AdjustBounds() {
  if (!AutoSize || Loading()) return;
  const int width = SpanOf(Font(), DisplayText()).Width();
  const int height = TextHeight(Font());
  // Right-aligned labels keep their right edge, centred ones their centre.
  int left = Left();
  if (Alignment == TAlignment::taRightJustify) left += Width() - width;
  if (Alignment == TAlignment::taCenter) left += (Width() - width) / 2;
  TControl::SetBounds(left, Top(), width, height);
}

int TLabel::TextStart() const {
  const tTextSpan span = SpanOf(Font(), DisplayText());
  int x = 0;
  if (Alignment == TAlignment::taRightJustify) x = Width() - span.Width();
  if (Alignment == TAlignment::taCenter) x = (Width() - span.Width()) / 2;
  return x - span.Left;
}

void TLabel::Paint(TCanvas& canvas) {
  if (!Transparent) {
    canvas.Brush.Color = Color;
    canvas.FillRect(Bounds(0, 0, Width(), Height()));
  }
  canvas.TextOut(TextStart(), 0, DisplayText());
}

// ---- TPaintBox, TBevel ------------------------------------------------------------------

void TPaintBox::Paint(TCanvas& canvas) {
  if (OnPaint) OnPaint(this, canvas);
}

void TBevel::Paint(TCanvas& canvas) {
  const TColor first = Style == TBevelStyle::bsLowered ? clBtnShadow : clBtnHighlight;
  const TColor second = Style == TBevelStyle::bsLowered ? clBtnHighlight : clBtnShadow;
  const int w = Width(), h = Height();
  auto line = [&canvas](TColor c, int x0, int y0, int x1, int y1) {
    canvas.Pen.Color = c;
    canvas.MoveTo(x0, y0);
    canvas.LineTo(x1, y1);
  };
  switch (Shape) {
    case TBevelShape::bsBox:
      line(first, 0, h - 1, 0, 0);
      line(first, 0, 0, w, 0);
      line(second, w - 1, 0, w - 1, h);
      line(second, 0, h - 1, w - 1, h - 1);
      break;
    case TBevelShape::bsFrame:
      canvas.Brush.Color = first;
      canvas.FrameRect(Bounds(0, 0, w - 1, h - 1));
      canvas.Brush.Color = second;
      canvas.FrameRect(Bounds(1, 1, w - 1, h - 1));
      break;
    case TBevelShape::bsTopLine:
      line(first, 0, 0, w, 0);
      line(second, 0, 1, w, 1);
      break;
    case TBevelShape::bsBottomLine:
      line(first, 0, h - 2, w, h - 2);
      line(second, 0, h - 1, w, h - 1);
      break;
    case TBevelShape::bsLeftLine:
      line(first, 0, 0, 0, h);
      line(second, 1, 0, 1, h);
      break;
    case TBevelShape::bsRightLine:
      line(first, w - 2, 0, w - 2, h);
      line(second, w - 1, 0, w - 1, h);
      break;
    case TBevelShape::bsSpacer:
      break;
  }
}

}  // namespace vm
