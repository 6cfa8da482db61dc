// Inside the toolkit: what its files share and nothing outside may use: the GUI-thread hand-off, colour
// conversion, surfaces behind device contexts and the windows that own them, the widget base that reports clicks
// to its control, and the application's inner side. Not installed; Qt is visible here and only here.
#pragma once

#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gui/controls.h"
#include "gui/forms.h"
#include "gui/graphics.h"
#include "win32/bitmap.h"

class QEventLoop;
class QSocketNotifier;

namespace tarvo_gui {

// The hand-off to the GUI thread (gui_thread.cpp).
// True on the thread that called Application->Initialize (or, before that, the thread Qt runs on).
bool IsGuiThread();
// Runs fn on the GUI thread when its loop next gets to it; from any thread, never waits. Dropped without Qt.
void PostToGui(std::function<void()> fn);

QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

// What SetDIBitsToDevice painted into a form, paint box or child window, kept until painted over or cleared
// (surface.cpp).
// Painting threads and the GUI thread meet under Lock; Widget is set and cleared on the GUI thread only.
struct TSurface {
  std::mutex Lock;
  QImage Image;               // ARGB32 premultiplied; alpha 0 where nothing is painted
  QRegion Opaque;             // where Image holds only opaque pixels (what SetDIBitsToDevice painted)
  QWidget* Widget = nullptr;  // asked to repaint after each paint; null once the widget is gone
  HWND Window = nullptr;      // the platform window it belongs to (0 for paint boxes)
  std::string Name;           // what the paint log calls it
  QRect Dirty;                // painted since the last repaint request was served
  bool UpdatePosted = false;
};

std::shared_ptr<TSurface> NewSurface(QWidget* widget, int width, int height);
void ResizeSurface(TSurface& surface, int width, int height);  // keeps what was painted, top-left anchored
// In the widget's paintEvent: the surface over the area to repaint, on the background colour when one is given
// (otherwise over what the painter already holds there).
void DrawSurface(QPainter& painter, TSurface& surface, const QRegion& area, const QColor* background = nullptr);
void DetachSurface(TSurface& surface);                         // the widget is going: no more repaints
void SetSurfaceName(TSurface& surface, const std::string& name);
void ClearSurfaceImage(TSurface& surface);

// Appends SetDIBitsToDevice's line to the paint log (paint_log.cpp); nothing when the log is off. Any thread.
void WritePaintLog(const std::string& surface, const BITMAPINFO* info, const void* bits, UINT startScan,
                   UINT lines);

// Device contexts: a handle per GetDC or canvas, valid until released; the surface lives as long as a DC does.
HDC NewDC(std::shared_ptr<TSurface> surface);
void FreeDC(HDC dc);

// The platform windows that have a surface and a widget: forms' Handles and child surface windows
// (surface_window.cpp).
void RegisterWindow(HWND hwnd, QWidget* widget, std::shared_ptr<TSurface> surface);
void UnregisterWindow(HWND hwnd);
QWidget* WindowWidget(HWND hwnd);  // GUI thread; nullptr for a window without a widget
std::shared_ptr<TSurface> WindowSurface(HWND hwnd);

// The form a widget lies on, for message-box owners.
QWidget* TopWidgetOf(HWND hwnd);

// The link from a control's widget back to its control; cleared before the control goes, so a late event
// finds nothing to call.
struct TOwnerLink {
  explicit TOwnerLink(TControl* owner) : Owner(owner) {}
  virtual ~TOwnerLink() = default;
  TControl* Owner;
};

// A widget that tells its control about complete left clicks.
template <class W>
class TControlWidget : public W, public TOwnerLink {
 public:
  template <class... A>
  explicit TControlWidget(TControl* owner, A&&... args) : W(std::forward<A>(args)...), TOwnerLink(owner) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) FPressed = true;
    W::mousePressEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    W::mouseReleaseEvent(e);
    bool click = FPressed && e->button() == Qt::LeftButton && this->rect().contains(e->position().toPoint());
    FPressed = false;
    if (click && Owner != nullptr) Owner->WidgetClicked();
  }

 private:
  bool FPressed = false;
};

// The application's inner side (startup.cpp, application.cpp): what Initialize keeps for the loop, and the
// steps that only the toolkit takes.
class TApplicationInternals {
 public:
  // The queue's messages that wait, on a wake-up of its descriptor.
  static void DispatchWaitingMessages(TApplication& app);
  // A form's destructor takes it out of the application's forms.
  static void FormDestroyed(TApplication& app, TCustomForm* form);
  // Once Run's loop has ended no timer tick or posted message is dispatched any more.
  static bool LoopEnded(const TApplication& app) { return app.FLoopEnded; }
};

// The embedded description whose top object is of class className (form_descriptions.cpp).
bool FindFormDescription(const std::string& className, std::string& resourceName);

// The presenter that platform/win32's MessageBoxA shows its boxes with (message_box.cpp).
int QtMessageBoxPresenter(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

}  // namespace tarvo_gui

struct TApplication::TImpl {
  int Argc = 0;
  std::vector<std::string> Args;
  std::vector<char*> Argv;
  QSocketNotifier* Notifier = nullptr;
  QEventLoop* Loop = nullptr;
};
