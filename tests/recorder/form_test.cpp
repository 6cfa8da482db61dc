// The recorder's forms as stored, as FormCreate and the first showing leave them, the splash during the set-up,
// and the panel switches.
#include <QWidget>
#include <algorithm>

#include "gui/surface.h"
#include "recorder_testing.h"
#include "win32/win32.h"

using namespace rectest;

namespace {

class RecorderForm : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override { DestroyForms(); }
};

void ExpectPlace(const TControl* c, const TControl* parent, int left, int top, int width, int height) {
  SCOPED_TRACE(c->Name());
  EXPECT_EQ(c->Parent(), parent);
  EXPECT_EQ(c->Left(), left);
  EXPECT_EQ(c->Top(), top);
  EXPECT_EQ(c->Width(), width);
  EXPECT_EQ(c->Height(), height);
}

void ExpectLabelFont(const TLabel* l, int height) {
  SCOPED_TRACE(l->Name());
  EXPECT_EQ(l->Font()->Name(), "Arial");
  EXPECT_EQ(l->Font()->Height(), height);
  EXPECT_EQ(l->Font()->Style(), FontStyle(fsItalic));
  EXPECT_EQ(l->Font()->Color(), clYellow);
}

bool IsJpeg(const TImage* image) { return dynamic_cast<const TJPEGImage*>(image->Picture()->Graphic()) != nullptr; }

// Whether the capture window shows a picture of its driver at its centre.
bool PreviewShown(HWND capWnd) {
  HDC dc = GetDC(capWnd);
  if (!dc) return false;
  const bool painted = GetPixel(dc, 176, 144) != CLR_INVALID;
  ReleaseDC(capWnd, dc);
  return painted;
}

}  // namespace

TEST_F(RecorderForm, MainWindowAsStored) {
  TForm1* f = CreateForms(false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Application->MainForm(), f);
  EXPECT_EQ(f->Caption(), "Tarvo MPEG4 Video Capture");
  EXPECT_EQ(f->BorderStyle(), bsDialog);
  EXPECT_EQ(f->BorderIcons(), 1u << biSystemMenu);
  EXPECT_EQ(f->ClientWidth(), 554);
  EXPECT_EQ(f->ClientHeight(), 458);
  EXPECT_EQ(ColorToRGB(f->Color()), 0x00505A64u);
  EXPECT_EQ(f->Position(), poScreenCenter);
  EXPECT_EQ(f->Font()->Name(), "宋体");
  EXPECT_EQ(f->Font()->Height(), -12);
  EXPECT_EQ(f->Font()->Charset(), GB2312_CHARSET);
  EXPECT_TRUE(f->OnCreate && f->OnShow && f->OnDestroy);
}

TEST_F(RecorderForm, ControlsInTheirPlacesSizedToTheirPictures) {
  TForm1* f = CreateForms(false);
  ASSERT_NE(f, nullptr);
  ExpectPlace(f->RecordImage, f, 8, 8, 179, 49);
  ExpectPlace(f->PlayImage, f, 184, 8, 179, 49);
  ExpectPlace(f->ExitBtn, f, 360, 8, 179, 49);
  ExpectPlace(f->Label1, f, 16, 392, 493, 51);
  ExpectPlace(f->RecordPanel, f, 8, 64, 537, 321);
  ExpectPlace(f->Image1, f->RecordPanel, 0, 0, 527, 314);
  const int tops[] = {8, 56, 104, 152, 200};
  TPictureButton* recordButtons[] = {f->NewBtn, f->VideoSetupBtn, f->CodecSetupBtn, f->CaptureBtn, f->StopBtn};
  for (int i = 0; i < 5; ++i) ExpectPlace(recordButtons[i], f->RecordPanel, 381, tops[i], 138, 42);
  // Moved onto the record panel by FormCreate: the two take the same place.
  ExpectPlace(f->PlayPanel, f, 8, 64, 545, 321);
  ExpectPlace(f->Image4, f->PlayPanel, 0, 0, 527, 314);
  TPictureButton* playButtons[] = {f->OpenBtn, f->PlayBtn, f->StopPlayBtn};
  for (int i = 0; i < 3; ++i) ExpectPlace(playButtons[i], f->PlayPanel, 381, tops[i], 138, 42);
  ExpectPlace(f->PaintBox1, f->PlayPanel, 11, 10, 352, 288);
  EXPECT_EQ(f->CapLabel->Parent(), f->RecordPanel);
  EXPECT_EQ(f->CapFileLabel->Parent(), f->RecordPanel);
  EXPECT_EQ(f->PlayLabel->Parent(), f->PlayPanel);
  EXPECT_EQ(f->PlayFileLabel->Parent(), f->PlayPanel);
  for (TLabel* l : {f->CapLabel, f->PlayLabel}) {
    EXPECT_EQ(l->Left(), 392);
    EXPECT_EQ(l->Top(), 248);
    EXPECT_TRUE(l->AutoSize());
    ExpectLabelFont(l, -24);
  }
  for (TLabel* l : {f->CapFileLabel, f->PlayFileLabel}) {
    EXPECT_EQ(l->Left(), 389);
    EXPECT_EQ(l->Top(), 286);
    ExpectLabelFont(l, -12);
  }

  // Eleven picture buttons and two backgrounds, all JPEG; every button clickable and with the hand cursor.
  for (TPictureButton* b : {f->RecordImage, f->PlayImage, f->ExitBtn, f->NewBtn, f->VideoSetupBtn, f->CodecSetupBtn,
                            f->CaptureBtn, f->StopBtn, f->OpenBtn, f->PlayBtn, f->StopPlayBtn}) {
    SCOPED_TRACE(b->Name());
    EXPECT_TRUE(IsJpeg(b));
    EXPECT_TRUE(b->Enabled());
    EXPECT_EQ(b->Cursor(), crHandPoint);
    EXPECT_TRUE(b->OnClick);
  }
  EXPECT_TRUE(IsJpeg(f->Image1));
  EXPECT_TRUE(IsJpeg(f->Image4));

  for (TPanel* p : {f->RecordPanel, f->PlayPanel}) {
    EXPECT_EQ(p->BevelOuter(), bvNone);
    EXPECT_EQ(p->Color(), f->Color());
  }
  EXPECT_TRUE(f->RecordPanel->Visible());
  EXPECT_FALSE(f->PlayPanel->Visible());

  EXPECT_EQ(f->Label1->Font()->Name(), "Verdana");
  EXPECT_EQ(f->Label1->Font()->Height(), -14);
  EXPECT_EQ(f->Label1->Font()->Color(), clLime);
  EXPECT_EQ(std::count(f->Label1->Caption().begin(), f->Label1->Caption().end(), '\n'), 2);
}

TEST_F(RecorderForm, FileDialogsAsStored) {
  TForm1* f = CreateForms(false);
  ASSERT_NE(f, nullptr);
  for (TOpenDialog* d : {static_cast<TOpenDialog*>(f->SaveDlg), f->OpenDlg}) {
    EXPECT_EQ(d->Filter(), "MPEG4文件(*.mp4)|*.mp4");
    EXPECT_EQ(d->DefaultExt(), "mp4");
  }
  EXPECT_EQ(f->SaveDlg->Options(), OpenOption(ofOverwritePrompt) | OpenOption(ofHideReadOnly) |
                                       OpenOption(ofPathMustExist) | OpenOption(ofEnableSizing));
  EXPECT_EQ(f->OpenDlg->Options(), OpenOption(ofHideReadOnly) | OpenOption(ofPathMustExist) |
                                       OpenOption(ofFileMustExist) | OpenOption(ofEnableSizing));
}

TEST_F(RecorderForm, CreationPreparesBuffersCodecAndEmptyLabels) {
  TForm1* f = CreateForms(false);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(Boxes().empty());
  for (TLabel* l : {f->CapLabel, f->CapFileLabel, f->PlayLabel, f->PlayFileLabel}) EXPECT_EQ(l->Text(), "");
  EXPECT_EQ(f->FrameWidth, 352);
  EXPECT_EQ(f->FrameHeight, 288);
  ASSERT_EQ(f->FrameBufferSize(), 304192u);
  for (BYTE* buffer : {f->InFrame, f->OutFrame, f->PlayInFrame, f->PlayOutFrame}) {
    ASSERT_NE(buffer, nullptr);
    EXPECT_TRUE(std::all_of(buffer, buffer + 304192, [](BYTE b) { return b == 0; }));
  }
  EXPECT_NE(f->Codec, nullptr);
  EXPECT_EQ(f->CapStream.load(), nullptr);
  EXPECT_EQ(f->PlayStream, nullptr);
  EXPECT_EQ(f->CapWnd, nullptr);  // made when the window is first shown
  // The program's folder, with its separator, as the dialogs' first folder.
  ASSERT_FALSE(f->AppPath.empty());
  EXPECT_EQ(f->AppPath.back(), '/');
  EXPECT_EQ(Application->ExeName().rfind(f->AppPath, 0), 0u);
  EXPECT_EQ(Application->ExeName().find('/', f->AppPath.size()), std::string::npos);
}

TEST_F(RecorderForm, SplashAsStoredAndHiddenAfterCreation) {
  CreateForms(false);
  ASSERT_NE(SplashForm, nullptr);
  EXPECT_EQ(Application->MainForm(), Form1);
  EXPECT_FALSE(SplashForm->Visible());
  EXPECT_EQ(SplashForm->BorderStyle(), bsNone);
  EXPECT_EQ(SplashForm->BorderIcons(), 0);
  EXPECT_TRUE(SplashForm->Widget()->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(SplashForm->ClientWidth(), 393);
  EXPECT_EQ(SplashForm->ClientHeight(), 62);
  EXPECT_EQ(ColorToRGB(SplashForm->Color()), 0x00505A64u);
  EXPECT_EQ(SplashForm->Position(), poScreenCenter);
  EXPECT_EQ(SplashForm->Bevel1->Align(), alClient);
  EXPECT_EQ(SplashForm->Bevel1->Shape(), bsBox);
  EXPECT_EQ(SplashForm->Bevel1->Style(), bsLowered);
  EXPECT_EQ(SplashForm->Bevel1->Width(), 393);
  EXPECT_EQ(SplashForm->Bevel1->Height(), 62);
  EXPECT_EQ(SplashForm->Label1->Caption(), "Initializing, plesae wait...");
  EXPECT_EQ(SplashForm->Label1->Left(), 78);
  EXPECT_EQ(SplashForm->Label1->Top(), 16);
  ExpectLabelFont(SplashForm->Label1, -21);
}

TEST_F(RecorderForm, FirstShowingSetsUpCaptureBehindTheSplash) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(Boxes().empty());
  // While the capture window was made, the splash was up and the cursor was the hourglass; both are gone now.
  TSetUpMoment moment = CaptureWindowMoment();
  ASSERT_TRUE(moment.Seen);
  EXPECT_TRUE(moment.SplashVisible);
  EXPECT_EQ(moment.Cursor, crHourGlass);
  EXPECT_FALSE(SplashForm->Visible());
  EXPECT_EQ(Screen->Cursor(), crDefault);
  EXPECT_TRUE(f->Widget()->isVisible());

  // A child of the form over the record panel at the panel's (11, 9).
  ASSERT_NE(f->CapWnd, nullptr);
  EXPECT_EQ(GetParent(f->CapWnd), f->Handle());
  const QList<QWidget*> children = f->Widget()->findChildren<QWidget*>();
  EXPECT_TRUE(std::any_of(children.begin(), children.end(),
                          [](QWidget* w) { return w->geometry() == QRect(8 + 11, 64 + 9, 352, 288); }));

  for (BITMAPINFO* b : {&f->InFormat, &f->OutFormat, &f->DecInFormat, &f->DecOutFormat}) {
    const BITMAPINFOHEADER& h = b->bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 352);
    EXPECT_EQ(h.biHeight, 288);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, 304128u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 0u);
  }
  const DWORD divx = mmioFOURCC('D', 'I', 'V', 'X');
  EXPECT_EQ(f->InFormat.bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(f->OutFormat.bmiHeader.biCompression, divx);
  EXPECT_EQ(f->DecInFormat.bmiHeader.biCompression, divx);
  EXPECT_EQ(f->DecOutFormat.bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));

  // The capture parameters as written back, read again from the window.
  CAPTUREPARMS p{};
  ASSERT_TRUE(capCaptureGetSetup(f->CapWnd, &p, sizeof p));
  EXPECT_EQ(p.dwRequestMicroSecPerFrame, 40000u);
  EXPECT_NE(p.fYield, FALSE);
  EXPECT_EQ(p.fAbortLeftMouse, FALSE);
  EXPECT_EQ(p.fAbortRightMouse, FALSE);

  // The live picture by overlay.
  EXPECT_TRUE(PumpUntil([&] { return PreviewShown(f->CapWnd); }));
}

TEST_F(RecorderForm, MissingDriverIsReportedWhileTheSplashIsUp) {
  TForm1* f = CreateForms(true, "");
  ASSERT_NE(f, nullptr);
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Error!  Not found video card!");
  EXPECT_EQ(boxes[0].Caption, "error");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_TRUE(boxes[0].SplashVisible);
  EXPECT_EQ(boxes[0].Cursor, crHourGlass);
  // The set-up went on: the window exists, the splash and the hourglass are gone.
  EXPECT_NE(f->CapWnd, nullptr);
  EXPECT_FALSE(SplashForm->Visible());
  EXPECT_EQ(Screen->Cursor(), crDefault);
  PumpFor(100);
  EXPECT_FALSE(PreviewShown(f->CapWnd));
}

TEST_F(RecorderForm, PanelSwitchesDisconnectAndReconnectTheDriver) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return PreviewShown(f->CapWnd); }));

  f->PlayImage->WidgetClicked();
  EXPECT_TRUE(f->PlayPanel->Visible());
  EXPECT_FALSE(f->RecordPanel->Visible());
  // Disconnected: the preview is gone, so the play panel shows through, and there is nothing to disconnect.
  EXPECT_FALSE(PreviewShown(f->CapWnd));
  EXPECT_FALSE(capDriverDisconnect(f->CapWnd));
  PumpFor(100);
  EXPECT_FALSE(PreviewShown(f->CapWnd));

  f->RecordImage->WidgetClicked();
  EXPECT_TRUE(f->RecordPanel->Visible());
  EXPECT_FALSE(f->PlayPanel->Visible());
  EXPECT_TRUE(PumpUntil([&] { return PreviewShown(f->CapWnd); }));
  // A second switch to the record panel connects again without a message.
  f->RecordImage->WidgetClicked();
  EXPECT_TRUE(Boxes().empty());

  // Neither switch touches a button.
  for (TPictureButton* b : {f->NewBtn, f->VideoSetupBtn, f->CodecSetupBtn, f->CaptureBtn, f->StopBtn, f->OpenBtn,
                            f->PlayBtn, f->StopPlayBtn})
    EXPECT_TRUE(b->Enabled()) << b->Name();
}

TEST_F(RecorderForm, SetupButtonsOpenTheDriversAndTheCodecsDialogs) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  // Unattended, each dialog answers at once as if accepted; the form keeps its own formats.
  f->VideoSetupBtn->WidgetClicked();
  ClearCodecLog();
  f->CodecSetupBtn->WidgetClicked();
  EXPECT_EQ(CountMessages(ICM_CONFIGURE), 2);  // the query, then the dialog
  EXPECT_EQ(f->InFormat.bmiHeader.biWidth, 352);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RecorderForm, WithoutACodecTheCodecButtonDoesNothing) {
  GFaults.NoCodec = true;
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  std::vector<TBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Error Init compressor");
  EXPECT_EQ(boxes[0].Caption, "");
  EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(f->Codec, nullptr);
  ClearCodecLog();
  f->CodecSetupBtn->WidgetClicked();
  EXPECT_EQ(CountMessages(ICM_CONFIGURE), 1);  // the query only, which fails
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(RecorderForm, ExitClosesTheMainForm) {
  TForm1* f = CreateForms(true);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(Application->Terminated());
  f->ExitBtn->WidgetClicked();
  EXPECT_TRUE(Application->Terminated());
}
