// The capture window's preview when a smaller format is chosen: the part that the new picture leaves uncovered
// shows what the window shows without a driver, not the last picture of the old size.
#include <gtest/gtest.h>

#include <QApplication>
#include <functional>

#include "capture_testutil.h"
#include "gui/forms.h"
#include "gui/gdi.h"
#include "gui/surface.h"

using namespace vfwtest;

namespace {

// Handles the GUI thread's messages until done holds; false after a deadline that only a hang reaches.
bool PumpUntil(const std::function<bool()>& done) {
  const int64_t deadline = MonotonicNs() + 30'000'000'000;
  while (!done()) {
    if (MonotonicNs() > deadline) return false;
    Application->ProcessMessages();
    SleepMs(2);
  }
  return true;
}

}  // namespace

TEST(PreviewFormat, ASmallerFormatLeavesNoStalePictureAroundIt) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  Application->Initialize();
  TEnv drivers("TARVO_CAPTURE_DRIVERS", "pattern");
  TEnv attended("TARVO_UNATTENDED", nullptr);
  auto* form = new TForm(Application);
  form->SetClientWidth(553);
  form->SetClientHeight(338);
  form->SetVisible(true);
  HWND window = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, 14, 9, kWidth, kHeight, form->Handle(), 0);
  ASSERT_NE(window, nullptr);
  HDC dc = GetDC(window);
  BITMAPINFO large = Record(BI_RGB);
  ASSERT_TRUE(capDriverConnect(window, 0));
  ASSERT_TRUE(capSetVideoFormat(window, &large, sizeof large));
  ASSERT_TRUE(capOverlay(window, TRUE));
  ASSERT_TRUE(PumpUntil([&] { return GetPixel(dc, 300, 250) != CLR_INVALID; })) << "no 352 x 288 picture";

  BITMAPINFO small = Record(BI_RGB, 160, 120);
  ASSERT_TRUE(capSetVideoFormat(window, &small, sizeof small));
  EXPECT_EQ(GetPixel(dc, 300, 250), CLR_INVALID);
  EXPECT_EQ(GetPixel(dc, 100, 100), CLR_INVALID);  // nothing old stays, not even where the new picture comes
  ASSERT_TRUE(PumpUntil([&] { return GetPixel(dc, 100, 100) != CLR_INVALID; })) << "no 160 x 120 picture";
  EXPECT_EQ(GetPixel(dc, 300, 250), CLR_INVALID);
  EXPECT_EQ(GetPixel(dc, 170, 60), CLR_INVALID);
  EXPECT_EQ(GetPixel(dc, 60, 130), CLR_INVALID);

  // Back to the large format, the whole window shows the live picture again.
  ASSERT_TRUE(capSetVideoFormat(window, &large, sizeof large));
  ASSERT_TRUE(PumpUntil([&] { return GetPixel(dc, 300, 250) != CLR_INVALID; }));
  ReleaseDC(window, dc);
  DestroyWindow(window);
  delete form;
}
