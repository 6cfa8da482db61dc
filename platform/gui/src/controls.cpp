// TControl, TWinControl and TGraphicControl (controls.h).
#include "gui/controls.h"

#include <QCursor>
#include <QPalette>
#include <algorithm>

#include "gui/forms.h"
#include "gui_p.h"
#include "props_p.h"

using namespace tarvo_gui;

namespace {

struct TCursorName {
  const char* Name;
  TCursor Value;
  Qt::CursorShape Shape;
};
constexpr TCursorName kCursors[] = {
    {"crDefault", crDefault, Qt::ArrowCursor},     {"crNone", crNone, Qt::BlankCursor},
    {"crArrow", crArrow, Qt::ArrowCursor},         {"crCross", crCross, Qt::CrossCursor},
    {"crIBeam", crIBeam, Qt::IBeamCursor},         {"crSizeNESW", crSizeNESW, Qt::SizeBDiagCursor},
    {"crSizeNS", crSizeNS, Qt::SizeVerCursor},     {"crSizeNWSE", crSizeNWSE, Qt::SizeFDiagCursor},
    {"crSizeWE", crSizeWE, Qt::SizeHorCursor},     {"crUpArrow", crUpArrow, Qt::UpArrowCursor},
    {"crHourGlass", crHourGlass, Qt::WaitCursor},  {"crNo", crNo, Qt::ForbiddenCursor},
    {"crAppStart", crAppStart, Qt::BusyCursor},    {"crHelp", crHelp, Qt::WhatsThisCursor},
    {"crHandPoint", crHandPoint, Qt::PointingHandCursor}, {"crSizeAll", crSizeAll, Qt::SizeAllCursor},
};

}  // namespace

bool IdentToCursor(const std::string& ident, TCursor& cursor) {
  for (const TCursorName& n : kCursors)
    if (SameText(ident, n.Name)) {
      cursor = n.Value;
      return true;
    }
  return false;
}

namespace tarvo_gui {

int QtCursorShape(TCursor cursor) {
  for (const TCursorName& n : kCursors)
    if (n.Value == cursor) return n.Shape;
  return Qt::ArrowCursor;
}

TCursor CursorFromValue(const TPropValue& v) {
  if (v.kind == TPropValue::Kind::Integer) {
    if (v.Int < -32768 || v.Int > 32767) throw EPropertyError(std::to_string(v.Int) + " is out of range -32768..32767");
    return static_cast<TCursor>(v.Int);
  }
  TCursor cursor;
  if (v.kind == TPropValue::Kind::Identifier && IdentToCursor(v.Str, cursor)) return cursor;
  if (v.kind == TPropValue::Kind::Identifier) throw EPropertyError("'" + v.Str + "' is not a cursor");
  throw EPropertyError("a cursor (crHandPoint, ... or a number) is expected");
}

TPropValue CursorToValue(TCursor cursor) {
  TPropValue v;
  for (const TCursorName& n : kCursors)
    if (n.Value == cursor) {
      v.kind = TPropValue::Kind::Identifier;
      v.Str = n.Name;
      return v;
    }
  v.Int = cursor;
  return v;
}

}  // namespace tarvo_gui

// --- TControl --------------------------------------------------------------------------------------------------

TARVO_PUBLISH(TControl, TComponent) {
  b.Property("Left", &TControl::Left, &TControl::SetLeft)
      .Property("Top", &TControl::Top, &TControl::SetTop)
      .Property("Width", &TControl::Width, &TControl::SetWidth)
      .Property("Height", &TControl::Height, &TControl::SetHeight)
      .Property("Visible", &TControl::Visible, &TControl::SetVisible)
      .Property("Enabled", &TControl::Enabled, &TControl::SetEnabled)
      .Custom(CursorProp<TControl>("Cursor", &TControl::Cursor, &TControl::SetCursor))
      .Enum<TAlign>("Align", &TControl::Align, &TControl::SetAlign,
                    {{"alNone", alNone}, {"alTop", alTop}, {"alBottom", alBottom}, {"alLeft", alLeft},
                     {"alRight", alRight}, {"alClient", alClient}})
      .Object("Font", &TControl::Font)
      .Property("ParentFont", &TControl::ParentFont, &TControl::SetParentFont)
      .Custom(ColorProp<TControl>("Color", &TControl::Color, &TControl::SetColor))
      .Property("ParentColor", &TControl::ParentColor, &TControl::SetParentColor);
}

TControl::TControl(TComponent* AOwner, QWidget* widget)
    : TComponent(AOwner), FWidget(widget), FFont(std::make_unique<TFont>()) {
  FFont->OnChange = [this](TObject*) { FontChangedByUser(); };
  // Until it has a parent the widget would be a window of its own: it stays hidden.
  FWidget->hide();
}

TControl::~TControl() {
  if (FParent != nullptr) FParent->RemoveControl(this);
  if (auto* link = dynamic_cast<TOwnerLink*>(FWidget)) link->Owner = nullptr;
  FFont->OnChange = nullptr;
  delete FWidget;
  FWidget = nullptr;
}

void TControl::SetParentComponent(TComponent* parent) {
  auto* winControl = dynamic_cast<TWinControl*>(parent);
  if (parent != nullptr && winControl == nullptr)
    throw EPropertyError("'" + Name() + "' cannot be placed inside '" + parent->Name() + "', which holds no controls");
  SetParent(winControl);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  for (TWinControl* p = parent; p != nullptr; p = p->Parent())
    if (p == this) throw EPropertyError("'" + Name() + "' cannot be placed inside itself");
  if (FParent != nullptr) FParent->RemoveControl(this);
  FParent = parent;
  if (parent != nullptr) {
    parent->InsertControl(this);
    FWidget->setParent(parent->ClientWidget());
    // The widget takes the control's font and colour now that it has a place to show them.
    if (FParentFont) ParentFontChanged(); else ApplyFont();
    if (FParentColor) ParentColorChanged(); else ApplyColor();
    ApplyBounds();
    FWidget->setVisible(FVisible);
    if (FAlign != alNone) parent->AlignControls();
  } else {
    FWidget->setParent(nullptr);
    FWidget->hide();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  FLeft = left;
  FTop = top;
  FWidth = std::max(width, 0);
  FHeight = std::max(height, 0);
  ApplyBounds();
  if (FParent != nullptr && FAlign != alNone) FParent->AlignControls();
}

void TControl::ApplyBounds() {
  if (FParent != nullptr) FWidget->setGeometry(FLeft, FTop, FWidth, FHeight);
}

void TControl::SetVisible(bool visible) {
  FVisible = visible;
  if (FParent != nullptr) FWidget->setVisible(visible);
  if (FParent != nullptr && FAlign != alNone) FParent->AlignControls();
}

bool TControl::Showing() const {
  if (!FVisible) return false;
  return FParent != nullptr ? FParent->Showing() : FWidget->isVisible();
}

void TControl::SetEnabled(bool enabled) { FEnabled = enabled; }

void TControl::SetCursor(TCursor cursor) {
  FCursor = cursor;
  if (cursor == crDefault)
    FWidget->unsetCursor();
  else
    FWidget->setCursor(QCursor(static_cast<Qt::CursorShape>(QtCursorShape(cursor))));
}

void TControl::SetAlign(TAlign align) {
  FAlign = align;
  if (FParent != nullptr) FParent->AlignControls();
}

void TControl::FontChangedByUser() {
  if (FUpdatingFont) return;
  FParentFont = false;
  ApplyFont();
}

void TControl::SetParentFont(bool parentFont) {
  FParentFont = parentFont;
  if (parentFont) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!FParentFont || FParent == nullptr) return;
  FUpdatingFont = true;
  FFont->Assign(*FParent->Font());
  FUpdatingFont = false;
  ApplyFont();
}

void TControl::SetColor(TColor color) {
  FColor = color;
  FParentColor = false;
  ApplyColor();
}

void TControl::SetParentColor(bool parentColor) {
  FParentColor = parentColor;
  if (parentColor) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!FParentColor || FParent == nullptr) return;
  FColor = FParent->Color();
  ApplyColor();
}

void TControl::ApplyFont() {
  FWidget->setFont(FFont->ToQFont());
  QPalette palette = FWidget->palette();
  QColor color = ToQColor(FFont->Color());
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::All, role, color);
  FWidget->setPalette(palette);
  FWidget->update();
}

void TControl::ApplyColor() {
  QPalette palette = FWidget->palette();
  palette.setColor(QPalette::All, QPalette::Window, ToQColor(FColor));
  FWidget->setPalette(palette);
  FWidget->update();
}

void TControl::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  ApplyCaption();
}

void TControl::Repaint() { FWidget->repaint(); }

void TControl::Invalidate() { FWidget->update(); }

void TControl::WidgetClicked() {
  if (!FEnabled) return;
  Click();
}

void TControl::Click() {
  if (OnClick) Guarded([this] { OnClick(this); });
}

// --- TWinControl -----------------------------------------------------------------------------------------------

TARVO_PUBLISH(TWinControl, TControl) {
  b.Property("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder)
      .Property("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop);
}

TWinControl::TWinControl(TComponent* AOwner, QWidget* widget) : TControl(AOwner, widget) {}

TWinControl::~TWinControl() {
  // Children that outlive their parent keep their widgets: the parent's widget would take them along.
  for (TControl* child : FControls) {
    child->FParent = nullptr;
    child->FWidget->setParent(nullptr);
    child->FWidget->hide();
  }
  FControls.clear();
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FControls[static_cast<std::size_t>(index)];
}

void TWinControl::InsertControl(TControl* control) { FControls.push_back(control); }

void TWinControl::RemoveControl(TControl* control) {
  FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
}

void TWinControl::SetEnabled(bool enabled) {
  TControl::SetEnabled(enabled);
  Widget()->setEnabled(enabled);
}

void TWinControl::ApplyFont() {
  TControl::ApplyFont();
  for (TControl* child : FControls) child->ParentFontChanged();
}

void TWinControl::ApplyColor() {
  TControl::ApplyColor();
  for (TControl* child : FControls) child->ParentColorChanged();
}

void TWinControl::ApplyBounds() {
  TControl::ApplyBounds();
  AlignControls();
}

void TWinControl::SetTabOrder(int order) {
  FTabOrder = order;
  if (Parent() != nullptr && (ComponentState() & csLoading) == 0) Parent()->ApplyTabOrder();
}

void TWinControl::SetTabStop(bool tabStop) {
  FTabStop = tabStop;
  if (Widget()->focusPolicy() != Qt::NoFocus) Widget()->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

std::vector<TWinControl*> TWinControl::TabList() const {
  std::vector<TWinControl*> list;
  for (TControl* child : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(child)) list.push_back(w);
  // Controls without a tab order go last, in the order they were placed.
  std::stable_sort(list.begin(), list.end(), [](TWinControl* a, TWinControl* b) {
    auto key = [](TWinControl* w) { return w->TabOrder() < 0 ? INT32_MAX : w->TabOrder(); };
    return key(a) < key(b);
  });
  return list;
}

namespace {

void AddTabOrder(const TWinControl* parent, std::vector<TWinControl*>& list) {
  for (TWinControl* w : parent->TabList()) {
    list.push_back(w);
    AddTabOrder(w, list);
  }
}

bool TakesTabFocus(const TWinControl* control) {
  return control->TabStop() && (control->Widget()->focusPolicy() & Qt::TabFocus) != 0 && control->CanFocus();
}

}  // namespace

bool TWinControl::CanFocus() const {
  if (Widget()->focusPolicy() == Qt::NoFocus) return false;
  for (const TWinControl* c = this; c->Parent() != nullptr; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

std::vector<TWinControl*> TWinControl::TabOrderList() const {
  std::vector<TWinControl*> list;
  AddTabOrder(this, list);
  return list;
}

TWinControl* TWinControl::FindNextControl(const TWinControl* current, bool forward) const {
  const std::vector<TWinControl*> list = TabOrderList();
  const std::size_t n = list.size();
  if (n == 0) return nullptr;
  auto at = std::find(list.begin(), list.end(), current);
  // Without a current control the first step lands on the first (or the last) control.
  std::size_t i = at != list.end() ? static_cast<std::size_t>(at - list.begin()) : forward ? n - 1 : 0;
  for (std::size_t step = 0; step < n; ++step) {
    i = forward ? (i + 1) % n : (i + n - 1) % n;
    if (TakesTabFocus(list[i])) return list[i];
  }
  return nullptr;
}

void TWinControl::ApplyTabOrder() {
  const TWinControl* root = this;
  while (root->Parent() != nullptr) root = root->Parent();
  QWidget* previous = nullptr;
  for (TWinControl* w : root->TabOrderList()) {
    if (w->Widget()->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, w->Widget());
    previous = w->Widget();
  }
}

void TWinControl::Loaded() {
  TControl::Loaded();
  ApplyTabOrder();
  AlignControls();
}

void TWinControl::AlignControls() {
  int left = 0;
  int top = 0;
  int right = ClientWidth();
  int bottom = ClientHeight();
  auto place = [](TControl* c, int l, int t, int w, int h) {
    c->FLeft = l;
    c->FTop = t;
    c->FWidth = std::max(w, 0);
    c->FHeight = std::max(h, 0);
    c->ApplyBounds();
  };
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : FControls) {
      if (c->Align() != pass || !c->Visible()) continue;
      switch (pass) {
        case alTop:
          place(c, left, top, right - left, c->Height());
          top += c->Height();
          break;
        case alBottom:
          place(c, left, bottom - c->Height(), right - left, c->Height());
          bottom -= c->Height();
          break;
        case alLeft:
          place(c, left, top, c->Width(), bottom - top);
          left += c->Width();
          break;
        case alRight:
          place(c, right - c->Width(), top, c->Width(), bottom - top);
          right -= c->Width();
          break;
        default:
          place(c, left, top, right - left, bottom - top);
          break;
      }
    }
  }
}

// --- TGraphicControl -------------------------------------------------------------------------------------------

TARVO_PUBLISH(TGraphicControl, TControl) {}

TGraphicControl::TGraphicControl(TComponent* AOwner, QWidget* widget) : TControl(AOwner, widget) {}
