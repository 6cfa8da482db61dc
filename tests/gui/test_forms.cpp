// The test form loaded from its description: every class and property, bindings fired by real clicks, the
// splash form, fonts resolved to installed ones.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "rtl/formreader.h"
#include "testforms.h"

namespace {

QColor WindowColor(const TControl* c) { return c->Widget()->palette().color(QPalette::Window); }

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gThrowing.clear();
    Application->CreateForm(Form);
    ASSERT_NE(Form, nullptr);
  }
  void TearDown() override {
    if (Splash != nullptr) FreeForm(Splash);
    if (Form != nullptr) FreeForm(Form);
    Application->ResetTerminated();
  }
  void ShowForm() {
    Form->Show();
    ASSERT_TRUE(PumpUntil([&] { return Form->Widget()->windowHandle() && Form->Widget()->windowHandle()->isExposed(); }));
  }
  TTestForm* Form = nullptr;
  TSplash* Splash = nullptr;
};

TEST_F(FormTest, EveryComponentIsCreatedPlacedAndBound) {
  EXPECT_EQ(Application->MainForm(), Form);
  EXPECT_EQ(Form->Name(), "TestForm");
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0], "FormCreate(TestForm)");

  // Geometry in the parent's client coordinates, as the description gives it and as the widgets show it.
  EXPECT_EQ(Form->FrameLabel->Parent(), Form);
  EXPECT_EQ(Form->FrameLabel->Widget()->geometry(), QRect(458, 138, 71, 33));
  EXPECT_EQ(Form->ListBox1->Parent(), Form->GroupBox1);
  EXPECT_EQ(Form->ListBox1->Widget()->parentWidget(), Form->GroupBox1->Widget());
  EXPECT_EQ(Form->ListBox1->Widget()->geometry(), QRect(8, 24, 121, 73));
  EXPECT_EQ(Form->PaintBox1->Parent(), Form->Panel1);
  EXPECT_EQ(Form->StopBtn->Widget()->geometry(), QRect(402, 82, 135, 24));
  // Aligned to the bottom: the whole client width, its own height, at the bottom edge.
  EXPECT_EQ(Form->Bevel1->Widget()->geometry(), QRect(0, 400 - 6, 553, 6));
  // Sized to their pictures, or stretched to their own size.
  EXPECT_EQ(Form->RecordImage->Width(), 60);
  EXPECT_EQ(Form->RecordImage->Height(), 30);
  EXPECT_EQ(Form->Image1->Widget()->size(), QSize(192, 30));

  // The form's client size, and its outer size with the frame.
  EXPECT_EQ(Form->ClientWidth(), 553);
  EXPECT_EQ(Form->ClientHeight(), 400);
  int l, t, r, b;
  Form->FrameMargins(l, t, r, b);
  EXPECT_EQ(Form->Width(), 553 + l + r);
  EXPECT_EQ(Form->Height(), 400 + t + b);
  EXPECT_GT(t, 0);

  // Captions, including line breaks and UTF-8 text.
  EXPECT_EQ(Form->Widget()->windowTitle(), QString("Tarvo toolkit test"));
  EXPECT_EQ(Form->StopBtn->Caption(), " Stop");
  EXPECT_EQ(static_cast<QPushButton*>(Form->StopBtn->Widget())->text(), QString(" Stop"));
  EXPECT_EQ(Form->Label1->Caption(), "Tarvo suite - line one\r\n网络错误 - line two");
  EXPECT_EQ(Form->GroupBox1->Caption(), "Logined Client:");
  EXPECT_EQ(Form->ChineseLabel->Caption(), "请检查您的TCP/IP协议");
  // An auto-sized label of two lines is two lines high.
  EXPECT_GT(Form->Label1->Height(), 2 * 12);

  // Fonts: name, height, style, colour, character set; a control without a font of its own takes its parent's.
  EXPECT_EQ(Form->FrameLabel->Font()->Name(), "Comic Sans MS");
  EXPECT_EQ(Form->FrameLabel->Font()->Height(), -24);
  EXPECT_EQ(Form->FrameLabel->Widget()->font().pixelSize(), 24);
  EXPECT_EQ(Form->FrameLabel->Widget()->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  EXPECT_EQ(Form->Label1->Font()->Style(), FontStyle(fsBold) | FontStyle(fsItalic));
  EXPECT_TRUE(Form->Label1->Widget()->font().bold());
  EXPECT_TRUE(Form->Label1->Widget()->font().italic());
  EXPECT_EQ(Form->SetupBtn->Font()->Charset(), GB2312_CHARSET);
  EXPECT_EQ(Form->Font()->Charset(), ANSI_CHARSET);
  EXPECT_EQ(Form->Font()->Size(), 11);
  EXPECT_TRUE(Form->PaintBox1->ParentFont());
  EXPECT_EQ(Form->PaintBox1->Font()->Name(), "Arial");
  EXPECT_FALSE(Form->SetupBtn->ParentFont());

  // Colours: 9150078 is red 126, green 158, blue 139; the list box takes the form's colour through its parent.
  EXPECT_EQ(Form->Color(), 9150078);
  EXPECT_EQ(WindowColor(Form), QColor(126, 158, 139));
  EXPECT_EQ(WindowColor(Form->Panel1), QColor(0, 0, 0));
  EXPECT_EQ(Form->ListBox1->Color(), 9150078);
  EXPECT_EQ(Form->ListBox1->Widget()->palette().color(QPalette::Base), QColor(126, 158, 139));
  EXPECT_EQ(Form->ListBox1->Widget()->palette().color(QPalette::Text), QColor(128, 0, 0));

  // Borders, states, cursors, non-visual components.
  EXPECT_EQ(Form->BorderStyle(), bsDialog);
  EXPECT_EQ(Form->BorderIcons(), 1u << biSystemMenu);
  EXPECT_TRUE(Form->Widget()->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(Form->Widget()->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(Form->Widget()->minimumSize(), Form->Widget()->maximumSize());
  EXPECT_FALSE(Form->StopBtn->Enabled());
  EXPECT_FALSE(Form->StopBtn->Widget()->isEnabled());
  EXPECT_EQ(Form->SetupBtn->Widget()->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Form->RecordImage->Widget()->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Form->ListBox1->ItemHeight(), 13);
  EXPECT_EQ(static_cast<QFrame*>(Form->ListBox1->Widget())->frameShape(), QFrame::NoFrame);
  EXPECT_FALSE(Form->Timer1->Enabled());
  EXPECT_EQ(Form->Timer1->Interval(), 40u);
  EXPECT_EQ(Form->SaveDlg->Filter(), "MPEG4文件(*.mp4)|*.mp4");
  EXPECT_EQ(Form->SaveDlg->DefaultExt(), "mp4");
  EXPECT_EQ(Form->SaveDlg->Options(), OpenOption(ofOverwritePrompt) | OpenOption(ofHideReadOnly) |
                                          OpenOption(ofPathMustExist) | OpenOption(ofEnableSizing));
  EXPECT_TRUE(Form->OpenDlg->HasOption(ofFileMustExist));
  EXPECT_EQ(Form->OpenDlg->InitialDir(), "/tmp");
}

TEST_F(FormTest, TabOrderFollowsTheDescription) {
  std::vector<TWinControl*> order = Form->TabList();
  std::vector<std::string> names;
  for (TWinControl* w : order) names.push_back(w->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"SetupBtn", "CloseBtn", "StartBtn", "StopBtn", "GroupBox1", "Panel1"}));
  // Qt's focus chain runs through the buttons in that order too.
  std::vector<QWidget*> wanted = {Form->SetupBtn->Widget(), Form->CloseBtn->Widget(), Form->StartBtn->Widget(),
                                  Form->StopBtn->Widget()};
  QWidget* w = Form->SetupBtn->Widget();
  std::vector<QWidget*> seen;
  for (int i = 0; i < 64 && seen.size() < wanted.size(); ++i, w = w->nextInFocusChain())
    if (std::find(wanted.begin(), wanted.end(), w) != wanted.end()) seen.push_back(w);
  EXPECT_EQ(seen, wanted);
}

TEST_F(FormTest, RealClicksFireTheBoundHandlers) {
  ShowForm();
  gCalls.clear();
  QTest::mouseClick(Form->SetupBtn->Widget(), Qt::LeftButton);
  QTest::mouseClick(Form->RecordImage->Widget(), Qt::LeftButton);
  QTest::mouseClick(Form->PaintBox1->Widget(), Qt::LeftButton);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"SetupBtnClick(SetupBtn)", "RecordImageClick(RecordImage)",
                                              "PaintBox1Click(PaintBox1)"}));

  // Disabled controls ignore clicks: a disabled button, a disabled picture button.
  gCalls.clear();
  QTest::mouseClick(Form->StopBtn->Widget(), Qt::LeftButton);
  QTest::mouseClick(Form->DisabledImage->Widget(), Qt::LeftButton);
  Form->RecordImage->SetEnabled(false);
  QTest::mouseClick(Form->RecordImage->Widget(), Qt::LeftButton);
  EXPECT_TRUE(gCalls.empty());

  // Enabled at run time, they take clicks again; a press that leaves the control before release is no click.
  Form->StopBtn->SetEnabled(true);
  Form->RecordImage->SetEnabled(true);
  QTest::mouseClick(Form->StopBtn->Widget(), Qt::LeftButton);
  QTest::mousePress(Form->RecordImage->Widget(), Qt::LeftButton);
  QTest::mouseRelease(Form->RecordImage->Widget(), Qt::LeftButton, {}, QPoint(500, 500));
  EXPECT_EQ(gCalls, (std::vector<std::string>{"StopBtnClick(StopBtn)"}));
}

TEST_F(FormTest, DisabledPictureButtonLooksTheSame) {
  ShowForm();
  QImage enabled = Form->RecordImage->Widget()->grab().toImage();
  QImage otherDisabled = Form->DisabledImage->Widget()->grab().toImage();
  Form->RecordImage->SetEnabled(false);
  QImage disabled = Form->RecordImage->Widget()->grab().toImage();
  EXPECT_EQ(enabled, disabled);
  EXPECT_EQ(enabled, otherDisabled);
  // It shows its picture: the JPEG's yellow middle and blue rim.
  QColor middle = enabled.pixelColor(30, 15);
  EXPECT_GT(middle.red(), 200);
  EXPECT_GT(middle.green(), 170);
  EXPECT_LT(middle.blue(), 60);
}

TEST_F(FormTest, TwoGlyphButtonShowsTheSecondGlyphWhileDisabled) {
  EXPECT_EQ(Form->SetupBtn->NumGlyphs(), 1);
  EXPECT_EQ(Form->StopBtn->NumGlyphs(), 2);
  QIcon icon = static_cast<QPushButton*>(Form->StopBtn->Widget())->icon();
  QImage normal = icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
  QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
  ASSERT_EQ(normal.size(), QSize(16, 16));
  EXPECT_EQ(normal.pixelColor(6, 8), QColor(0, 0x80, 0));
  EXPECT_EQ(disabled.pixelColor(6, 8), QColor(0xA0, 0xA0, 0xA0));
  // The colour of the bottom-left pixel is transparent.
  EXPECT_EQ(normal.pixelColor(0, 15).alpha(), 0);
  EXPECT_EQ(disabled.pixelColor(0, 0).alpha(), 0);
}

TEST_F(FormTest, ADisabledButtonGreysItsCaption) {
  ShowForm();
  // Pixels of the caption's blue (the glyphs hold green and grey only).
  auto blue = [](TControl* c) {
    QImage image = c->Widget()->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        QColor p = image.pixelColor(x, y);
        n += p.blue() > 160 && p.red() < 100 && p.green() < 100;
      }
    return n;
  };
  EXPECT_EQ(blue(Form->StopBtn), 0);
  EXPECT_GT(blue(Form->StartBtn), 0);
  Form->StopBtn->SetEnabled(true);
  EXPECT_GT(blue(Form->StopBtn), 0);
  Form->StartBtn->SetEnabled(false);
  EXPECT_EQ(blue(Form->StartBtn), 0);
}

TEST(AutoSize, TheTextOrThePictureDecidesWhereverWidthAndHeightStand) {
  TForm* form = new TForm(nullptr);
  ReadComponentText(form,
                    "object F: TForm\n"
                    "  object L: TLabel\n"
                    "    Caption = 'Frames:'\n"
                    "    Width = 300\n"
                    "    Height = 90\n"
                    "  end\n"
                    "  object Fixed: TLabel\n"
                    "    Caption = 'Frames:'\n"
                    "    AutoSize = False\n"
                    "    Width = 300\n"
                    "    Height = 90\n"
                    "  end\n"
                    "  object P: TPictureButton\n"
                    "    Picture.File = 'pictures/button.jpg'\n"
                    "    Width = 10\n"
                    "    Height = 10\n"
                    "  end\n"
                    "end\n",
                    "Inline.form");
  auto* label = dynamic_cast<TLabel*>(form->FindComponent("L"));
  auto* fixed = dynamic_cast<TLabel*>(form->FindComponent("Fixed"));
  auto* picture = dynamic_cast<TPictureButton*>(form->FindComponent("P"));
  ASSERT_TRUE(label != nullptr && fixed != nullptr && picture != nullptr);
  const int textWidth = QFontMetrics(label->Widget()->font()).horizontalAdvance("Frames:");
  EXPECT_NEAR(label->Width(), textWidth, 2);
  EXPECT_LT(label->Height(), 40);
  EXPECT_EQ(fixed->Width(), 300);
  EXPECT_EQ(fixed->Height(), 90);
  EXPECT_EQ(picture->Width(), 60);
  EXPECT_EQ(picture->Height(), 30);
  FreeForm(form);
}

// Two panels in one place, one hidden by its description, switched at run time: the recorder's record and play
// panels.
TEST(Panels, AHiddenPanelAndItsControlsShowOnlyOnceMadeVisible) {
  TForm* form = new TForm(nullptr);
  ReadComponentText(form,
                    "object F: TForm\n"
                    "  ClientWidth = 300\n"
                    "  ClientHeight = 200\n"
                    "  object RecordPanel: TPanel\n"
                    "    Left = 8\n"
                    "    Top = 64\n"
                    "    Width = 280\n"
                    "    Height = 120\n"
                    "    BevelOuter = bvNone\n"
                    "    ParentColor = True\n"
                    "  end\n"
                    "  object PlayPanel: TPanel\n"
                    "    Left = 16\n"
                    "    Top = 72\n"
                    "    Width = 280\n"
                    "    Height = 120\n"
                    "    BevelOuter = bvNone\n"
                    "    Color = clRed\n"
                    "    Visible = False\n"
                    "    object PlayBtn: TPictureButton\n"
                    "      Left = 10\n"
                    "      Top = 10\n"
                    "      Picture.File = 'pictures/button.jpg'\n"
                    "    end\n"
                    "  end\n"
                    "end\n",
                    "Inline.form");
  auto* recordPanel = dynamic_cast<TPanel*>(form->FindComponent("RecordPanel"));
  auto* playPanel = dynamic_cast<TPanel*>(form->FindComponent("PlayPanel"));
  auto* playBtn = dynamic_cast<TPictureButton*>(form->FindComponent("PlayBtn"));
  ASSERT_TRUE(recordPanel != nullptr && playPanel != nullptr && playBtn != nullptr);
  int clicks = 0;
  playBtn->OnClick = [&](TObject*) { ++clicks; };
  playPanel->SetLeft(recordPanel->Left());
  playPanel->SetTop(recordPanel->Top());
  form->Show();
  EXPECT_FALSE(playPanel->Visible());
  EXPECT_FALSE(playPanel->Widget()->isVisible());
  EXPECT_FALSE(playBtn->Showing());
  EXPECT_EQ(form->Widget()->grab().toImage().pixelColor(20, 100), WindowColor(form));

  playPanel->Show();
  recordPanel->Hide();
  EXPECT_TRUE(playBtn->Showing());
  EXPECT_EQ(playPanel->Widget()->geometry(), QRect(8, 64, 280, 120));
  EXPECT_EQ(form->Widget()->grab().toImage().pixelColor(100, 150), QColor(255, 0, 0));
  QTest::mouseClick(playBtn->Widget(), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  FreeForm(form);
}

TEST(Transparent, ALabelShowsWhatLiesBeneathOnlyWhenTransparent) {
  TForm* form = new TForm(nullptr);
  ReadComponentText(form,
                    "object F: TForm\n"
                    "  ClientWidth = 200\n"
                    "  ClientHeight = 100\n"
                    "  Color = clBlack\n"
                    "  object I: TImage\n"
                    "    Width = 200\n"
                    "    Height = 100\n"
                    "    Stretch = True\n"
                    "    Picture.File = 'pictures/button.jpg'\n"
                    "  end\n"
                    "  object See: TLabel\n"
                    "    Left = 40\n"
                    "    Top = 40\n"
                    "    Caption = '.'\n"
                    "    Transparent = True\n"
                    "  end\n"
                    "  object Solid: TLabel\n"
                    "    Left = 120\n"
                    "    Top = 40\n"
                    "    Caption = '.'\n"
                    "  end\n"
                    "end\n",
                    "Inline.form");
  form->Show();
  QImage all = form->Widget()->grab().toImage();
  QImage image = dynamic_cast<TImage*>(form->FindComponent("I"))->Widget()->grab().toImage();
  // The top left corner of each label holds no ink of its dot.
  EXPECT_EQ(all.pixelColor(41, 41), image.pixelColor(41, 41));
  EXPECT_NE(image.pixelColor(121, 41), QColor(0, 0, 0));
  EXPECT_EQ(all.pixelColor(121, 41), QColor(0, 0, 0));  // the form's colour, which the label takes
  FreeForm(form);
}

TEST_F(FormTest, RunTimeVisibleLeftTopEnabledAndListAppend) {
  ShowForm();
  Form->FrameLabel->SetLeft(10);
  Form->FrameLabel->SetTop(11);
  EXPECT_EQ(Form->FrameLabel->Widget()->pos(), QPoint(10, 11));
  Form->GroupBox1->SetVisible(false);
  EXPECT_FALSE(Form->GroupBox1->Widget()->isVisible());
  EXPECT_FALSE(Form->ListBox1->Showing());
  Form->GroupBox1->SetVisible(true);
  EXPECT_TRUE(Form->ListBox1->Widget()->isVisible());

  // Whether line `row` of the box (13 pixels each) shows anything but the box's colour.
  auto inked = [&](int row) {
    const QImage shown = Form->ListBox1->Widget()->grab().toImage();
    const QColor base = shown.pixelColor(shown.width() - 1, shown.height() - 1);
    for (int y = row * 13; y < row * 13 + 13; ++y)
      for (int x = 0; x < shown.width(); ++x)
        if (shown.pixelColor(x, y) != base) return true;
    return false;
  };
  ASSERT_EQ(Form->ListBox1->Items()->Count(), 1);
  EXPECT_TRUE(inked(0));
  EXPECT_FALSE(inked(2));
  Form->ListBox1->Items()->Add("14:03:28  out: 192.168.1.20");
  Form->ListBox1->Items()->Add("14:03:29  in: 10.0.0.7");
  ASSERT_EQ(Form->ListBox1->Items()->Count(), 3);
  EXPECT_TRUE(inked(2));
  EXPECT_FALSE(inked(3));
  Form->ListBox1->Items()->Clear();
  EXPECT_FALSE(inked(0));
}

TEST_F(FormTest, ShowingCentresOnTheScreenAndRunsOnShowOnce) {
  ShowForm();
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(Form->Left(), (screen.width() - Form->Width()) / 2);
  EXPECT_EQ(Form->Top(), (screen.height() - Form->Height()) / 2);
  EXPECT_EQ(std::count(gCalls.begin(), gCalls.end(), "FormShow(TestForm)"), 1);
  Form->Hide();
  EXPECT_FALSE(Form->Widget()->isVisible());
}

TEST_F(FormTest, ClosingAFormThatIsNotTheMainFormOnlyHidesIt) {
  Application->CreateForm(Splash);
  ASSERT_NE(Splash, nullptr);
  EXPECT_EQ(Application->MainForm(), Form);
  Splash->Show();
  EXPECT_TRUE(Splash->Widget()->isVisible());
  Splash->Close();
  EXPECT_FALSE(Splash->Widget()->isVisible());
  EXPECT_FALSE(Application->Terminated());
  // The window's close box asks the form the same way.
  Splash->Show();
  Splash->Widget()->close();
  EXPECT_FALSE(Splash->Widget()->isVisible());
  EXPECT_FALSE(Application->Terminated());
  // The main form's close ends the application's loop.
  Form->Close();
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(FormTest, SplashHasNoFrameAndRepaintPutsItOnScreenAtOnce) {
  Application->CreateForm(Splash);
  EXPECT_TRUE(Splash->Widget()->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Splash->Width(), 393);
  EXPECT_EQ(Splash->Height(), 62);
  EXPECT_EQ(Splash->Bevel1->Widget()->geometry(), QRect(0, 0, 393, 62));
  // Sized to its text, which the metric-compatible substitute of Arial draws within a few pixels of the design.
  EXPECT_EQ(Splash->Label1->Widget()->pos(), QPoint(78, 16));
  EXPECT_NEAR(Splash->Label1->Width(), 229, 8);
  EXPECT_NEAR(Splash->Label1->Height(), 24, 3);
  EXPECT_TRUE(Splash->Label1->Widget()->font().italic());

  // No event is processed between Show and the look at the screen: Repaint alone must have painted it.
  Splash->Show();
  Splash->Repaint();
  QImage shown = QGuiApplication::primaryScreen()->grabWindow(Splash->Widget()->winId()).toImage();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.pixelColor(30, 50), QColor(100, 90, 80));  // $505A64
  bool yellow = false;
  for (int x = 78; x < 307 && !yellow; ++x)
    for (int y = 16; y < 40 && !yellow; ++y) {
      QColor c = shown.pixelColor(x, y);
      yellow = c.red() > 200 && c.green() > 200 && c.blue() < 100;
    }
  EXPECT_TRUE(yellow) << "the label's yellow text is on screen";
  // The lowered box along the edge: dark top line, light bottom line.
  EXPECT_EQ(shown.pixelColor(100, 0), QColor(128, 128, 128));
  EXPECT_EQ(shown.pixelColor(100, 61), QColor(255, 255, 255));
}

// Fonts the forms name resolve through fontconfig to installed fonts; a name that is not installed is no error.
TEST(Fonts, NamedFontsResolveToInstalledOnes) {
  auto family = [](const char* name) { return QFontInfo(QFont(QString::fromUtf8(name))).family().toStdString(); };
  EXPECT_EQ(family("宋体"), "WenQuanYi Zen Hei");
  EXPECT_EQ(family("Arial"), "Liberation Sans");
  EXPECT_EQ(family("Verdana"), "DejaVu Sans");
  EXPECT_EQ(family("Comic Sans MS"), "Comic Neue");

  TForm* form = new TForm(nullptr);
  ReadComponentText(form,
                    "object F: TForm\n"
                    "  object L: TLabel\n"
                    "    Caption = 'x'\n"
                    "    Font.Name = 'No Such Font At All'\n"
                    "  end\n"
                    "end\n",
                    "Inline.form");
  auto* label = dynamic_cast<TLabel*>(form->FindComponent("L"));
  ASSERT_NE(label, nullptr);
  EXPECT_FALSE(QFontInfo(label->Widget()->font()).family().isEmpty());
  FreeForm(form);
}

}  // namespace

TEST(ScreenTest, SizeAndTheCursorOverEveryWindow) {
  QRect geometry = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(Screen->Width(), geometry.width());
  EXPECT_EQ(Screen->Height(), geometry.height());
  Screen->SetCursor(crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen->SetCursor(crHandPoint);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  Screen->SetCursor(crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Screen->Cursor(), crDefault);
}
