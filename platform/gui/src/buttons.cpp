// TBitBtn (buttons.h).
#include "gui/buttons.h"

#include <QIcon>
#include <QPixmap>
#include <QPushButton>

#include "gui/forms.h"
#include "gui_p.h"
#include "props_p.h"

using namespace tarvo_gui;

namespace {

// A push button; its clicked signal (mouse or keyboard) is the control's click.
class TButtonWidget : public QPushButton, public TOwnerLink {
 public:
  explicit TButtonWidget(TControl* owner) : TOwnerLink(owner) {
    QObject::connect(this, &QPushButton::clicked, this, [this] {
      if (Owner != nullptr) Owner->WidgetClicked();
    });
  }
};

QPushButton* Button(const TControl* c) { return static_cast<QPushButton*>(c->Widget()); }

}  // namespace

TARVO_PUBLISH(TBitBtn, TWinControl) {
  b.Property("Caption", &TControl::Caption, &TControl::SetCaption)
      .Object("Glyph", &TBitBtn::Glyph)
      .Property("NumGlyphs", &TBitBtn::NumGlyphs, &TBitBtn::SetNumGlyphs)
      .Event("OnClick", &TControl::OnClick);
}

TBitBtn::TBitBtn(TComponent* AOwner) : TWinControl(AOwner, new TButtonWidget(this)), FGlyph(std::make_unique<TBitmap>()) {
  FGlyph->OnChange = [this](TObject*) { GlyphChanged(); };
  Widget()->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

TBitBtn::~TBitBtn() { FGlyph->OnChange = nullptr; }

void TBitBtn::GlyphChanged() {
  const int w = FGlyph->Width();
  const int h = FGlyph->Height();
  if (h > 0 && w % h == 0) {
    const int n = w / h;
    FNumGlyphs = n >= 1 && n <= 4 ? n : 1;
  }
  UpdateIcon();
}

void TBitBtn::SetNumGlyphs(int count) {
  if (count < 1 || count > 4) throw EPropertyError(std::to_string(count) + " is out of range 1..4");
  FNumGlyphs = count;
  UpdateIcon();
}

void TBitBtn::UpdateIcon() {
  QPushButton* button = Button(this);
  if (FGlyph->Empty()) {
    button->setIcon(QIcon());
    return;
  }
  QImage image = FGlyph->Image().convertToFormat(QImage::Format_ARGB32);
  const QRgb transparent = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] & 0xFFFFFF) == (transparent & 0xFFFFFF)) row[x] = 0;
  }
  const int partWidth = image.width() / FNumGlyphs;
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(image.copy(0, 0, partWidth, image.height())), QIcon::Normal);
  if (FNumGlyphs >= 2)
    icon.addPixmap(QPixmap::fromImage(image.copy(partWidth, 0, partWidth, image.height())), QIcon::Disabled);
  button->setIcon(icon);
  button->setIconSize(QSize(partWidth, image.height()));
}

void TBitBtn::ApplyFont() {
  TWinControl::ApplyFont();
  // The font's colour is the enabled caption's; a disabled button greys its caption, as the platform draws it.
  QPalette palette = Widget()->palette();
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, ToQColor(clGrayText));
  Widget()->setPalette(palette);
}

void TBitBtn::ApplyCaption() { Button(this)->setText(QString::fromStdString(FCaption)); }
