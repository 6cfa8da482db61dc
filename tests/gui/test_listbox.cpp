// The list box that shows its lines straight from its string list: what it draws as lines come, change and go,
// and its scrolling and selection.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "rtl/formreader.h"
#include "testforms.h"

namespace {

class ListBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form = new TForm(nullptr);
    // Five lines of 13 pixels in view.
    ReadComponentText(Form,
                      "object F: TForm\n Width = 200\n Height = 150\n"
                      " object L: TListBox\n Width = 121\n Height = 65\n BorderStyle = bsNone\n ItemHeight = 13\n"
                      " end\nend\n",
                      "ListBoxTest.form");
    Box = dynamic_cast<TListBox*>(Form->FindComponent("L"));
    ASSERT_NE(Box, nullptr);
    Form->Show();
    ASSERT_TRUE(PumpUntil([&] { return Form->Widget()->windowHandle()->isExposed(); }));
    Bar = static_cast<QAbstractScrollArea*>(Box->Widget())->verticalScrollBar();
  }
  void TearDown() override { delete Form; }
  // What the screen shows of line `row` in view, once the box has had its chance to repaint.
  QImage Row(int row) const {
    Pump(20);
    QWidget* view = static_cast<QAbstractScrollArea*>(Box->Widget())->viewport();
    const QPoint at = view->mapTo(Form->Widget(), QPoint(0, row * 13));
    return QGuiApplication::primaryScreen()->grabWindow(Form->Widget()->winId(), at.x(), at.y(), view->width(), 13)
        .toImage();
  }
  bool Inked(int row) const {
    const QImage line = Row(row);
    const QColor base = Box->Widget()->palette().color(QPalette::Base);
    for (int y = 0; y < line.height(); ++y)
      for (int x = 0; x < line.width(); ++x)
        if (line.pixelColor(x, y) != base) return true;
    return false;
  }
  TForm* Form = nullptr;
  TListBox* Box = nullptr;
  QScrollBar* Bar = nullptr;
};

TEST_F(ListBoxTest, LinesAreDrawnAsTheyComeChangeAndGo) {
  TStrings* lines = Box->Items();
  for (int i = 0; i < 3; ++i) lines->Add("10:00:0" + std::to_string(i) + "  in: 10.0.0." + std::to_string(i));
  EXPECT_TRUE(Inked(2));
  EXPECT_FALSE(Inked(3));
  const QImage before = Row(1);
  lines->Put(1, "10:00:01  out: 10.0.0.1");
  EXPECT_NE(Row(1), before);
  lines->Delete(0);
  EXPECT_FALSE(Inked(2));
  lines->Insert(0, "first");
  EXPECT_TRUE(Inked(2));
  lines->Clear();
  EXPECT_FALSE(Inked(0));
  EXPECT_EQ(Bar->maximum(), 0);
}

TEST_F(ListBoxTest, AGrowingListStaysAtItsTopAndScrollsByWholeLines) {
  for (int i = 0; i < 1000; ++i) Box->Items()->Add("line " + std::to_string(i));
  EXPECT_EQ(Bar->value(), 0);
  EXPECT_EQ(Bar->maximum(), 1000 - 5);

  // End selects the last line and brings it into view, at the bottom; Home goes back.
  Box->Widget()->setFocus();
  QTest::keyClick(Box->Widget(), Qt::Key_End);
  EXPECT_EQ(Bar->value(), 995);
  const QColor highlight = Box->Widget()->palette().color(QPalette::Highlight);
  EXPECT_EQ(Row(4).pixelColor(Row(4).width() - 2, 6), highlight);
  QTest::keyClick(Box->Widget(), Qt::Key_Home);
  EXPECT_EQ(Bar->value(), 0);

  // A click selects the line under it and is the box's click; lines added meanwhile leave the view alone.
  int clicks = 0;
  Box->OnClick = [&](TObject*) { ++clicks; };
  QWidget* view = static_cast<QAbstractScrollArea*>(Box->Widget())->viewport();
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, 2 * 13 + 6));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Row(2).pixelColor(Row(2).width() - 2, 6), highlight);
  EXPECT_NE(Row(0).pixelColor(Row(0).width() - 2, 6), highlight);
  Box->Items()->Add("line 1000");
  EXPECT_EQ(Bar->value(), 0);
  EXPECT_EQ(Bar->maximum(), 1001 - 5);
}

}  // namespace
