// TScreen (forms.h): the primary screen's size and the cursor over every window of the program.
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include "gui/forms.h"

using namespace tarvo_gui;

TScreen* Screen = new TScreen(nullptr);

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

int TScreen::Width() const {
  if (QGuiApplication::instance() == nullptr) return 0;
  QScreen* s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->geometry().width() : 0;
}

int TScreen::Height() const {
  if (QGuiApplication::instance() == nullptr) return 0;
  QScreen* s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->geometry().height() : 0;
}

void TScreen::SetCursor(TCursor cursor) {
  FCursor = cursor;
  if (QGuiApplication::instance() == nullptr) return;
  if (cursor == crDefault) {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
    return;
  }
  QCursor shape(static_cast<Qt::CursorShape>(QtCursorShape(cursor)));
  if (QGuiApplication::overrideCursor() != nullptr)
    QGuiApplication::changeOverrideCursor(shape);
  else
    QGuiApplication::setOverrideCursor(shape);
}
