// Device contexts and SetDIBitsToDevice: row order, BGR to RGB, clipping, a paint box's origin, painting from
// another thread, surfaces that keep their picture, child surface windows, the paint log.
#include <gtest/gtest.h>

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "gui/gdi.h"
#include "gui/paintlog.h"
#include "gui/surface.h"
#include "testforms.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace {

// A 24-bit DIB whose pixel at image row y (0 = top), column x has the colour colour(x, y).
struct TDib {
  BITMAPINFO Info{};
  std::vector<unsigned char> Bits;
  TDib(int width, int height, bool bottomUp, COLORREF (*colour)(int, int)) {
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = width;
    Info.bmiHeader.biHeight = bottomUp ? height : -height;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 24;
    Info.bmiHeader.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    Bits.assign(static_cast<std::size_t>(stride * height), 0xEE);  // padding bytes must not show
    for (int y = 0; y < height; ++y) {
      const int row = bottomUp ? height - 1 - y : y;
      for (int x = 0; x < width; ++x) {
        COLORREF c = colour(x, y);
        unsigned char* p = &Bits[static_cast<std::size_t>(row * stride + x * 3)];
        p[0] = static_cast<unsigned char>((c >> 16) & 0xFF);  // blue first
        p[1] = static_cast<unsigned char>((c >> 8) & 0xFF);
        p[2] = static_cast<unsigned char>(c & 0xFF);
      }
    }
  }
};

COLORREF Distinct(int x, int y) { return RGB(static_cast<BYTE>(10 + x), static_cast<BYTE>(100 + y), static_cast<BYTE>(200 + x + y)); }
COLORREF Red(int, int) { return RGB(255, 0, 0); }
COLORREF Green(int, int) { return RGB(0, 255, 0); }

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->CreateForm(Form);
    Form->Show();
    ASSERT_TRUE(PumpUntil([&] { return Form->Widget()->isVisible(); }));
    Box = Form->PaintBox1->Canvas()->Handle();
  }
  void TearDown() override {
    if (Form != nullptr) FreeForm(Form);
  }
  QImage Shown(TControl* c) { return c->Widget()->grab().toImage(); }
  static QColor Q(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
  TTestForm* Form = nullptr;
  HDC Box = nullptr;
};

}  // namespace

TEST_F(GdiTest, BottomUpAndTopDownRowsLandUprightWithColoursInOrder) {
  for (bool bottomUp : {true, false}) {
    TDib dib(3, 4, bottomUp, &Distinct);  // width 3: rows are padded to 12 bytes
    ASSERT_EQ(SetDIBitsToDevice(Box, 5, 6, 3, 4, 0, 0, 0, 4, dib.Bits.data(), &dib.Info, DIB_RGB_COLORS), 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(GetPixel(Box, 5 + x, 6 + y), Distinct(x, y)) << x << "," << y << " " << bottomUp;
    EXPECT_EQ(GetPixel(Box, 8, 6), CLR_INVALID);  // nothing painted beside it
  }
  // What the box shows on screen is that picture too.
  PumpUntil([&] { return Shown(Form->PaintBox1).pixelColor(6, 8) == Q(Distinct(1, 2)); });
  EXPECT_EQ(Shown(Form->PaintBox1).pixelColor(6, 8), Q(Distinct(1, 2)));
}

TEST_F(GdiTest, RowsConvertedInBulkKeepEveryPixelAndStopAtTheRectangle) {
  // Pixels go four at a time with a remainder: 10 columns from the second on, rows of 33 bytes padded to 36.
  TDib dib(11, 3, true, &Distinct);
  ASSERT_EQ(SetDIBitsToDevice(Box, 2, 2, 10, 3, 1, 0, 0, 3, dib.Bits.data(), &dib.Info, DIB_RGB_COLORS), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(GetPixel(Box, 2 + x, 2 + y), Distinct(1 + x, y)) << x << "," << y;
  EXPECT_EQ(GetPixel(Box, 12, 2), CLR_INVALID);
  EXPECT_EQ(GetPixel(Box, 1, 2), CLR_INVALID);
}

TEST_F(GdiTest, LongRowsConvertEveryPixelAndNotOneMore) {
  // Rows of 16 pixels and more go in bulk; widths around that step and a start inside the row meet every
  // remainder. Rows of 48 pixels are 144 bytes, unpadded: the last row ends the buffer exactly, so a read past
  // it would show under the address sanitizer.
  for (int width : {15, 16, 17, 31, 33, 48}) {
    for (int xSrc : {0, 1, 5}) {
      if (xSrc >= width) continue;
      const int count = width - xSrc;
      TDib dib(width, 3, true, &Distinct);
      SCOPED_TRACE(testing::Message() << "width " << width << " from " << xSrc);
      ClearSurface(Form->Handle());
      HDC dc = Form->Canvas()->Handle();
      ASSERT_EQ(SetDIBitsToDevice(dc, 0, 320, count, 3, xSrc, 0, 0, 3, dib.Bits.data(), &dib.Info, DIB_RGB_COLORS), 3);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < count; ++x) ASSERT_EQ(GetPixel(dc, x, 320 + y), Distinct(xSrc + x, y)) << x << "," << y;
      EXPECT_EQ(GetPixel(dc, count, 320), CLR_INVALID);
    }
  }
}

TEST_F(GdiTest, AFormShowsItsColourAroundWhatWasPaintedAndAgainOnceCleared) {
  const QColor colour = Q(9150078);  // the test form's colour
  const QColor green(0, 255, 0);
  TDib dib(20, 30, true, &Green);
  HDC dc = Form->Canvas()->Handle();
  ASSERT_EQ(SetDIBitsToDevice(dc, 372, 40, 20, 30, 0, 0, 0, 30, dib.Bits.data(), &dib.Info, DIB_RGB_COLORS), 30);
  PumpUntil([&] { return Shown(Form).pixelColor(380, 50) == green; });
  QImage form = Shown(Form);
  EXPECT_EQ(form.pixelColor(372, 40), green);
  EXPECT_EQ(form.pixelColor(391, 69), green);
  EXPECT_EQ(form.pixelColor(371, 50), colour);
  EXPECT_EQ(form.pixelColor(392, 50), colour);
  EXPECT_EQ(form.pixelColor(380, 39), colour);
  EXPECT_EQ(form.pixelColor(380, 70), colour);
  // Part of the picture painted again over a band of it keeps the rest.
  TDib red(20, 5, true, &Red);
  SetDIBitsToDevice(dc, 372, 60, 20, 5, 0, 0, 0, 5, red.Bits.data(), &red.Info, DIB_RGB_COLORS);
  PumpUntil([&] { return Shown(Form).pixelColor(380, 62) == QColor(255, 0, 0); });
  form = Shown(Form);
  EXPECT_EQ(form.pixelColor(380, 62), QColor(255, 0, 0));
  EXPECT_EQ(form.pixelColor(380, 59), green);
  EXPECT_EQ(form.pixelColor(380, 65), green);
  // Cleared, the form shows its colour there again.
  ClearSurface(Form->Handle());
  PumpUntil([&] { return Shown(Form).pixelColor(380, 50) == colour; });
  form = Shown(Form);
  EXPECT_EQ(form.pixelColor(380, 50), colour);
  EXPECT_EQ(form.pixelColor(380, 62), colour);
}

TEST_F(GdiTest, SourceRectanglesAndScanBandsFollowThePlatformsCoordinates) {
  TDib dib(4, 4, true, &Distinct);
  // A bottom-up DIB counts ySrc from the bottom: source rows 0..1 from the bottom are image rows 2 and 3.
  SetDIBitsToDevice(Box, 0, 0, 2, 2, 1, 0, 0, 4, dib.Bits.data(), &dib.Info, DIB_RGB_COLORS);
  EXPECT_EQ(GetPixel(Box, 0, 0), Distinct(1, 2));
  EXPECT_EQ(GetPixel(Box, 1, 1), Distinct(2, 3));
  // A band of scan lines: bits hold scan lines 1 and 2 only (scan line 0 is the bottom row).
  const int stride = 12;
  std::vector<unsigned char> band(dib.Bits.begin() + stride, dib.Bits.begin() + 3 * stride);
  EXPECT_EQ(SetDIBitsToDevice(Box, 20, 20, 4, 4, 0, 0, 1, 2, band.data(), &dib.Info, DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetPixel(Box, 20, 20), CLR_INVALID);          // image row 0 = scan line 3: not supplied
  EXPECT_EQ(GetPixel(Box, 20, 21), Distinct(0, 1));       // scan line 2
  EXPECT_EQ(GetPixel(Box, 23, 22), Distinct(3, 2));       // scan line 1
  EXPECT_EQ(GetPixel(Box, 20, 23), CLR_INVALID);          // scan line 0: not supplied
}

TEST_F(GdiTest, PaintingIsClippedToTheBoxWhoseOriginIsTheBox) {
  TDib red(8, 8, true, &Red);
  // Partly outside on every side: only what lies inside the 352 x 288 box is painted, nothing else is touched.
  EXPECT_EQ(SetDIBitsToDevice(Box, -4, -4, 8, 8, 0, 0, 0, 8, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 8);
  EXPECT_EQ(SetDIBitsToDevice(Box, 348, 284, 8, 8, 0, 0, 0, 8, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 8);
  EXPECT_EQ(SetDIBitsToDevice(Box, 5000, 5000, 8, 8, 0, 0, 0, 8, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 8);
  EXPECT_EQ(GetPixel(Box, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(Box, 3, 3), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(Box, 4, 4), CLR_INVALID);
  EXPECT_EQ(GetPixel(Box, 351, 287), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(Box, 352, 287), CLR_INVALID);
  EXPECT_EQ(GetPixel(Box, -1, 0), CLR_INVALID);
  // A rectangle larger than the DIB reads no byte past it; a bottom-up DIB counts from the rectangle's bottom.
  EXPECT_EQ(SetDIBitsToDevice(Box, 100, 100, 50, 50, 0, 0, 0, 8, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 8);
  EXPECT_EQ(GetPixel(Box, 107, 149), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(Box, 100, 142), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(Box, 108, 149), CLR_INVALID);
  EXPECT_EQ(GetPixel(Box, 100, 141), CLR_INVALID);
  EXPECT_EQ(GetPixel(Box, 100, 150), CLR_INVALID);

  // The box lies at 13+1, 8+1 in the form: painted at its 0, 0, the form shows red there and the form's own
  // surface has nothing.
  PumpUntil([&] { return Shown(Form).pixelColor(14, 9) == QColor(255, 0, 0); });
  QImage form = Shown(Form);
  EXPECT_EQ(form.pixelColor(14, 9), QColor(255, 0, 0));
  EXPECT_EQ(form.pixelColor(13, 8), QColor(128, 128, 128));  // the panel's lowered bevel
  HDC formDC = GetDC(Form->Handle());
  ASSERT_NE(formDC, nullptr);
  EXPECT_EQ(GetPixel(formDC, 14, 9), CLR_INVALID);
  EXPECT_EQ(ReleaseDC(Form->Handle(), formDC), 1);
}

TEST_F(GdiTest, BadArgumentsPaintNothing) {
  TDib dib(2, 2, true, &Red);
  SetLastError(0);
  EXPECT_EQ(SetDIBitsToDevice(Box, 0, 0, 2, 2, 0, 0, 0, 2, nullptr, &dib.Info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  BITMAPINFO wrong = dib.Info;
  wrong.bmiHeader.biBitCount = 32;
  EXPECT_EQ(SetDIBitsToDevice(Box, 0, 0, 2, 2, 0, 0, 0, 2, dib.Bits.data(), &wrong, DIB_RGB_COLORS), 0);
  wrong = dib.Info;
  wrong.bmiHeader.biCompression = 0x58564944;  // compressed data is no DIB to paint
  EXPECT_EQ(SetDIBitsToDevice(Box, 0, 0, 2, 2, 0, 0, 0, 2, dib.Bits.data(), &wrong, DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBitsToDevice(reinterpret_cast<HDC>(0x1234), 0, 0, 2, 2, 0, 0, 0, 2, dib.Bits.data(), &dib.Info,
                              DIB_RGB_COLORS),
            0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetPixel(Box, 0, 0), CLR_INVALID);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x1234)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(GdiTest, AnotherThreadPaintsWithoutWaitingAndTheSurfaceKeepsThePicture) {
  TDib green(352, 288, true, &Green);
  // The GUI thread is busy (it runs the test and pumps nothing) while the thread paints 50 frames.
  std::atomic<bool> done{false};
  std::thread painter([&] {
    for (int i = 0; i < 50; ++i)
      SetDIBitsToDevice(Box, 0, 0, 352, 288, 0, 0, 0, 288, green.Bits.data(), &green.Info, DIB_RGB_COLORS);
    done = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return done.load(); })) << "a paint waited for the GUI thread";
  if (!done) PumpUntil([&] { return done.load(); });  // so that such a paint can end, and the test
  painter.join();
  EXPECT_EQ(GetPixel(Box, 100, 100), RGB(0, 255, 0));
  PumpUntil([&] { return Shown(Form->PaintBox1).pixelColor(100, 100) == QColor(0, 255, 0); });
  EXPECT_EQ(Shown(Form->PaintBox1).pixelColor(100, 100), QColor(0, 255, 0));
  // Hidden and shown again, it still shows what was painted.
  Form->Hide();
  Pump(10);
  Form->Show();
  Pump(10);
  EXPECT_EQ(Shown(Form->PaintBox1).pixelColor(351, 287), QColor(0, 255, 0));
}

namespace {

LRESULT PlainProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return DefWindowProcA(hwnd, msg, w, l); }

}  // namespace

TEST_F(GdiTest, ChildSurfaceWindowsPaintOverTheFormAndClearToWhatLiesBeneath) {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "GdiTestCapture";
    return RegisterClassA(&wc) != 0;
  }();
  ASSERT_TRUE(registered);
  HWND child = CreateSurfaceWindow("GdiTestCapture", WS_CHILD | WS_VISIBLE, 14, 9, 352, 288, Form->Handle(), nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(GetParent(child), Form->Handle());
  HDC dc = GetDC(child);
  ASSERT_NE(dc, nullptr);
  TDib red(352, 288, true, &Red);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 352, 288, 0, 0, 0, 288, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 288);
  PumpUntil([&] { return Shown(Form).pixelColor(14 + 100, 9 + 100) == QColor(255, 0, 0); });
  EXPECT_EQ(Shown(Form).pixelColor(14 + 100, 9 + 100), QColor(255, 0, 0));

  // Cleared, it is transparent: the paint box beneath shows through (here, after green was painted into it).
  TDib green(352, 288, true, &Green);
  SetDIBitsToDevice(Box, 0, 0, 352, 288, 0, 0, 0, 288, green.Bits.data(), &green.Info, DIB_RGB_COLORS);
  ClearSurface(child);
  EXPECT_EQ(GetPixel(dc, 100, 100), CLR_INVALID);
  PumpUntil([&] { return Shown(Form).pixelColor(14 + 100, 9 + 100) == QColor(0, 255, 0); });
  EXPECT_EQ(Shown(Form).pixelColor(14 + 100, 9 + 100), QColor(0, 255, 0));

  // Destroyed, its surface goes; a DC still held paints nothing and does no harm.
  EXPECT_TRUE(DestroyWindow(child));
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 352, 288, 0, 0, 0, 288, red.Bits.data(), &red.Info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDC(child), nullptr);
  EXPECT_EQ(ReleaseDC(child, dc), 1);
  Pump(20);
  EXPECT_EQ(Shown(Form).pixelColor(14 + 100, 9 + 100), QColor(0, 255, 0));

  // Only a form's window (or such a child) can hold one.
  SetLastError(0);
  EXPECT_EQ(CreateSurfaceWindow("GdiTestCapture", WS_CHILD, 0, 0, 10, 10, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(GdiTest, TheFormsCanvasPaintsBehindItsControls) {
  TDib red(553, 400, true, &Red);
  HDC dc = Form->Canvas()->Handle();
  SetDIBitsToDevice(dc, 0, 0, 553, 400, 0, 0, 0, 400, red.Bits.data(), &red.Info, DIB_RGB_COLORS);
  PumpUntil([&] { return Shown(Form).pixelColor(390, 5) == QColor(255, 0, 0); });
  QImage form = Shown(Form);
  EXPECT_EQ(form.pixelColor(390, 5), QColor(255, 0, 0));   // bare form: the picture
  EXPECT_EQ(form.pixelColor(100, 100), QColor(0, 0, 0));   // the black panel stays on top
}

namespace {

std::string RedStamp(const BITMAPINFO* info, const void* bits, UINT, UINT) {
  const auto* p = static_cast<const unsigned char*>(bits);
  return info->bmiHeader.biWidth > 0 && p[2] == 255 && p[1] == 0 ? "seq=7,t=1234" : "";
}

}  // namespace

TEST_CHILD(PaintLog) {
  Application->Initialize();
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  SetPaintStampDecoder(&RedStamp);
  TDib red(4, 4, true, &Red);
  TDib green(4, 4, true, &Green);
  std::uint64_t before = GetTickCount64();
  HDC box = form->PaintBox1->Canvas()->Handle();
  std::thread([&] { SetDIBitsToDevice(box, 0, 0, 4, 4, 0, 0, 0, 4, red.Bits.data(), &red.Info, DIB_RGB_COLORS); }).join();
  SetDIBitsToDevice(box, 0, 0, 4, 4, 0, 0, 0, 4, green.Bits.data(), &green.Info, DIB_RGB_COLORS);
  std::cout << before << " " << GetTickCount64() << std::endl;
  FreeForm(form);
  return 0;
}

TEST(PaintLog, EachPaintAppendsTimeSurfaceAndStamp) {
  char name[] = "/tmp/gui-paintlog-XXXXXX";
  close(mkstemp(name));
  TChildResult r = RunChild("PaintLog", {std::string("TARVO_PAINT_LOG=") + name, "QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(r.ExitStatus, 0) << r.Stderr;
  std::uint64_t before = 0, after = 0;
  std::istringstream(r.Stdout) >> before >> after;
  std::ifstream in(name);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  unlink(name);
  ASSERT_EQ(lines.size(), 2u);
  std::istringstream first(lines[0]);
  std::uint64_t ms;
  std::string surface, stamp;
  first >> ms >> surface >> stamp;
  EXPECT_GE(ms, before);  // the monotonic clock's milliseconds when it painted
  EXPECT_LE(ms, after);
  EXPECT_EQ(surface, "TestForm.PaintBox1");
  EXPECT_EQ(stamp, "seq=7,t=1234");
  EXPECT_NE(lines[1].find(" TestForm.PaintBox1 -"), std::string::npos) << lines[1];
}
