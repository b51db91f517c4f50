// The light-weight control model: a form holding controls without windows of their own,
// in creation order, painted later-over-earlier into the form's 32-bit back buffer.
// The form collects invalid rectangles, repaints them on request and reports which part
// of the back buffer changed so a native window can copy it to the screen. Mouse events
// go to the topmost visible, enabled control under the pointer, with capture from
// button down to button up.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Canvas.h"

namespace vm {

class TControl;
class TForm;

using TNotifyEvent = std::function<void(TControl* sender)>;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TControl {
 public:
  TControl();
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  std::string Name;

  // Moves the control into `form`'s child list (at its end), leaving the old one.
  virtual void SetParent(TForm* form);
  TForm* Parent() const { return parent; }

  int Left() const { return bounds.Left; }
  int Top() const { return bounds.Top; }
  int Width() const { return bounds.Width(); }
  int Height() const { return bounds.Height(); }
  TRect BoundsRect() const { return bounds; }
  virtual void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }

  bool Visible() const { return visible; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled; }
  void SetEnabled(bool v);

  // The control's own font, or the parent's while ParentFont is set.
  const TFont& Font() const;
  void SetFont(const TFont& f);
  bool ParentFont() const { return parentFont; }
  void SetParentFont(bool v);

  // True while the form description is applied (setters then skip their side effects).
  bool Loading() const { return loading; }
  void BeginLoad() { loading = true; }
  virtual void EndLoad() { loading = false; }
  bool Destroying() const { return destroying; }

  // Asks the form to repaint the control's rectangle later / now.
  void Invalidate();
  void Repaint();
  // A canvas on the form's back buffer in control coordinates, clipped to the control,
  // for drawing outside of a paint; the form reports the area as changed.
  TCanvas GetCanvas();

  virtual void Paint(TCanvas& canvas) = 0;
  virtual void MouseDown(TMouseButton, int /*x*/, int /*y*/) {}
  virtual void MouseMove(int /*x*/, int /*y*/) {}
  virtual void MouseUp(TMouseButton, int /*x*/, int /*y*/) {}
  // Whether a mouse event at (x, y) of the control (its own coordinates) hits it.
  virtual bool HitTest(int x, int y) const { return x >= 0 && y >= 0 && x < Width() && y < Height(); }

  TNotifyEvent OnClick;  // fired on a button up over the control after a down on it

 protected:
  virtual void EnabledChanged() {}
  virtual void FontChanged() {}
  void MarkDestroying() { destroying = true; }

 private:
  friend class TForm;
  TForm* parent = nullptr;
  TRect bounds = Bounds(0, 0, 0, 0);
  bool visible = true;
  bool enabled = true;
  bool parentFont = true;
  bool loading = false;
  bool destroying = false;
  TFont font;
};

class TForm {
 public:
  TForm(int clientWidth, int clientHeight);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Makes a control owned by the form and placed on it (at the end of the child list).
  template <class T, class... Args>
  T* Make(Args&&... args) {
    auto control = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = control.get();
    owned.push_back(std::move(control));
    raw->SetParent(this);
    return raw;
  }

  int ClientWidth() const { return backBuffer.Width(); }
  int ClientHeight() const { return backBuffer.Height(); }
  void SetClientSize(int width, int height);

  TColor Color = clBtnFace;
  TFont Font;
  // Screen resolution the native window reports; the form is designed at 96 and does not
  // scale itself, it only keeps the value for those who convert points to pixels.
  int PixelsPerInch = 96;

  const std::vector<TControl*>& Controls() const { return children; }
  TControl* FindControl(const std::string& name) const;

  // Invalidation and painting into the back buffer.
  void Invalidate(const TRect& r);
  void Invalidate() { Invalidate(Bounds(0, 0, ClientWidth(), ClientHeight())); }
  TRect InvalidRect() const { return invalid; }
  void PaintInvalid();                  // repaints and clears the invalid rectangle
  void PaintRect(const TRect& r);       // repaints r at once
  const TBitmap& BackBuffer() const { return backBuffer; }
  TBitmap& BackBuffer() { return backBuffer; }
  // Area of the back buffer changed since the last call (to copy to the screen).
  TRect TakeChangedRect();
  void MarkChanged(const TRect& r) { changed = changed.Union(r.Intersect(Bounds(0, 0, ClientWidth(), ClientHeight()))); }
  // Called when something becomes invalid, so a native window can schedule a repaint.
  std::function<void()> OnInvalidate;

  // Mouse input in client coordinates.
  void MouseDown(TMouseButton button, int x, int y);
  void MouseMove(int x, int y);
  void MouseUp(TMouseButton button, int x, int y);
  TControl* ControlAt(int x, int y) const;  // topmost visible, enabled control
  TControl* Captured() const { return captured; }

 private:
  friend class TControl;
  void Attach(TControl* c);
  void Detach(TControl* c);

  TBitmap backBuffer;
  TRect invalid;
  TRect changed;
  std::vector<TControl*> children;
  std::vector<std::unique_ptr<TControl>> owned;
  TControl* captured = nullptr;
  TMouseButton capturedButton = TMouseButton::mbLeft;
};

// A picture, plain, stretched to the control, or with its transparent colour left out.
class TImage : public TControl {
 public:
  TBitmap Picture;
  bool Stretch = false;
  void SetTransparent(bool v);
  bool Transparent() const { return Picture.Transparent; }
  // Replaces the picture (keeping the transparency setting) and repaints.
  void SetPicture(const TBitmap& bitmap);
  void Paint(TCanvas& canvas) override;
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// A line of text; with AutoSize it takes the size of its text (right-aligned labels keep
// their right edge, centred ones their centre). A doubled ampersand shows as one.
class TLabel : public TControl {
 public:
  TLabel();
  const std::string& Caption() const { return caption; }
  void SetCaption(const std::string& text);
  std::string DisplayText() const;
  bool AutoSize = true;
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool Transparent = true;
  TColor Color = clBtnFace;  // background when not transparent
  void SetBounds(int left, int top, int width, int height) override;
  void EndLoad() override;
  void Paint(TCanvas& canvas) override;
  // The pen position at which the text starts, by the alignment, in label pixels.
  int TextStart() const;

 protected:
  void FontChanged() override;

 private:
  void AdjustBounds();
  std::string caption;
};

// A plain area whose owner draws it in OnPaint.
class TPaintBox : public TControl {
 public:
  std::function<void(TPaintBox* sender, TCanvas& canvas)> OnPaint;
  void Paint(TCanvas& canvas) override;
};

enum class TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum class TBevelStyle { bsLowered, bsRaised };

// A 3-D line or frame in the system shadow and highlight colours.
class TBevel : public TControl {
 public:
  TBevelShape Shape = TBevelShape::bsBox;
  TBevelStyle Style = TBevelStyle::bsLowered;
  void Paint(TCanvas& canvas) override;
};

}  // namespace vm
