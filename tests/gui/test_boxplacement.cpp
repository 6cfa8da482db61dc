// Where a message box stands: centred on its owner's window while that is shown, otherwise centred on the screen
// (a box raised in OnCreate, before the form has a place, or one without an owner).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "testforms.h"
#include "win32/user.h"

namespace {

struct TSeen {
  bool Shown = false;
  QPoint Centre;
  QWidget* Parent = nullptr;
};

// Shows a box for owner and notes where it stood before answering it.
TSeen BoxFor(HWND owner) {
  TSeen seen;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || seen.Shown) return;
    seen.Shown = true;
    seen.Centre = box->geometry().center();
    seen.Parent = box->parentWidget();
    box->button(QMessageBox::Ok)->click();
  });
  timer.start(10);
  EXPECT_EQ(MessageBoxA(owner, "请检查您的TCP/IP协议是否安装!!!", "网络错误", MB_OK | MB_ICONERROR), IDOK);
  return seen;
}

QPoint ScreenCentre() { return QGuiApplication::primaryScreen()->availableGeometry().center(); }

// Within a few pixels: rounding, and frames that a window system may add.
void ExpectNear(QPoint actual, QPoint wanted) {
  EXPECT_LE((actual - wanted).manhattanLength(), 8) << "at " << actual.x() << "," << actual.y() << ", not "
                                                    << wanted.x() << "," << wanted.y();
}

}  // namespace

TEST(MessageBoxPlacement, CentredOnTheScreenUntilTheOwnerIsShownThenOnTheOwner) {
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  ASSERT_NE(form, nullptr);

  TSeen hidden = BoxFor(form->Handle());  // as from FormCreate: the form has no place yet
  ASSERT_TRUE(hidden.Shown);
  EXPECT_EQ(hidden.Parent, nullptr);
  ExpectNear(hidden.Centre, ScreenCentre());

  TSeen ownerless = BoxFor(nullptr);
  ASSERT_TRUE(ownerless.Shown);
  ExpectNear(ownerless.Centre, ScreenCentre());

  form->Show();
  // Away from the screen's centre, so that the two centres differ.
  form->SetBounds(10, 20, form->Width(), form->Height());
  ASSERT_TRUE(PumpUntil([&] { return form->Widget()->pos() == QPoint(10, 20); }, 30000))
      << form->Widget()->pos().x() << "," << form->Widget()->pos().y();
  TSeen owned = BoxFor(form->Handle());
  ASSERT_TRUE(owned.Shown);
  EXPECT_EQ(owned.Parent, form->Widget());
  ExpectNear(owned.Centre, form->Widget()->geometry().center());
  FreeForm(form);
}
