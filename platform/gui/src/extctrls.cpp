// TPanel, TBevel, TImage, TPictureButton, TPaintBox and TTimer (extctrls.h).
#include "gui/extctrls.h"

#include <QPaintEvent>
#include <QCoreApplication>
#include <QTimer>

#include "gui/forms.h"
#include "gui_p.h"
#include "props_p.h"
#include "win32/kernel.h"
#include "win32/user.h"

using namespace tarvo_gui;

// --- TPanel ----------------------------------------------------------------------------------------------------

namespace {

// A bevel's line pairs, width deep: light top and left, dark bottom and right when raised; the reverse when
// lowered.
void DrawBevel(QPainter& painter, QRect rect, bool raised, int width) {
  const QColor light = ToQColor(clBtnHighlight);
  const QColor dark = ToQColor(clBtnShadow);
  for (int i = 0; i < width && rect.width() > 1 && rect.height() > 1; ++i) {
    painter.setPen(raised ? light : dark);
    painter.drawLine(rect.left(), rect.top(), rect.right(), rect.top());
    painter.drawLine(rect.left(), rect.top(), rect.left(), rect.bottom());
    painter.setPen(raised ? dark : light);
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter.drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
    rect.adjust(1, 1, -1, -1);
  }
}

constexpr TEnumNames<TPanelBevel> kPanelBevels = {
    {"bvNone", bvNone}, {"bvLowered", bvLowered}, {"bvRaised", bvRaised}, {"bvSpace", bvSpace}};

class TPanelWidget : public TControlWidget<QWidget> {
 public:
  explicit TPanelWidget(TPanel* owner) : TControlWidget<QWidget>(owner), Panel(owner) {}
  TPanel* Panel;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (Owner == nullptr) return;
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    QRect r = rect();
    const int w = Panel->BevelWidth();
    if (Panel->BevelOuter() != bvNone) {
      if (Panel->BevelOuter() != bvSpace) DrawBevel(painter, r, Panel->BevelOuter() == bvRaised, w);
      r.adjust(w, w, -w, -w);
    }
    if (Panel->BevelInner() != bvNone && Panel->BevelInner() != bvSpace)
      DrawBevel(painter, r, Panel->BevelInner() == bvRaised, w);
    if (!Panel->Caption().empty()) {
      painter.setPen(palette().color(QPalette::WindowText));
      painter.drawText(rect(), Qt::AlignCenter, QString::fromStdString(Panel->Caption()));
    }
  }
};

}  // namespace

TARVO_PUBLISH(TPanel, TWinControl) {
  b.Property("Caption", &TControl::Caption, &TControl::SetCaption)
      .Enum<TPanelBevel>("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter, kPanelBevels)
      .Enum<TPanelBevel>("BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner, kPanelBevels)
      .Property("BevelWidth", &TPanel::BevelWidth, &TPanel::SetBevelWidth)
      .Event("OnClick", &TControl::OnClick);
}

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner, new TPanelWidget(this)) {
  Widget()->setFocusPolicy(Qt::NoFocus);
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TPanelBevel bevel) {
  FBevelOuter = bevel;
  Widget()->update();
}

void TPanel::SetBevelInner(TPanelBevel bevel) {
  FBevelInner = bevel;
  Widget()->update();
}

void TPanel::SetBevelWidth(int width) {
  if (width < 1) throw EPropertyError(std::to_string(width) + " is out of range 1..");
  FBevelWidth = width;
  Widget()->update();
}

void TPanel::ApplyColor() { TWinControl::ApplyColor(); }

// --- TBevel ----------------------------------------------------------------------------------------------------

namespace {

class TBevelWidget : public TControlWidget<QWidget> {
 public:
  explicit TBevelWidget(TBevel* owner) : TControlWidget<QWidget>(owner), Bevel(owner) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  TBevel* Bevel;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (Owner == nullptr) return;
    QPainter painter(this);
    const bool raised = Bevel->Style() == bsRaised;
    const QColor first = ToQColor(raised ? clBtnHighlight : clBtnShadow);
    const QColor second = ToQColor(raised ? clBtnShadow : clBtnHighlight);
    const QRect r = rect();
    auto hline = [&](int y, const QColor& c) {
      painter.setPen(c);
      painter.drawLine(r.left(), y, r.right(), y);
    };
    auto vline = [&](int x, const QColor& c) {
      painter.setPen(c);
      painter.drawLine(x, r.top(), x, r.bottom());
    };
    switch (Bevel->Shape()) {
      case bsBox:
        DrawBevel(painter, r, raised, 1);
        break;
      case bsFrame:
        // An etched frame: two boxes of opposite sense, one pixel apart.
        DrawBevel(painter, r.adjusted(0, 0, -1, -1), raised, 1);
        DrawBevel(painter, r.adjusted(1, 1, 0, 0), !raised, 1);
        break;
      case bsTopLine:
        hline(r.top(), first);
        hline(r.top() + 1, second);
        break;
      case bsBottomLine:
        hline(r.bottom() - 1, first);
        hline(r.bottom(), second);
        break;
      case bsLeftLine:
        vline(r.left(), first);
        vline(r.left() + 1, second);
        break;
      case bsRightLine:
        vline(r.right() - 1, first);
        vline(r.right(), second);
        break;
      case bsSpacer:
        break;
    }
  }
};

}  // namespace

TARVO_PUBLISH(TBevel, TGraphicControl) {
  b.Enum<TBevelShape>("Shape", &TBevel::Shape, &TBevel::SetShape,
                      {{"bsBox", bsBox}, {"bsFrame", bsFrame}, {"bsTopLine", bsTopLine},
                       {"bsBottomLine", bsBottomLine}, {"bsLeftLine", bsLeftLine}, {"bsRightLine", bsRightLine},
                       {"bsSpacer", bsSpacer}})
      .Enum<TBevelStyle>("Style", &TBevel::Style, &TBevel::SetStyle, {{"bsLowered", bsLowered}, {"bsRaised", bsRaised}});
}

TBevel::TBevel(TComponent* AOwner) : TGraphicControl(AOwner, new TBevelWidget(this)) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape shape) {
  FShape = shape;
  Widget()->update();
}

void TBevel::SetStyle(TBevelStyle style) {
  FStyle = style;
  Widget()->update();
}

// --- TImage and TPictureButton ---------------------------------------------------------------------------------

namespace {

// Draws the picture the same way whether enabled or not: a disabled image only stops taking clicks.
class TImageWidget : public TControlWidget<QWidget> {
 public:
  explicit TImageWidget(TImage* owner) : TControlWidget<QWidget>(owner), Image(owner) {}
  TImage* Image;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (Owner == nullptr) return;
    TGraphic* graphic = Image->Picture()->Graphic();
    if (graphic == nullptr || graphic->Empty()) return;
    QPainter painter(this);
    const QImage& picture = graphic->Image();
    if (Image->Stretch()) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(rect(), picture);
    } else if (Image->Center()) {
      painter.drawImage((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture);
    } else {
      painter.drawImage(0, 0, picture);
    }
  }
};

}  // namespace

TARVO_PUBLISH(TImage, TGraphicControl) {
  b.Object("Picture", &TImage::Picture)
      .Property("AutoSize", &TImage::AutoSize, &TImage::SetAutoSize)
      .Property("Stretch", &TImage::Stretch, &TImage::SetStretch)
      .Property("Center", &TImage::Center, &TImage::SetCenter)
      .Event("OnClick", &TControl::OnClick);
}

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner, new TImageWidget(this)), FPicture(std::make_unique<TPicture>()) {
  FPicture->OnChange = [this](TObject*) { PictureChanged(); };
  SetBounds(0, 0, 105, 105);
}

TImage::~TImage() { FPicture->OnChange = nullptr; }

void TImage::PictureChanged() {
  if (FAutoSize && FPicture->Width() > 0) SetBounds(FLeft, FTop, FPicture->Width(), FPicture->Height());
  Widget()->update();
}

void TImage::Loaded() {
  TGraphicControl::Loaded();
  PictureChanged();
}

void TImage::SetAutoSize(bool autoSize) {
  FAutoSize = autoSize;
  PictureChanged();
}

void TImage::SetStretch(bool stretch) {
  FStretch = stretch;
  Widget()->update();
}

void TImage::SetCenter(bool center) {
  FCenter = center;
  Widget()->update();
}

TARVO_PUBLISH(TPictureButton, TImage) {}

TPictureButton::TPictureButton(TComponent* AOwner) : TImage(AOwner) {
  SetCursor(crHandPoint);
  SetAutoSize(true);
}

// --- TPaintBox -------------------------------------------------------------------------------------------------

namespace {

class TPaintBoxWidget : public TControlWidget<QWidget> {
 public:
  explicit TPaintBoxWidget(TControl* owner) : TControlWidget<QWidget>(owner) {}
  std::shared_ptr<TSurface> Surface;

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (!Surface) return;
    QPainter painter(this);
    DrawSurface(painter, *Surface, event->region());
  }
};

}  // namespace

TARVO_PUBLISH(TPaintBox, TGraphicControl) { b.Event("OnClick", &TControl::OnClick); }

TPaintBox::TPaintBox(TComponent* AOwner) : TGraphicControl(AOwner, new TPaintBoxWidget(this)) {
  auto* widget = static_cast<TPaintBoxWidget*>(Widget());
  FSurface = NewSurface(widget, 105, 105);
  widget->Surface = FSurface;
  FCanvas = std::make_unique<TCanvas>(FSurface);
  SetParentColor(true);
  SetBounds(0, 0, 105, 105);
}

TPaintBox::~TPaintBox() { DetachSurface(*FSurface); }

void TPaintBox::Loaded() {
  TGraphicControl::Loaded();
  SetSurfaceName(*FSurface, (Owner() != nullptr ? Owner()->Name() + "." : std::string()) + Name());
}

void TPaintBox::ApplyBounds() {
  TGraphicControl::ApplyBounds();
  ResizeSurface(*FSurface, FWidth, FHeight);
}

// --- TTimer ----------------------------------------------------------------------------------------------------

// A tick runs as a WM_TIMER message of a hidden window of the GUI thread, so it takes its turn in the queue
// with everything posted before it. Only one tick waits in the queue at a time, as on the original platform.
struct TTimer::TImpl {
  TTimer* Owner = nullptr;
  HWND Window = nullptr;
  QTimer* Timer = nullptr;
  bool TickPosted = false;

  void Tick() {
    TickPosted = false;
    // Once the application's loop has ended the forms are being torn down: a pump that still runs then (a
    // socket's own, inside OnDestroy) must not bring a tick to a form whose components are going.
    if (TApplicationInternals::LoopEnded(*Application)) return;
    if (!Owner->FEnabled || Owner->FInterval == 0 || !Owner->OnTimer) return;
    TTimer* owner = Owner;
    Guarded([owner] { owner->OnTimer(owner); });
  }
};

namespace {

constexpr const char* kTimerClass = "TarvoTimerWindow";

LRESULT TimerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    if (auto* impl = reinterpret_cast<TTimer::TImpl*>(GetWindowLongA(hwnd, 0))) impl->Tick();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND CreateTimerWindow(TTimer::TImpl* impl) {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TimerWindowProc;
    wc.cbWndExtra = sizeof(void*);
    wc.lpszClassName = kTimerClass;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) return nullptr;
  HWND hwnd = CreateWindowExA(0, kTimerClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (hwnd != nullptr) SetWindowLongA(hwnd, 0, reinterpret_cast<LONG_PTR>(impl));
  return hwnd;
}

}  // namespace

TARVO_PUBLISH(TTimer, TComponent) {
  b.Property("Enabled", &TTimer::Enabled, &TTimer::SetEnabled)
      .Property("Interval", &TTimer::Interval, &TTimer::SetInterval)
      .Event("OnTimer", &TTimer::OnTimer);
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), FImpl(std::make_unique<TImpl>()) {
  FImpl->Owner = this;
  FImpl->Window = CreateTimerWindow(FImpl.get());
  UpdateTimer();
}

TTimer::~TTimer() {
  delete FImpl->Timer;
  if (FImpl->Window != nullptr) {
    SetWindowLongA(FImpl->Window, 0, 0);
    DestroyWindow(FImpl->Window);
  }
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(UINT interval) {
  if (interval == FInterval) return;
  FInterval = interval;
  if (FImpl->Timer != nullptr) FImpl->Timer->stop();
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  const bool run = FEnabled && FInterval > 0 && FImpl->Window != nullptr;
  if (!run) {
    if (FImpl->Timer != nullptr) FImpl->Timer->stop();
    return;
  }
  if (FImpl->Timer == nullptr) {
    if (QCoreApplication::instance() == nullptr) return;
    FImpl->Timer = new QTimer();
    FImpl->Timer->setTimerType(Qt::PreciseTimer);
    TImpl* impl = FImpl.get();
    QObject::connect(FImpl->Timer, &QTimer::timeout, [impl] {
      if (impl->TickPosted || TApplicationInternals::LoopEnded(*Application)) return;
      impl->TickPosted = PostMessageA(impl->Window, WM_TIMER, 1, 0) != 0;
    });
  }
  if (!FImpl->Timer->isActive()) FImpl->Timer->start(static_cast<int>(std::min<UINT>(FInterval, INT32_MAX)));
}
