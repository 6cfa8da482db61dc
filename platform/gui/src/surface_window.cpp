// The platform windows that own a widget and a surface (gui_p.h): forms' Handles, and the child surface windows
// of gdi.h (CreateSurfaceWindow) that layers below the forms paint into, such as a capture window.
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "gui/gdi.h"
#include "gui_p.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace tarvo_gui {

namespace {

struct TWindowEntry {
  QWidget* Widget = nullptr;
  std::shared_ptr<TSurface> Surface;
  WNDPROC Previous = nullptr;  // the window's own procedure, for child surface windows
};
std::mutex gWindowLock;
std::map<HWND, TWindowEntry> gWindows;

// Child surface windows: the window's own procedure sees every message first; when the window dies its widget
// and surface go too.
LRESULT SurfaceWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC previous = nullptr;
  {
    std::lock_guard<std::mutex> guard(gWindowLock);
    auto it = gWindows.find(hwnd);
    if (it != gWindows.end()) previous = it->second.Previous;
  }
  LRESULT result = previous != nullptr ? previous(hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    QWidget* widget = WindowWidget(hwnd);
    UnregisterWindow(hwnd);
    delete widget;
  }
  return result;
}

// The widget of a child surface window: shows the surface over its parent, lets clicks through.
class TSurfaceWindowWidget : public QWidget {
 public:
  explicit TSurfaceWindowWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }
  ~TSurfaceWindowWidget() override {
    if (Surface) DetachSurface(*Surface);
    std::lock_guard<std::mutex> guard(gWindowLock);
    for (auto& [hwnd, entry] : gWindows)
      if (entry.Widget == this) entry.Widget = nullptr;
  }
  std::shared_ptr<TSurface> Surface;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    if (Surface) DrawSurface(painter, *Surface, event->region());
  }
  void resizeEvent(QResizeEvent*) override {
    if (Surface) ResizeSurface(*Surface, width(), height());
  }
};

}  // namespace

void RegisterWindow(HWND hwnd, QWidget* widget, std::shared_ptr<TSurface> surface) {
  std::lock_guard<std::mutex> guard(gWindowLock);
  TWindowEntry& entry = gWindows[hwnd];
  entry.Widget = widget;
  entry.Surface = std::move(surface);
  if (entry.Surface) {
    std::lock_guard<std::mutex> surfaceGuard(entry.Surface->Lock);
    entry.Surface->Window = hwnd;
  }
}

void UnregisterWindow(HWND hwnd) {
  std::shared_ptr<TSurface> surface;
  {
    std::lock_guard<std::mutex> guard(gWindowLock);
    auto it = gWindows.find(hwnd);
    if (it == gWindows.end()) return;
    surface = std::move(it->second.Surface);
    gWindows.erase(it);
  }
  if (surface) DetachSurface(*surface);
}

QWidget* WindowWidget(HWND hwnd) {
  std::lock_guard<std::mutex> guard(gWindowLock);
  auto it = gWindows.find(hwnd);
  return it == gWindows.end() ? nullptr : it->second.Widget;
}

std::shared_ptr<TSurface> WindowSurface(HWND hwnd) {
  std::lock_guard<std::mutex> guard(gWindowLock);
  auto it = gWindows.find(hwnd);
  return it == gWindows.end() ? nullptr : it->second.Surface;
}

QWidget* TopWidgetOf(HWND hwnd) {
  for (int depth = 0; hwnd != nullptr && depth < 64; ++depth) {
    if (QWidget* widget = WindowWidget(hwnd)) return widget->window();
    hwnd = GetParent(hwnd);
  }
  return nullptr;
}

}  // namespace tarvo_gui

using namespace tarvo_gui;

HWND CreateSurfaceWindow(LPCSTR className, DWORD style, int x, int y, int width, int height, HWND parent,
                         LPVOID param) {
  QWidget* parentWidget = IsGuiThread() ? WindowWidget(parent) : nullptr;
  if (parentWidget == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND hwnd = CreateWindowExA(0, className, "", style, x, y, width, height, parent, nullptr, nullptr, param);
  if (hwnd == nullptr) return nullptr;
  auto* widget = new TSurfaceWindowWidget(parentWidget);
  widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
  widget->Surface = NewSurface(widget, width, height);
  std::string parentName;
  if (std::shared_ptr<TSurface> parentSurface = WindowSurface(parent)) {
    std::lock_guard<std::mutex> guard(parentSurface->Lock);
    parentName = parentSurface->Name;
  }
  SetSurfaceName(*widget->Surface, parentName + "." + (className != nullptr ? className : ""));
  RegisterWindow(hwnd, widget, widget->Surface);
  LONG_PTR previous = SetWindowLongA(hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SurfaceWindowProc));
  {
    std::lock_guard<std::mutex> guard(gWindowLock);
    gWindows[hwnd].Previous = reinterpret_cast<WNDPROC>(previous);
  }
  widget->raise();
  widget->setVisible((style & WS_VISIBLE) != 0);
  return hwnd;
}
