// TCustomForm, TApplication and TScreen (forms.h).
#include "gui/forms.h"

#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QMessageBox>
#include <QPaintEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>

#include "gui/gui.h"
#include "gui_p.h"
#include "props_p.h"
#include "rtl/formreader.h"
#include "win32/kernel.h"
#include "win32/user.h"

using namespace tarvo_gui;

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = new TScreen(nullptr);

// --- descriptions ----------------------------------------------------------------------------------------------

namespace {

std::mutex gDescriptionsLock;
std::vector<std::string> gDescriptions;

// The class that a description's first object line names: "object Form1: TForm1" gives TForm1.
std::string DescribedClass(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    pos = end + 1;
    std::string t = Trim(line);
    if (t.empty() || t.rfind("//", 0) == 0 || t[0] == '#' || t[0] == '{') continue;
    std::size_t colon = t.find(':');
    std::size_t space = t.find_first_of(" \t");
    if (colon == std::string::npos || space == std::string::npos) return {};
    std::string keyword = t.substr(0, space);
    if (!SameText(keyword, "object") && !SameText(keyword, "inherited")) return {};
    return Trim(t.substr(colon + 1));
  }
  return {};
}

// The embedded description whose first object is of class className.
bool FindDescription(const std::string& className, std::string& resourceName) {
  std::lock_guard<std::mutex> guard(gDescriptionsLock);
  for (const std::string& name : gDescriptions) {
    std::string_view data;
    if (FindResourceData(name, data) && SameText(DescribedClass(data), className)) {
      resourceName = name;
      return true;
    }
  }
  return false;
}

}  // namespace

void RegisterFormDescription(const char* resourceName) {
  std::lock_guard<std::mutex> guard(gDescriptionsLock);
  gDescriptions.emplace_back(resourceName);
}

// --- TCustomForm -----------------------------------------------------------------------------------------------

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
  Application->FormDestroyed(this);
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
  if (!FindDescription(ClassName(), resourceName))
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

// --- the message box presenter ---------------------------------------------------------------------------------

namespace {

// A box stands centred on its owner's window while that window is shown. One without an owner, or whose owner
// is not shown yet (a box from a form's OnCreate), stands centred on the screen: a hidden window has no place
// of its own to centre on.
QWidget* DialogParent(HWND owner) {
  QWidget* w = TopWidgetOf(owner);
  return w != nullptr && w->isVisible() ? w : nullptr;
}

// Centred by the toolkit itself: Qt's own placement makes room for a window frame that it guesses, off centre by
// that guess where no window manager draws one.
class TCentredBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* e) override {
    QMessageBox::showEvent(e);  // takes the box's final size
    if (e->spontaneous()) return;
    QWidget* owner = parentWidget();
    const QRect area = owner != nullptr ? owner->window()->geometry() : screen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
};

int ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  QWidget* parent = DialogParent(owner);
  TCentredBox box(parent);
  box.setWindowTitle(QString::fromUtf8(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromUtf8(text));
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONASTERISK: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  struct TButton {
    QMessageBox::StandardButton Qt;
    int Id;
  };
  std::vector<TButton> buttons;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_ABORTRETRYIGNORE:
      buttons = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    case MB_RETRYCANCEL: buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
    default: buttons = {{QMessageBox::Ok, IDOK}}; break;
  }
  QMessageBox::StandardButtons all;
  for (const TButton& b : buttons) all |= b.Qt;
  box.setStandardButtons(all);
  std::size_t defaultIndex = (type & MB_DEFMASK) >> 8;
  if (defaultIndex >= buttons.size()) defaultIndex = 0;
  box.setDefaultButton(buttons[defaultIndex].Qt);
  // Escape answers as the close box of the original does: Cancel where there is one, OK for a lone OK.
  for (const TButton& b : buttons)
    if (b.Id == IDCANCEL || (buttons.size() == 1 && b.Id == IDOK)) box.setEscapeButton(b.Qt);
  // Above every other window of the program, also when it has no owner.
  if (parent == nullptr) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.setWindowModality(Qt::ApplicationModal);
  int answer = box.exec();
  for (const TButton& b : buttons)
    if (answer == b.Qt) return b.Id;
  // Closed some other way: the escape answer.
  for (const TButton& b : buttons)
    if (b.Id == IDCANCEL) return IDCANCEL;
  return buttons.size() == 1 ? IDOK : buttons.back().Id;
}

int QtMessageBoxPresenter(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (IsGuiThread()) return ShowMessageBox(owner, text, caption, type);
  // Another thread's box is shown by the GUI thread; that thread waits for the answer, as on the original
  // platform it would wait for its own box.
  auto answer = std::make_shared<std::promise<int>>();
  std::future<int> result = answer->get_future();
  PostToGui([answer, owner, text = std::string(text), caption = std::string(caption), type] {
    answer->set_value(ShowMessageBox(owner, text.c_str(), caption.c_str(), type));
  });
  try {
    return result.get();
  } catch (const std::future_error&) {
    return 0;  // the GUI thread's loop is gone: no box can be shown
  }
}

}  // namespace

// --- TApplication ----------------------------------------------------------------------------------------------

struct TApplication::TImpl {
  int Argc = 0;
  std::vector<std::string> Args;
  std::vector<char*> Argv;
  QSocketNotifier* Notifier = nullptr;
  QEventLoop* Loop = nullptr;
};

TARVO_PUBLISH(TApplication, TComponent) {}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FImpl(std::make_unique<TImpl>()) {}

TApplication::~TApplication() = default;

namespace {

// How long one wake-up may go on handling the queue before input and timers get their turn.
constexpr int kDispatchSliceMs = 5;

// A message taken from the queue: WM_QUIT ends the loop (false), anything else goes to its window.
bool HandleQueued(TApplication& app, MSG& msg) {
  if (msg.message == WM_QUIT) {
    app.Terminate();
    return false;
  }
  TranslateMessage(&msg);
  Guarded([&] { DispatchMessageA(&msg); });
  return true;
}

void InstallFontSubstitutes() {
  // Names the forms use for fonts that are not installed here: the installed fonts closest to them. Qt asks
  // fontconfig for anything else, which always finds some font.
  const QStringList cjk = {"WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "AR PL UMing CN"};
  for (const char* name : {"宋体", "新宋体", "SimSun", "NSimSun", "黑体", "SimHei"})
    QFont::insertSubstitutions(QString::fromUtf8(name), cjk);
  QFont::insertSubstitutions("Comic Sans MS", {"Comic Neue", "Comic Relief", "DejaVu Sans"});
  QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Liberation Sans"});
  QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans"});
}

// Qt's notes that a platform cannot raise a window or pass size hints (the offscreen one), or that there is no
// runtime folder, say nothing about the program; they would only crowd the standard error that scripts read.
QtMessageHandler gQtHandler = nullptr;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.startsWith(QStringLiteral("This plugin does not support")) ||
                               message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR"))))
    return;
  if (gQtHandler != nullptr) gQtHandler(type, context, message);
}

bool HasDisplay() {
  for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(v);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

void TApplication::Initialize(int argc, char** argv) {
  if (FInitialized) return;
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  FExeName = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : (argc > 0 && argv ? argv[0] : "");
  if (FTitle.empty()) {
    std::string base = FExeName.substr(FExeName.find_last_of('/') + 1);
    std::size_t dot = base.find_last_of('.');
    FTitle = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  }
  if (gQtHandler == nullptr) gQtHandler = qInstallMessageHandler(&FilterQtMessages);
  if (QCoreApplication::instance() == nullptr) {
    // Without a display the program still runs, on Qt's offscreen platform. An empty QT_QPA_PLATFORM counts as
    // unset here but not for Qt, which would then look for a display and abort: it is overwritten.
    if (!HasDisplay()) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (int i = 0; i < argc && argv != nullptr; ++i) FImpl->Args.emplace_back(argv[i]);
    if (FImpl->Args.empty()) FImpl->Args.push_back(FExeName);
    for (std::string& a : FImpl->Args) FImpl->Argv.push_back(a.data());
    FImpl->Argv.push_back(nullptr);
    FImpl->Argc = static_cast<int>(FImpl->Args.size());
    new QApplication(FImpl->Argc, FImpl->Argv.data());
  }
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QGuiApplication::setQuitOnLastWindowClosed(false);
  InstallFontSubstitutes();
  RegisterRtlClasses();
  RegisterGuiClasses();
  int fd = QueueEventFd();
  if (fd >= 0) {
    FImpl->Notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(FImpl->Notifier, &QSocketNotifier::activated, [this] { DispatchWaitingMessages(); });
  }
  SetMessageBoxPresenter(&QtMessageBoxPresenter);
  TApplicationHooks hooks;
  hooks.ProcessMessages = [] { Application->ProcessMessages(); };
  hooks.Terminated = [] { return Application->Terminated(); };
  SetApplicationHooks(std::move(hooks));
  FInitialized = true;
}

bool TApplication::InitForm(TCustomForm* form) {
  FForms.push_back(form);
  try {
    form->ReadDescription();
  } catch (...) {
    // A form that cannot be read is a broken program: say why, and end it.
    HandleException();
    form->FDestroyDone = true;
    delete form;
    DestroyForms();
    std::exit(1);
  }
  form->DoCreate();
  form->FCreated = true;
  if (FMainForm == nullptr) FMainForm = form;
  if (form->FVisibleStored) form->Show();
  return true;
}

void TApplication::FormDestroyed(TCustomForm* form) {
  FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end());
  if (FMainForm == form) FMainForm = nullptr;
}

void TApplication::DestroyForms() {
  while (!FForms.empty()) {
    TCustomForm* form = FForms.back();
    form->Destroying();
    delete form;  // takes itself out of FForms
  }
}

void TApplication::Run() {
  if (!FInitialized) Initialize();
  FLoopEnded = false;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(true);
  if (FMainForm != nullptr && !FTerminated) FMainForm->Show();
  if (FMainForm != nullptr && !FTerminated) {
    QEventLoop loop;
    FImpl->Loop = &loop;
    loop.exec();
    FImpl->Loop = nullptr;
  }
  // From here on nothing of the queue is dispatched: no tick or notification reaches a form being destroyed.
  FLoopEnded = true;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(false);
  DestroyForms();
}

void TApplication::ProcessMessages() {
  if (QCoreApplication::instance() != nullptr) {
    // Once the loop has ended the forms are being destroyed: their windows still show, but a click must not
    // reach a handler whose form is half gone.
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (FLoopEnded) flags = QEventLoop::ExcludeSocketNotifiers | QEventLoop::ExcludeUserInputEvents;
    QCoreApplication::processEvents(flags);
  }
  if (FLoopEnded) return;
  MSG msg;
  while (!FLoopEnded && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) HandleQueued(*this, msg);
}

void TApplication::DispatchWaitingMessages() {
  // One wake-up handles the queue in order until it is empty, with what the handlers post meanwhile (a socket
  // posts its next read notification while data waits), for at most a slice: input and timer ticks come
  // through Qt's loop, and take their turn between slices as they did between messages.
  const auto sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDispatchSliceMs);
  MSG msg;
  while (!FLoopEnded && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
    // WM_QUIT, or a handler that ended the loop, ends the batch too: what follows stays in the queue.
    if (!HandleQueued(*this, msg) || FTerminated || std::chrono::steady_clock::now() >= sliceEnd) return;
  }
}

void TApplication::Terminate() {
  FTerminated = true;
  if (FImpl->Loop != nullptr) FImpl->Loop->quit();
}

void TApplication::ResetTerminated() {
  FTerminated = false;
  FLoopEnded = false;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(true);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const Exception& e) {
    ShowException(e.Message());
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
}

void TApplication::ShowException(const std::string& message) {
  std::string text = message;
  // The platform's display ends a sentence that lacks its full stop.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  HWND owner = FMainForm != nullptr ? FMainForm->Handle() : nullptr;
  MessageBoxA(owner, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONERROR);
}

// --- TScreen ---------------------------------------------------------------------------------------------------

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

int TScreen::Width() const {
  if (QGuiApplication::instance() == nullptr) return 0;
  QScreen* s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->geometry().width() : 0;
}

int TScreen::Height() const {
  if (QGuiApplication::instance() == nullptr) return 0;
  QScreen* s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->geometry().height() : 0;
}

void TScreen::SetCursor(TCursor cursor) {
  FCursor = cursor;
  if (QGuiApplication::instance() == nullptr) return;
  if (cursor == crDefault) {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
    return;
  }
  QCursor shape(static_cast<Qt::CursorShape>(QtCursorShape(cursor)));
  if (QGuiApplication::overrideCursor() != nullptr)
    QGuiApplication::changeOverrideCursor(shape);
  else
    QGuiApplication::setOverrideCursor(shape);
}
