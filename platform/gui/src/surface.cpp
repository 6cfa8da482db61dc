// Surfaces and the device contexts that paint into them (gdi.h, surface.h): SetDIBitsToDevice copies a picture
// into a surface from any thread and asks its widget for a repaint; GetPixel reads back what a surface holds.
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "gui/gdi.h"
#include "gui/surface.h"
#include "gui_p.h"
#include "pixels_p.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace tarvo_gui {

namespace {

// Asks the surface's widget to repaint what was painted: directly on the GUI thread, otherwise by one posted
// request per surface at a time, which takes every paint made until it runs.
void RequestRepaint(const std::shared_ptr<TSurface>& surface, const QRect& rect) {
  if (IsGuiThread()) {
    QWidget* widget;
    {
      std::lock_guard<std::mutex> guard(surface->Lock);
      widget = surface->Widget;
    }
    if (widget != nullptr) widget->update(rect);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(surface->Lock);
    if (surface->Widget == nullptr) return;
    surface->Dirty = surface->Dirty.united(rect);
    if (surface->UpdatePosted) return;
    surface->UpdatePosted = true;
  }
  std::weak_ptr<TSurface> weak = surface;
  PostToGui([weak] {
    std::shared_ptr<TSurface> s = weak.lock();
    if (!s) return;
    QWidget* widget;
    QRect dirty;
    {
      std::lock_guard<std::mutex> guard(s->Lock);
      widget = s->Widget;
      dirty = s->Dirty;
      s->Dirty = QRect();
      s->UpdatePosted = false;
    }
    if (widget != nullptr) widget->update(dirty);
  });
}

std::mutex gDCLock;
std::unordered_map<std::uintptr_t, std::shared_ptr<TSurface>> gDCs;
std::uintptr_t gNextDC = 0x10000;

std::shared_ptr<TSurface> FindDC(HDC dc) {
  std::lock_guard<std::mutex> guard(gDCLock);
  auto it = gDCs.find(reinterpret_cast<std::uintptr_t>(dc));
  return it == gDCs.end() ? nullptr : it->second;
}

}  // namespace

std::shared_ptr<TSurface> NewSurface(QWidget* widget, int width, int height) {
  auto surface = std::make_shared<TSurface>();
  surface->Widget = widget;
  surface->Image = QImage(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied);
  surface->Image.fill(Qt::transparent);
  return surface;
}

void ResizeSurface(TSurface& surface, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  std::lock_guard<std::mutex> guard(surface.Lock);
  if (surface.Image.width() == width && surface.Image.height() == height) return;
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(0, 0, surface.Image);
  painter.end();
  surface.Image = std::move(image);
  surface.Opaque &= surface.Image.rect();
}

void DrawSurface(QPainter& painter, TSurface& surface, const QRegion& area, const QColor* background) {
  std::lock_guard<std::mutex> guard(surface.Lock);
  const QImage& image = surface.Image;
  const QRegion opaque = area.intersected(surface.Opaque);
  const QRegion rest = area.subtracted(opaque);
  if (!rest.isEmpty()) {
    painter.save();
    painter.setClipRegion(rest, Qt::IntersectClip);
    if (background != nullptr) painter.fillRect(rest.boundingRect(), *background);
    painter.drawImage(0, 0, image);
    painter.restore();
  }
  if (opaque.isEmpty()) return;
  // Read as RGB32, the same bits need no blending: Qt copies them row by row.
  const QImage solid(image.constBits(), image.width(), image.height(), image.bytesPerLine(), QImage::Format_RGB32);
  for (const QRect& r : opaque) painter.drawImage(r.topLeft(), solid, r);
}

void DetachSurface(TSurface& surface) {
  std::lock_guard<std::mutex> guard(surface.Lock);
  surface.Widget = nullptr;
}

void SetSurfaceName(TSurface& surface, const std::string& name) {
  std::lock_guard<std::mutex> guard(surface.Lock);
  surface.Name = name;
}

void ClearSurfaceImage(TSurface& surface) {
  std::lock_guard<std::mutex> guard(surface.Lock);
  surface.Image.fill(Qt::transparent);
  surface.Opaque = QRegion();
}

HDC NewDC(std::shared_ptr<TSurface> surface) {
  std::lock_guard<std::mutex> guard(gDCLock);
  std::uintptr_t id = gNextDC;
  gNextDC += 0x10;
  gDCs.emplace(id, std::move(surface));
  return reinterpret_cast<HDC>(id);
}

void FreeDC(HDC dc) {
  std::lock_guard<std::mutex> guard(gDCLock);
  gDCs.erase(reinterpret_cast<std::uintptr_t>(dc));
}

}  // namespace tarvo_gui

using namespace tarvo_gui;

void ClearSurface(HWND hwnd) {
  std::shared_ptr<TSurface> surface = WindowSurface(hwnd);
  if (!surface) return;
  QRect all;
  {
    std::lock_guard<std::mutex> guard(surface->Lock);
    surface->Image.fill(Qt::transparent);
    surface->Opaque = QRegion();
    all = surface->Image.rect();
  }
  RequestRepaint(surface, all);
}

HDC GetDC(HWND hwnd) {
  std::shared_ptr<TSurface> surface = WindowSurface(hwnd);
  if (!surface) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return NewDC(std::move(surface));
}

int ReleaseDC(HWND, HDC dc) {
  std::lock_guard<std::mutex> guard(gDCLock);
  return gDCs.erase(reinterpret_cast<std::uintptr_t>(dc)) > 0 ? 1 : 0;
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT colorUse) {
  if (bits == nullptr || info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  constexpr std::int64_t kMaxSide = 1 << 15;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth <= 0 ||
      h.biWidth > kMaxSide || h.biHeight == 0 || h.biHeight > kMaxSide || h.biHeight < -kMaxSide ||
      colorUse != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::shared_ptr<TSurface> surface = FindDC(dc);
  if (!surface) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::int64_t dibWidth = h.biWidth;
  const std::int64_t dibHeight = h.biHeight > 0 ? h.biHeight : -static_cast<std::int64_t>(h.biHeight);
  const bool bottomUp = h.biHeight > 0;
  const std::int64_t stride = (dibWidth * 3 + 3) & ~std::int64_t{3};
  const std::int64_t firstScan = startScan;
  const std::int64_t lastScan = std::min<std::int64_t>(firstScan + lines, dibHeight);  // exclusive
  if (lines == 0 || firstScan >= dibHeight) return 0;
  const auto* src = static_cast<const unsigned char*>(bits);

  QRect painted;
  std::string name;
  {
    std::lock_guard<std::mutex> guard(surface->Lock);
    if (surface->Widget == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    name = surface->Name;
    QImage& image = surface->Image;
    const std::int64_t surfW = image.width();
    const std::int64_t surfH = image.height();
    // Columns that lie inside the DIB and inside the surface.
    const std::int64_t c0 = std::max<std::int64_t>({0, -static_cast<std::int64_t>(xSrc), -static_cast<std::int64_t>(xDest)});
    const std::int64_t c1 = std::min<std::int64_t>({static_cast<std::int64_t>(width), dibWidth - xSrc, surfW - xDest});
    // Rows of the rectangle that lie on the surface: a huge height costs no more than the surface's rows.
    const std::int64_t j0 = std::max<std::int64_t>(0, -static_cast<std::int64_t>(yDest));
    const std::int64_t j1 = std::min<std::int64_t>(static_cast<std::int64_t>(height), surfH - yDest);
    for (std::int64_t j = j0; c0 < c1 && j < j1; ++j) {
      const std::int64_t y = yDest + j;
      // A bottom-up DIB counts its rows (and ySrc) from the bottom, a top-down one from the top.
      const std::int64_t scan = bottomUp ? static_cast<std::int64_t>(ySrc) + height - 1 - j : ySrc + j;
      if (scan < firstScan || scan >= lastScan) continue;
      const unsigned char* row = src + (scan - firstScan) * stride;
      auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(static_cast<int>(y)));
      BgrRowToRgb32(row + (xSrc + c0) * 3, out + xDest + c0, c1 - c0);
      painted = painted.united(QRect(static_cast<int>(xDest + c0), static_cast<int>(y), static_cast<int>(c1 - c0), 1));
    }
    if (!painted.isEmpty()) surface->Opaque += painted;
  }
  if (!painted.isEmpty()) RequestRepaint(surface, painted);
  WritePaintLog(name, info, bits, startScan, lines);
  return static_cast<int>(lastScan - firstScan);
}


COLORREF GetPixel(HDC dc, int x, int y) {
  std::shared_ptr<TSurface> surface = FindDC(dc);
  if (!surface) return CLR_INVALID;
  std::lock_guard<std::mutex> guard(surface->Lock);
  if (x < 0 || y < 0 || x >= surface->Image.width() || y >= surface->Image.height()) return CLR_INVALID;
  QRgb p = surface->Image.pixel(x, y);
  if (qAlpha(p) == 0) return CLR_INVALID;
  return RGB(static_cast<BYTE>(qRed(p)), static_cast<BYTE>(qGreen(p)), static_cast<BYTE>(qBlue(p)));
}
