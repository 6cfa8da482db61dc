// The capture window inside a real form (Qt's offscreen platform): its live preview, the paint log's stamps,
// the reason a failed driver shows in its place, and the driver and codec dialogs taking effect when a user
// answers them.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <array>
#include <QWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <functional>

#include "camera_testutil.h"
#include "capture_testutil.h"
#include "gui/forms.h"
#include "gui/gdi.h"
#include "gui/surface.h"

using namespace vfwtest;

namespace {

std::string gPaintLog;

class Preview : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char path[] = "/tmp/vfw_paint_XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    gPaintLog = path;
    setenv("TARVO_PAINT_LOG", path, 1);  // read once, at the first picture
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application->Initialize();
  }
  static void TearDownTestSuite() { unlink(gPaintLog.c_str()); }

  void SetUp() override {
    Form = new TForm(Application);
    Form->SetClientWidth(553);
    Form->SetClientHeight(338);
    Form->SetVisible(true);
    Window = capCreateCaptureWindowA("capture", WS_CHILD | WS_VISIBLE, 14, 9, kWidth, kHeight, Form->Handle(), 0);
    ASSERT_NE(Window, nullptr);
    Dc = GetDC(Window);
    ASSERT_NE(Dc, nullptr) << "the capture window has a surface inside a form";
  }
  void TearDown() override {
    ReleaseDC(Window, Dc);
    if (IsWindow(Window)) DestroyWindow(Window);
    delete Form;
  }

  // Lets time pass while the GUI thread goes on handling its messages, as a program's would.
  static void Pump(int ms) {
    int64_t end = MonotonicNs() + static_cast<int64_t>(ms) * 1000000;
    while (MonotonicNs() < end) {
      Application->ProcessMessages();
      SleepMs(5);
    }
  }

  // Handles the GUI thread's messages until done() holds; false when it still does not after timeoutMs.
  static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kPatienceMs) {
    int64_t end = MonotonicNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    for (;;) {
      Application->ProcessMessages();
      if (done()) return true;
      if (MonotonicNs() >= end) return false;
      SleepMs(5);
    }
  }

  bool Shown() const { return GetPixel(Dc, 100, 100) != CLR_INVALID; }

  // Paint-log lines since the start that show a test-pattern stamp.
  static int StampedPaints() {
    std::ifstream log(gPaintLog);
    std::string ms, surface, stamp;
    int n = 0;
    while (log >> ms >> surface >> stamp)
      if (stamp.find(':') != std::string::npos) ++n;
    return n;
  }

  // Answers the next modal dialog: change what it shows, then accept.
  static void Answer(std::function<void(QDialog&)> change) {
    QTimer::singleShot(50, [change] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr) << "no modal dialog";
      change(*dialog);
      dialog->accept();
    });
  }

  bool SetUpPattern(DWORD microSecPerFrame) {
    BITMAPINFO format = Record(BI_RGB);
    CAPTUREPARMS parms{};
    if (!capSetCallbackOnVideoStream(Window, &TRecorder::Callback) || !capDriverConnect(Window, 0) ||
        !capSetVideoFormat(Window, &format, sizeof format) || !capCaptureGetSetup(Window, &parms, sizeof parms))
      return false;
    parms.dwRequestMicroSecPerFrame = microSecPerFrame;
    return capCaptureSetSetup(Window, &parms, sizeof parms);
  }

  TForm* Form = nullptr;
  HWND Window = nullptr;
  HDC Dc = nullptr;
  TEnv Drivers{"TARVO_CAPTURE_DRIVERS", "pattern,pattern"};
  TEnv Attended{"TARVO_UNATTENDED", nullptr};
};

}  // namespace

TEST_F(Preview, LivePictureOnlyWhileConnectedAndOverlayIsOn) {
  // A child of the form at the place and size given.
  EXPECT_EQ(GetParent(Window), Form->Handle());
  int placed = 0;
  for (QWidget* w : QApplication::allWidgets())
    if (w->geometry() == QRect(14, 9, kWidth, kHeight) && w->isVisible() && w->parentWidget()) ++placed;
  EXPECT_EQ(placed, 1);
  EXPECT_EQ(GetPixel(Dc, 100, 100), CLR_INVALID);  // nothing painted: what lies beneath shows through
  ASSERT_TRUE(SetUpPattern(20000));
  Pump(100);
  EXPECT_EQ(GetPixel(Dc, 100, 100), CLR_INVALID);  // overlay is off

  int before = StampedPaints();
  ASSERT_TRUE(capOverlay(Window, TRUE));
  EXPECT_TRUE(PumpUntil([&] { return Shown() && StampedPaints() > before + 3; }))
      << "the paint log names the frames the preview shows";
  // The stamp's cells are in the top rows: black or white.
  COLORREF cell = GetPixel(Dc, 4, 4);
  EXPECT_TRUE(cell == RGB(0, 0, 0) || cell == RGB(255, 255, 255)) << std::hex << cell;

  ASSERT_TRUE(capOverlay(Window, FALSE));
  EXPECT_EQ(GetPixel(Dc, 100, 100), CLR_INVALID);
  int off = StampedPaints();
  Pump(100);
  EXPECT_EQ(StampedPaints(), off);

  ASSERT_TRUE(capOverlay(Window, TRUE));
  EXPECT_TRUE(PumpUntil([&] { return Shown(); }));
  ASSERT_TRUE(capDriverDisconnect(Window));
  EXPECT_EQ(GetPixel(Dc, 100, 100), CLR_INVALID);  // the play panel beneath shows again
  // Connecting again brings the overlay back with the driver.
  ASSERT_TRUE(capDriverConnect(Window, 0));
  EXPECT_TRUE(PumpUntil([&] { return Shown(); }));
}

TEST_F(Preview, TheFormsDestructionStopsStreamingAndThePreview) {
  TRecording rec;
  ASSERT_TRUE(SetUpPattern(10000));
  ASSERT_TRUE(capOverlay(Window, TRUE));
  ASSERT_TRUE(capCaptureSequenceNoFile(Window));
  ASSERT_TRUE(PumpUntil([&] { return rec->Calls > 2; }));
  delete Form;  // the capture window goes with it, while a callback and a paint may be under way
  Form = nullptr;
  EXPECT_FALSE(IsWindow(Window));
  EXPECT_FALSE(rec->Inside);
  rec->Stopped = true;
  SleepMs(50);
  EXPECT_EQ(rec->CallsAfterStop, 0);
  EXPECT_GT(rec->Calls, 2);
}

TEST_F(Preview, PreviewGoesOnWhileStreamingAndAfterStop) {
  TRecording rec;
  ASSERT_TRUE(SetUpPattern(20000));
  ASSERT_TRUE(capOverlay(Window, TRUE));
  ASSERT_TRUE(capCaptureSequenceNoFile(Window));
  EXPECT_TRUE(PumpUntil([&] { return rec->Calls > 3; }));
  ASSERT_TRUE(capCaptureStop(Window));
  int after = StampedPaints();
  EXPECT_TRUE(PumpUntil([&] { return StampedPaints() > after; }));  // the overlay goes on after the stop
}

namespace {

std::atomic<int> gPostingCalls{0};
HWND gPostTo = nullptr;

// A callback that hands each frame's news to the GUI thread, as the programs' frame counters do.
LRESULT PostingCallback(HWND, LPVIDEOHDR) {
  ++gPostingCalls;
  PostMessageA(gPostTo, WM_USER + 100, 0, 0);
  return TRUE;
}

}  // namespace

TEST_F(Preview, DriverThreadNeverWaitsForTheGuiThread) {
  ASSERT_TRUE(SetUpPattern(20000));
  gPostTo = Form->Handle();
  gPostingCalls = 0;
  ASSERT_TRUE(capSetCallbackOnVideoStream(Window, &PostingCallback));
  ASSERT_TRUE(capOverlay(Window, TRUE));
  ASSERT_TRUE(capCaptureSequenceNoFile(Window));
  // The GUI thread handles nothing meanwhile: neither the preview's repaints nor the posted messages. A driver
  // thread that waited for it would never get this far.
  EXPECT_TRUE(WaitUntil([] { return gPostingCalls >= 40; }));
  EXPECT_TRUE(Shown());  // the preview was painted meanwhile
  ASSERT_TRUE(capCaptureStop(Window));
  Pump(50);
}

TEST_F(Preview, FormatDialogTakesEffect) {
  TRecording rec;
  ASSERT_TRUE(SetUpPattern(10000));
  Answer([](QDialog& d) {
    auto boxes = d.findChildren<QComboBox*>();
    ASSERT_EQ(boxes.size(), 2);
    boxes[0]->setCurrentIndex(boxes[0]->findText("176 x 144"));
    boxes[1]->setCurrentIndex(1);  // 32 bits
  });
  EXPECT_TRUE(capDlgVideoFormat(Window));
  ASSERT_TRUE(capCaptureSequenceNoFile(Window));
  ASSERT_TRUE(PumpUntil([&] { return rec->Calls > 0; }));
  ASSERT_TRUE(capCaptureStop(Window));
  std::lock_guard<std::mutex> lock(rec->Lock);
  ASSERT_FALSE(rec->Sizes.empty());
  EXPECT_EQ(rec->Sizes.back(), 176u * 144u * 4u);
}

TEST_F(Preview, DisplayAndSourceDialogsTakeEffect) {
  ASSERT_TRUE(SetUpPattern(20000));
  ASSERT_TRUE(capOverlay(Window, TRUE));
  ASSERT_TRUE(PumpUntil([&] { return Shown(); }));
  Answer([](QDialog& d) { d.findChild<QCheckBox*>()->setChecked(false); });
  EXPECT_TRUE(capDlgVideoDisplay(Window));
  EXPECT_EQ(GetPixel(Dc, 100, 100), CLR_INVALID);  // the live picture is gone

  Answer([](QDialog& d) { d.findChildren<QComboBox*>()[0]->setCurrentIndex(1); });
  EXPECT_TRUE(capDlgVideoSource(Window));
  TEnv unattended("TARVO_UNATTENDED", "1");
  testing::internal::CaptureStderr();
  capDlgVideoSource(Window);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("device 1: Test pattern"), std::string::npos) << err;
}

TEST_F(Preview, CodecDialogSetsBitRateAndQualityOrNothingWhenCancelled) {
  TSettingsGuard guard;
  TDivxSettings::SetCurrent({4000, 85});
  HIC hic = OpenDivx();
  Answer([](QDialog& d) {
    d.findChild<QSpinBox*>()->setValue(1500);
    d.findChild<QSlider*>()->setValue(60);
  });
  EXPECT_EQ(ICConfigure(hic, Form->Handle()), ICERR_OK);
  EXPECT_EQ(TDivxSettings::Current().BitRate, 1500);
  EXPECT_EQ(TDivxSettings::Current().Quality, 60);

  QTimer::singleShot(50, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QSlider*>()->setValue(10);
    dialog->reject();
  });
  EXPECT_EQ(ICConfigure(hic, Form->Handle()), ICERR_OK);
  EXPECT_EQ(TDivxSettings::Current().Quality, 60);
  ICClose(hic);
}

// A camera that goes while the preview shows it: the preview shows why, in text on black, where the picture
// was, besides the line on standard error.
TEST_F(Preview, AFailedDriverShowsItsReasonWhereThePictureWas) {
  TEmulatedCamera camera("yuyv", "unplug", "15");
  TStderr errors;
  ASSERT_TRUE(SetUpPattern(40000));
  ASSERT_TRUE(capOverlay(Window, TRUE));
  auto channels = [](COLORREF c) { return std::array<int, 3>{int(c & 0xFF), int((c >> 8) & 0xFF), int(c >> 16)}; };
  auto red = [&](COLORREF c) {
    auto [r, g, b] = channels(c);
    return c != CLR_INVALID && r > 200 && g < 60 && b < 60;
  };
  ASSERT_TRUE(PumpUntil([&] { return red(GetPixel(Dc, 8, 8)); })) << "the camera's picture is shown";
  EXPECT_TRUE(PumpUntil([&] { return errors.Text().find("capture driver 0: ") != std::string::npos; }));
  EXPECT_TRUE(PumpUntil([&] { return GetPixel(Dc, 8, 8) == RGB(0, 0, 0); })) << std::hex << GetPixel(Dc, 8, 8);
  int light = 0, coloured = 0;
  for (int y = 0; y < kHeight; y += 2)
    for (int x = 0; x < kWidth; x += 2) {
      auto [r, g, b] = channels(GetPixel(Dc, x, y));
      if (r > 128 && g > 128 && b > 128) ++light;
      if (std::max({r, g, b}) - std::min({r, g, b}) > 40) ++coloured;
    }
  EXPECT_GT(light, 20) << "no text";
  EXPECT_LT(light, kWidth * kHeight / 4 / 4) << "not text on black";
  EXPECT_EQ(coloured, 0) << "something of the picture stays";
}
