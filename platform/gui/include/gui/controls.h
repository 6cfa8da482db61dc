// The common base of every visual component: position and size in the parent's client coordinates, visibility,
// enabled state, cursor, font and colour (taken from the parent while ParentFont/ParentColor hold), alignment,
// and the click event. TWinControl holds other controls (forms, panels, group boxes) and their tab order;
// TGraphicControl is a control without children (labels, images, bevels, paint boxes).
//
// Controls are Qt widgets underneath and belong to the GUI thread. The concrete classes live in stdctrls.h,
// buttons.h, extctrls.h and forms.h; each publishes its properties and events in one table next to its code,
// which is what stored form descriptions can set (platform/gui/README.md lists them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/graphics.h"

class QWidget;

using TCursor = std::int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

// Cursor identifiers as descriptions store them ("crHandPoint"), compared without case.
bool IdentToCursor(const std::string& ident, TCursor& cursor);

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// Borders of forms (all values) and of list boxes (bsNone, bsSingle).
enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

class TWinControl;

class TControl : public TComponent {
 public:
  TARVO_PUBLISHED(TControl)
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  void SetParent(TWinControl* parent);
  void SetParentComponent(TComponent* parent) override;

  int Left() const { return FLeft; }
  void SetLeft(int left) { SetBounds(left, FTop, FWidth, FHeight); }
  int Top() const { return FTop; }
  void SetTop(int top) { SetBounds(FLeft, top, FWidth, FHeight); }
  int Width() const { return FWidth; }
  void SetWidth(int width) { SetBounds(FLeft, FTop, width, FHeight); }
  int Height() const { return FHeight; }
  void SetHeight(int height) { SetBounds(FLeft, FTop, FWidth, height); }
  virtual void SetBounds(int left, int top, int width, int height);
  virtual int ClientWidth() const { return FWidth; }
  virtual int ClientHeight() const { return FHeight; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Shown on screen: visible itself and all its parents.
  bool Showing() const;
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool enabled);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor cursor);
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign align);

  TFont* Font() const { return FFont.get(); }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool parentFont);
  TColor Color() const { return FColor; }
  void SetColor(TColor color);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool parentColor);

  // Captions of the classes that show one (labels, buttons, group boxes, panels, forms).
  const std::string& Caption() const { return FCaption; }
  virtual void SetCaption(const std::string& caption);

  // Paints the control now, before returning.
  virtual void Repaint();
  // Asks for a paint when the GUI thread next gets to it.
  void Invalidate();

  TNotifyEvent OnClick;

  // The Qt widget underneath (for tests and for the layers above that host windows).
  QWidget* Widget() const { return FWidget; }
  // Called by the widget: a complete click (press and release inside) while the control is enabled.
  void WidgetClicked();
  // The control's font or colour as it applies to the widget, after a change of its own or its parent's.
  void ParentFontChanged();
  void ParentColorChanged();

 protected:
  // widget: the control's Qt widget, created by the concrete class and owned from here on.
  TControl(TComponent* AOwner, QWidget* widget);
  // Fires OnClick; an exception goes to the application's standard exception display.
  virtual void Click();
  // Applies font, colour, caption and geometry to the widget; overrides add their own and call these.
  virtual void ApplyFont();
  virtual void ApplyColor();
  virtual void ApplyCaption() {}
  virtual void ApplyBounds();

  int FLeft = 0;
  int FTop = 0;
  int FWidth = 0;
  int FHeight = 0;
  std::string FCaption;
  bool FVisible = true;

 private:
  void FontChangedByUser();
  QWidget* FWidget = nullptr;
  TWinControl* FParent = nullptr;
  bool FEnabled = true;
  TCursor FCursor = crDefault;
  TAlign FAlign = alNone;
  std::unique_ptr<TFont> FFont;
  bool FParentFont = true;
  bool FUpdatingFont = false;
  TColor FColor = clBtnFace;
  bool FParentColor = false;
  friend class TWinControl;
};

// A control that holds other controls.
class TWinControl : public TControl {
 public:
  TARVO_PUBLISHED(TWinControl)
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const;  // EListError outside 0..ControlCount-1
  // Order in which Tab moves focus among the parent's windowed controls; -1 until given.
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int order);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool tabStop);
  // The windowed children in tab order (for tests and focus handling).
  std::vector<TWinControl*> TabList() const;
  // Every windowed control inside this one in the order Tab visits them: each child in tab order, followed at
  // once by the controls inside it, so that a group box's controls take the group box's own place.
  std::vector<TWinControl*> TabOrderList() const;
  // Can hold the keyboard focus: a control that takes it, enabled and visible, and so are its parents below the
  // form (which need not be shown yet: a form chooses its first focus before it shows).
  bool CanFocus() const;
  // Where Tab (forward) or Shift+Tab moves the focus from current: the next control of TabOrderList, wrapping
  // around, that is a tab stop and can focus. From nullptr: the first (or the last) such control; nullptr when
  // there is none.
  TWinControl* FindNextControl(const TWinControl* current, bool forward) const;

  void Loaded() override;
  void SetEnabled(bool enabled) override;
  // The widget that child controls' widgets are placed in.
  virtual QWidget* ClientWidget() const { return Widget(); }
  // Places alTop/alBottom/alLeft/alRight/alClient children in the client area, in that order.
  void AlignControls();

 protected:
  TWinControl(TComponent* AOwner, QWidget* widget);
  void ApplyFont() override;
  void ApplyColor() override;
  void ApplyBounds() override;
  // Makes Qt's focus chain of the whole window follow TabOrderList, for what Qt does by itself.
  void ApplyTabOrder();

 private:
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  std::vector<TControl*> FControls;
  int FTabOrder = -1;
  bool FTabStop = false;
  friend class TControl;
};

// A control without children of its own.
class TGraphicControl : public TControl {
 public:
  TARVO_PUBLISHED(TGraphicControl)

 protected:
  TGraphicControl(TComponent* AOwner, QWidget* widget);
};
