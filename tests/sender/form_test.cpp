// The sender's main form as stored, and as FormCreate leaves it.
#include <algorithm>

#include "sender_testing.h"

using namespace sender_testing;

namespace {

class StoredForm : public ::testing::Test {
 protected:
  void SetUp() override {
    SENDER_NEED_LAN();  // a form says "exit" to the network when it goes
    F = CreateForm();
  }
  void TearDown() override {
    if (Form1) DestroyForm();
  }
  TForm1* F = nullptr;
};

void ExpectPlace(const TControl* c, int left, int top, int width, int height) {
  SCOPED_TRACE(c->Name());
  EXPECT_EQ(c->Left(), left);
  EXPECT_EQ(c->Top(), top);
  EXPECT_EQ(c->Width(), width);
  EXPECT_EQ(c->Height(), height);
}

void ExpectFont(const TControl* c, const std::string& name, int height, TColor color) {
  SCOPED_TRACE(c->Name());
  EXPECT_EQ(c->Font()->Name(), name);
  EXPECT_EQ(c->Font()->Height(), height);
  EXPECT_EQ(c->Font()->Color(), color);
}

}  // namespace

TEST_F(StoredForm, WindowAsStored) {
  EXPECT_EQ(F->Caption(), "Tarvo MPEG4 Video Broadcast");
  EXPECT_EQ(F->BorderStyle(), bsDialog);
  EXPECT_EQ(F->BorderIcons(), 1u << biSystemMenu);
  EXPECT_EQ(F->ClientWidth(), 553);
  EXPECT_EQ(F->ClientHeight(), 338);
  EXPECT_EQ(F->Color(), 9150078);
  EXPECT_EQ(ColorToRGB(F->Color()), 0x008B9E7Eu);
  EXPECT_EQ(F->Position(), poScreenCenter);
  EXPECT_EQ(F->Font()->Name(), "Arial");
  EXPECT_EQ(F->Font()->Height(), -14);
  EXPECT_EQ(F->Font()->Charset(), ANSI_CHARSET);
  EXPECT_TRUE(F->OnCreate && F->OnShow && F->OnDestroy);
}

TEST_F(StoredForm, ControlsInTheirPlaces) {
  ExpectPlace(F->FrameLabel, 458, 138, 71, 33);
  ExpectPlace(F->GroupBox1, 396, 184, 141, 113);
  ExpectPlace(F->ListBox1, 8, 24, 121, 73);
  ExpectPlace(F->Panel1, 13, 8, 354, 290);
  ExpectPlace(F->SetupBtn, 402, 10, 135, 24);
  ExpectPlace(F->CodecSetupBtn, 402, 34, 135, 24);
  ExpectPlace(F->StartBtn, 402, 58, 135, 24);
  ExpectPlace(F->StopBtn, 402, 82, 135, 24);
  ExpectPlace(F->CloseBtn, 402, 106, 135, 24);
  ExpectPlace(F->Label2, 402, 148, 52, 16);
  ExpectPlace(F->Label1, 10, 309, 530, 23);
  EXPECT_EQ(F->ListBox1->Parent(), F->GroupBox1);
  EXPECT_EQ(F->Panel1->Parent(), F);

  ExpectFont(F->FrameLabel, "Comic Sans MS", -24, clYellow);
  ExpectFont(F->GroupBox1, "Arial", -14, clYellow);
  ExpectFont(F->ListBox1, "Arial", -10, clMaroon);
  ExpectFont(F->Label2, "Arial", -14, clBlack);
  ExpectFont(F->Label1, "Comic Sans MS", -16, clBlack);
  EXPECT_EQ(F->GroupBox1->Caption(), "Logined Client:");
  EXPECT_EQ(F->Label2->Caption(), "Frames:");
  EXPECT_FALSE(F->Label1->Caption().empty());
  EXPECT_EQ(F->ListBox1->BorderStyle(), bsNone);
  EXPECT_EQ(F->ListBox1->Color(), F->Color());
  EXPECT_EQ(F->ListBox1->ItemHeight(), 13);
  EXPECT_EQ(F->Panel1->Color(), clBlack);
  EXPECT_EQ(F->Panel1->BevelOuter(), bvLowered);
}

TEST_F(StoredForm, ButtonsWithGlyphsAndTabOrder) {
  struct {
    TBitBtn* Button;
    const char* Caption;
    int Glyphs;
  } buttons[] = {{F->SetupBtn, "video setup", 1}, {F->CodecSetupBtn, "codec setup", 1}, {F->StartBtn, "Start", 1},
                 {F->StopBtn, " Stop", 2},        {F->CloseBtn, " Exit", 1}};
  for (auto& b : buttons) {
    SCOPED_TRACE(b.Caption);
    EXPECT_EQ(b.Button->Caption(), b.Caption);
    ExpectFont(b.Button, "宋体", -12, clBlue);
    EXPECT_EQ(b.Button->Font()->Charset(), GB2312_CHARSET);
    EXPECT_EQ(b.Button->Cursor(), crHandPoint);
    EXPECT_TRUE(b.Button->OnClick);
    EXPECT_EQ(b.Button->NumGlyphs(), b.Glyphs);
    EXPECT_EQ(b.Button->Glyph()->Height(), 16);
    EXPECT_EQ(b.Button->Glyph()->Width(), 16 * b.Glyphs);
  }
  EXPECT_TRUE(F->StartBtn->Enabled());
  EXPECT_FALSE(F->StopBtn->Enabled());

  std::vector<TWinControl*> expected = {F->SetupBtn, F->CloseBtn, F->StartBtn, F->StopBtn,
                                        F->GroupBox1, F->Panel1,  F->CodecSetupBtn};
  EXPECT_EQ(F->TabList(), expected);
}

TEST_F(StoredForm, SocketsAsStored) {
  // LSocket was opened by FormCreate; the other two keep what the description gave them.
  for (TWSocket* s : {F->CliSocket, F->WSocket1}) {
    SCOPED_TRACE(s->Name());
    EXPECT_EQ(s->Proto(), "tcp");
    EXPECT_EQ(s->LocalAddr(), "0.0.0.0");
    EXPECT_EQ(s->LocalPort(), "0");
    EXPECT_FALSE(s->LineMode());
    EXPECT_EQ(s->LineEnd(), "\r\n");
    EXPECT_FALSE(s->LineEcho());
    EXPECT_FALSE(s->LineEdit());
    EXPECT_EQ(s->FlushTimeout(), 60);
    EXPECT_EQ(s->SendFlags(), wsSendNormal);
    EXPECT_EQ(s->LingerOnOff(), wsLingerOn);
    EXPECT_EQ(s->LingerTimeout(), 0);
    EXPECT_EQ(s->SocksLevel(), "5");
    EXPECT_EQ(s->SocksAuthentication(), socksNoAuthentication);
    EXPECT_EQ(s->ComponentOptions(), 0);
    EXPECT_FALSE(s->MultiThreaded());
    EXPECT_FALSE(s->OnDataAvailable);
  }
  EXPECT_TRUE(F->LSocket->MultiThreaded());
  EXPECT_TRUE(F->LSocket->OnDataAvailable);
}

TEST_F(StoredForm, CreationPreparesBuffersAndRecords) {
  EXPECT_EQ(F->FrameLabel->Text(), "0");
  EXPECT_EQ(F->ListBox1->Items()->Count(), 0);
  EXPECT_EQ(F->FrameWidth, 352);
  EXPECT_EQ(F->FrameHeight, 288);
  ASSERT_EQ(F->FrameBufferSize(), 304192u);
  ASSERT_NE(F->InFrame, nullptr);
  ASSERT_NE(F->OutFrame, nullptr);
  EXPECT_TRUE(std::all_of(F->InFrame, F->InFrame + 304192, [](BYTE b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(F->OutFrame, F->OutFrame + 304192, [](BYTE b) { return b == 0; }));
  EXPECT_NE(F->Codec, nullptr);
  EXPECT_EQ(F->CapWnd, nullptr);  // made when the window is first shown
  EXPECT_EQ(F->SendThread, nullptr);

  for (const BITMAPINFO* r : {&F->InFormat, &F->OutFormat}) {
    const BITMAPINFOHEADER& h = r->bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 352);
    EXPECT_EQ(h.biHeight, 288);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, 304128u);
    EXPECT_EQ(h.biXPelsPerMeter | h.biYPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed | h.biClrImportant, 0u);
    const RGBQUAD& c = r->bmiColors[0];
    EXPECT_EQ(c.rgbBlue | c.rgbGreen | c.rgbRed | c.rgbReserved, 0);
  }
  EXPECT_EQ(F->InFormat.bmiHeader.biCompression, BI_RGB);
  EXPECT_EQ(F->OutFormat.bmiHeader.biCompression, 0x58564944u);
}
