// The Qt presenter of platform/win32's message boxes (MessageBoxA): a real, modal QMessageBox with the box's
// icon, buttons, default and escape answers, shown by the GUI thread whichever thread asks.
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "gui_p.h"
#include "win32/user.h"

namespace tarvo_gui {

namespace {

// A box stands centred on its owner's window while that window is shown. One without an owner, or whose owner
// is not shown yet (a box from a form's OnCreate), stands centred on the screen: a hidden window has no place
// of its own to centre on.
QWidget* DialogParent(HWND owner) {
  QWidget* w = TopWidgetOf(owner);
  return w != nullptr && w->isVisible() ? w : nullptr;
}

// Centred by the toolkit itself: Qt's own placement makes room for a window frame that it guesses, off centre by
// that guess where no window manager draws one.
class TCentredBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* e) override {
    QMessageBox::showEvent(e);  // takes the box's final size
    if (e->spontaneous()) return;
    QWidget* owner = parentWidget();
    const QRect area = owner != nullptr ? owner->window()->geometry() : screen()->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
};

int ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  QWidget* parent = DialogParent(owner);
  TCentredBox box(parent);
  box.setWindowTitle(QString::fromUtf8(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromUtf8(text));
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONASTERISK: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  struct TButton {
    QMessageBox::StandardButton Qt;
    int Id;
  };
  std::vector<TButton> buttons;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_ABORTRETRYIGNORE:
      buttons = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    case MB_RETRYCANCEL: buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
    default: buttons = {{QMessageBox::Ok, IDOK}}; break;
  }
  QMessageBox::StandardButtons all;
  for (const TButton& b : buttons) all |= b.Qt;
  box.setStandardButtons(all);
  std::size_t defaultIndex = (type & MB_DEFMASK) >> 8;
  if (defaultIndex >= buttons.size()) defaultIndex = 0;
  box.setDefaultButton(buttons[defaultIndex].Qt);
  // Escape answers as the close box of the original does: Cancel where there is one, OK for a lone OK.
  for (const TButton& b : buttons)
    if (b.Id == IDCANCEL || (buttons.size() == 1 && b.Id == IDOK)) box.setEscapeButton(b.Qt);
  // Above every other window of the program, also when it has no owner.
  if (parent == nullptr) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.setWindowModality(Qt::ApplicationModal);
  int answer = box.exec();
  for (const TButton& b : buttons)
    if (answer == b.Qt) return b.Id;
  // Closed some other way: the escape answer.
  for (const TButton& b : buttons)
    if (b.Id == IDCANCEL) return IDCANCEL;
  return buttons.size() == 1 ? IDOK : buttons.back().Id;
}

}  // namespace

int QtMessageBoxPresenter(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (IsGuiThread()) return ShowMessageBox(owner, text, caption, type);
  // Another thread's box is shown by the GUI thread; that thread waits for the answer, as on the original
  // platform it would wait for its own box.
  auto answer = std::make_shared<std::promise<int>>();
  std::future<int> result = answer->get_future();
  PostToGui([answer, owner, text = std::string(text), caption = std::string(caption), type] {
    answer->set_value(ShowMessageBox(owner, text.c_str(), caption.c_str(), type));
  });
  try {
    return result.get();
  } catch (const std::future_error&) {
    return 0;  // the GUI thread's loop is gone: no box can be shown
  }
}

}  // namespace tarvo_gui
