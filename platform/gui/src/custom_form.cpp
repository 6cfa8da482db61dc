// TCustomForm and TForm (forms.h): a top-level window with the platform window behind its Handle, its frame,
// placement and showing, and the reading of its stored description.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "gui/forms.h"
#include "gui_p.h"
#include "rtl/formreader.h"
#include "win32/kernel.h"
#include "win32/user.h"

using namespace tarvo_gui;

namespace {

constexpr const char* kFormClass = "TarvoFormWindow";

// The control of the form that holds the window's focus widget (the one that has the focus, or gets it when
// the window is next activated); nullptr when none does.
TWinControl* FocusedControl(const TCustomForm* form) {
  QWidget* focus = form->Widget()->focusWidget();
  if (focus == nullptr) return nullptr;
  TWinControl* found = nullptr;
  // Inner controls follow their parents in the list: the last that holds the widget is the innermost.
  for (TWinControl* w : form->TabOrderList())
    if (w->Widget() == focus || w->Widget()->isAncestorOf(focus)) found = w;
  return found;
}

class TFormWidget : public TControlWidget<QWidget> {
 public:
  explicit TFormWidget(TCustomForm* owner) : TControlWidget<QWidget>(owner), Form(owner) {
    // paintEvent covers every pixel it is asked for (the form's colour, then what was painted into it), so
    // Qt need not fill the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  TCustomForm* Form;
  std::shared_ptr<TSurface> Surface;

 protected:
  // Tab and Shift+Tab (and Qt, when the focused widget is hidden or disabled) walk the form's stored tab order
  // into and out of group boxes and panels, which Qt's focus chain of nested widgets would not do.
  bool focusNextPrevChild(bool next) override {
    if (Owner == nullptr) return QWidget::focusNextPrevChild(next);
    TWinControl* target = Form->FindNextControl(FocusedControl(Form), next);
    if (target == nullptr) return false;
    target->Widget()->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (Surface)
      DrawSurface(painter, *Surface, event->region(), &background);
    else
      painter.fillRect(rect(), background);
  }
  void resizeEvent(QResizeEvent*) override {
    if (Surface) ResizeSurface(*Surface, width(), height());
    if (Owner == nullptr) return;
    Form->SyncBounds();
    Form->AlignControls();
  }
  void moveEvent(QMoveEvent*) override {
    if (Owner != nullptr) Form->SyncBounds();
  }
  void showEvent(QShowEvent*) override {
    if (Owner == nullptr) return;
    Form->SyncBounds();
    Form->WindowShown();
  }
  void closeEvent(QCloseEvent* e) override {
    // The window's close box asks the form, which decides (the main form ends the program).
    e->ignore();
    if (Owner != nullptr) Form->Close();
  }
};

LRESULT FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TCustomForm*>(GetWindowLongA(hwnd, GWL_USERDATA));
  if (form == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
  TMessage m{msg, wParam, lParam, 0};
  Guarded([&] { form->Dispatch(m); });
  return m.Result;
}

HWND CreateFormWindow() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = FormWindowProc;
    wc.lpszClassName = kFormClass;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) return nullptr;
  return CreateWindowExA(0, kFormClass, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

TFormWidget* FormWidget(const TControl* c) { return static_cast<TFormWidget*>(c->Widget()); }

}  // namespace

TARVO_PUBLISH(TCustomForm, TWinControl) {
  b.Property("Caption", &TControl::Caption, &TCustomForm::SetCaption)
      .Enum<TBorderStyle>("BorderStyle", &TCustomForm::BorderStyle, &TCustomForm::SetBorderStyle,
                          {{"bsNone", bsNone}, {"bsSingle", bsSingle}, {"bsSizeable", bsSizeable},
                           {"bsDialog", bsDialog}, {"bsToolWindow", bsToolWindow}, {"bsSizeToolWin", bsSizeToolWin}})
      .Set<TBorderIcon>("BorderIcons", &TCustomForm::BorderIcons, &TCustomForm::SetBorderIcons,
                        {{"biSystemMenu", biSystemMenu}, {"biMinimize", biMinimize}, {"biMaximize", biMaximize},
                         {"biHelp", biHelp}})
      .Property("ClientWidth", &TCustomForm::ClientWidth, &TCustomForm::SetClientWidth)
      .Property("ClientHeight", &TCustomForm::ClientHeight, &TCustomForm::SetClientHeight)
      .Enum<TPosition>("Position", &TCustomForm::Position, &TCustomForm::SetPosition,
                       {{"poDesigned", poDesigned}, {"poDefault", poDefault}, {"poDefaultPosOnly", poDefaultPosOnly},
                        {"poDefaultSizeOnly", poDefaultSizeOnly}, {"poScreenCenter", poScreenCenter},
                        {"poDesktopCenter", poDesktopCenter}, {"poMainFormCenter", poMainFormCenter},
                        {"poOwnerFormCenter", poOwnerFormCenter}})
      .Event("OnCreate", &TCustomForm::OnCreate)
      .Event("OnShow", &TCustomForm::OnShow)
      .Event("OnDestroy", &TCustomForm::OnDestroy);
}

TARVO_PUBLISH(TForm, TCustomForm) {}

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner, new TFormWidget(this)) {
  TFormWidget* widget = FormWidget(this);
  FVisible = false;
  FSurface = NewSurface(widget, 1, 1);
  widget->Surface = FSurface;
  FCanvas = std::make_unique<TCanvas>(FSurface);
  FHandle = CreateFormWindow();
  if (FHandle != nullptr) {
    SetWindowLongA(FHandle, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
    RegisterWindow(FHandle, widget, FSurface);
  }
  ApplyWindowFlags();
  ApplyFont();
  ApplyColor();
  FLeft = 0;
  FTop = 0;
  widget->resize(320, 240);
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  FWidth = 320 + l + r;
  FHeight = 240 + t + b;
}

TCustomForm::~TCustomForm() {
  FDestroyDone = true;
  TApplicationInternals::FormDestroyed(*Application, this);
  // The components go first, then the windows: child windows of other layers die with the Handle.
  DestroyComponents();
  if (FHandle != nullptr) {
    SetWindowLongA(FHandle, GWL_USERDATA, 0);
    DestroyWindow(FHandle);
    UnregisterWindow(FHandle);
    FHandle = nullptr;
  }
  DetachSurface(*FSurface);
  FCanvas.reset();
}

void TCustomForm::Dispatch(TMessage& message) {
  if (message.Msg == WM_CLOSE) {
    Close();
    message.Result = 0;
    return;
  }
  TWinControl::Dispatch(message);
}

void TCustomForm::DefaultHandler(TMessage& message) {
  message.Result = FHandle != nullptr ? DefWindowProcA(FHandle, message.Msg, message.WParam, message.LParam) : 0;
}

void TCustomForm::ReadDescription() {
  std::string resourceName;
  if (!FindFormDescription(ClassName(), resourceName))
    throw EReadError("No description of form class " + ClassName() +
                     " is embedded in the program (add its .form file with tarvo_add_forms)");
  ReadComponentResource(this, resourceName);
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  SetSurfaceName(*FSurface, Name());
}

void TCustomForm::DoCreate() {
  if (OnCreate) Guarded([this] { OnCreate(this); });
}

void TCustomForm::DoShow() {
  if (OnShow) Guarded([this] { OnShow(this); });
}

void TCustomForm::DoDestroy() {
  if (OnDestroy) Guarded([this] { OnDestroy(this); });
}

void TCustomForm::Destroying() {
  if (!FDestroyDone && !IsDestroying()) {
    FDestroyDone = true;
    DoDestroy();
  }
  TWinControl::Destroying();
}

void TCustomForm::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  Widget()->setWindowTitle(QString::fromStdString(caption));
}

void TCustomForm::SetBorderStyle(TBorderStyle style) {
  FBorderStyle = style;
  ApplyWindowFlags();
}

void TCustomForm::SetBorderIcons(TBorderIcons icons) {
  FBorderIcons = icons;
  ApplyWindowFlags();
}

void TCustomForm::SetPosition(TPosition position) { FPosition = position; }

void TCustomForm::ApplyWindowFlags() {
  QWidget* w = Widget();
  const bool wasVisible = w->isVisible();
  Qt::WindowFlags flags = Qt::Window;
  if (FBorderStyle == bsNone) {
    flags |= Qt::FramelessWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin) flags |= Qt::Tool;
    if ((FBorderIcons & (1u << biSystemMenu)) != 0) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    // Dialog borders carry no minimize or maximize box, whatever the icons say.
    if (FBorderStyle != bsDialog && FBorderStyle != bsToolWindow && FBorderStyle != bsSizeToolWin) {
      if ((FBorderIcons & (1u << biMinimize)) != 0) flags |= Qt::WindowMinimizeButtonHint;
      if ((FBorderIcons & (1u << biMaximize)) != 0 && FBorderStyle == bsSizeable) flags |= Qt::WindowMaximizeButtonHint;
    }
  }
  w->setWindowFlags(flags);
  const bool fixed = FBorderStyle != bsSizeable && FBorderStyle != bsSizeToolWin;
  if (fixed) {
    w->setFixedSize(w->size());
  } else {
    w->setMinimumSize(0, 0);
    w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  if (wasVisible) w->show();
}

void TCustomForm::FrameMargins(int& left, int& top, int& right, int& bottom) const {
  const QWidget* w = Widget();
  if (w->isVisible() && w->windowHandle() != nullptr) {
    QMargins m = w->windowHandle()->frameMargins();
    if (!m.isNull()) {
      left = m.left();
      top = m.top();
      right = m.right();
      bottom = m.bottom();
      return;
    }
  }
  // Without a window manager's frame (offscreen, or not shown yet) the platform's usual metrics stand in.
  switch (FBorderStyle) {
    case bsNone:
      left = top = right = bottom = 0;
      return;
    case bsToolWindow:
    case bsSizeToolWin:
      left = right = bottom = 3;
      top = 3 + 16;
      return;
    case bsSizeable:
      left = right = bottom = 4;
      top = 4 + 19;
      return;
    default:
      left = right = bottom = 3;
      top = 3 + 19;
      return;
  }
}

void TCustomForm::SyncBounds() {
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  const QWidget* w = Widget();
  FLeft = w->x();
  FTop = w->y();
  FWidth = w->width() + l + r;
  FHeight = w->height() + t + b;
}

int TCustomForm::ClientWidth() const { return Widget()->width(); }
int TCustomForm::ClientHeight() const { return Widget()->height(); }

void TCustomForm::SetClientWidth(int width) {
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  SetBounds(FLeft, FTop, width + l + r, FHeight);
}

void TCustomForm::SetClientHeight(int height) {
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  SetBounds(FLeft, FTop, FWidth, height + t + b);
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  FLeft = left;
  FTop = top;
  const int clientWidth = std::max(width - l - r, 0);
  const int clientHeight = std::max(height - t - b, 0);
  FWidth = clientWidth + l + r;
  FHeight = clientHeight + t + b;
  QWidget* w = Widget();
  const bool fixed = FBorderStyle != bsSizeable && FBorderStyle != bsSizeToolWin;
  if (fixed)
    w->setFixedSize(clientWidth, clientHeight);
  else
    w->resize(clientWidth, clientHeight);
  w->move(left, top);
  ResizeSurface(*FSurface, clientWidth, clientHeight);
  AlignControls();
}

void TCustomForm::WindowShown() {
  if (!FPlacePending) return;
  FPlacePending = false;
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  if (l != FPlacedMargins[0] || t != FPlacedMargins[1] || r != FPlacedMargins[2] || b != FPlacedMargins[3])
    PlaceOnShow();
}

void TCustomForm::PlaceOnShow() {
  int l, t, r, b;
  FrameMargins(l, t, r, b);
  FPlacedMargins[0] = l;
  FPlacedMargins[1] = t;
  FPlacedMargins[2] = r;
  FPlacedMargins[3] = b;
  FWidth = ClientWidth() + l + r;
  FHeight = ClientHeight() + t + b;
  int x = FLeft;
  int y = FTop;
  switch (FPosition) {
    case poScreenCenter:
    case poDesktopCenter:
      x = (Screen->Width() - FWidth) / 2;
      y = (Screen->Height() - FHeight) / 2;
      break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TCustomForm* main = Application->MainForm();
      if (main != nullptr && main != this) {
        x = main->Left() + (main->Width() - FWidth) / 2;
        y = main->Top() + (main->Height() - FHeight) / 2;
      } else {
        x = (Screen->Width() - FWidth) / 2;
        y = (Screen->Height() - FHeight) / 2;
      }
      break;
    }
    default:
      break;
  }
  SetBounds(x, y, FWidth, FHeight);
}

void TCustomForm::SetVisible(bool visible) {
  if ((ComponentState() & csLoading) != 0) {
    // A description that says Visible = True shows the form once it has been created.
    FVisibleStored = visible;
    return;
  }
  QWidget* w = Widget();
  if (visible == FVisible && visible == w->isVisible()) return;
  FVisible = visible;
  if (!visible) {
    w->hide();
    return;
  }
  if (!FShownOnce) {
    FShownOnce = true;
    PlaceOnShow();
    FPlacePending = FPosition != poDesigned;
  }
  DoShow();
  if (!FVisible) return;  // OnShow hid it again
  // A form shown without a control that can hold the focus gives it to the first one in its tab order, after
  // OnShow has set the controls' states.
  TWinControl* focused = FocusedControl(this);
  if (focused == nullptr || !focused->CanFocus())
    if (TWinControl* first = FindNextControl(nullptr, true)) first->Widget()->setFocus(Qt::ActiveWindowFocusReason);
  w->show();
  w->raise();
  w->activateWindow();
}

void TCustomForm::Repaint() {
  QWidget* w = Widget();
  if (w->isVisible() && w->windowHandle() != nullptr) {
    // The window system maps a new window a moment after it is shown; only then can it be painted on screen.
    // Meanwhile no input, socket notification or timer tick is handled, as a synchronous paint would not.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!w->windowHandle()->isExposed() && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers, 10);
  }
  w->repaint();
  QGuiApplication::sync();
}

void TCustomForm::Close() {
  if (Application->MainForm() == this)
    Application->Terminate();
  else
    Hide();
}
