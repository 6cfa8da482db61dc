// TLabel, TGroupBox and TListBox (stdctrls.h).
#include "gui/stdctrls.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPaintEvent>

#include "gui/forms.h"
#include "gui_p.h"
#include "props_p.h"

using namespace tarvo_gui;

namespace {

QString ToDisplayText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

class TLabelWidget : public TControlWidget<QWidget> {
 public:
  explicit TLabelWidget(TControl* owner) : TControlWidget<QWidget>(owner) {}
  bool Transparent = false;
  QString Text;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (!Transparent) painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, Text);
  }
};

TLabelWidget* LabelWidget(const TControl* c) { return static_cast<TLabelWidget*>(c->Widget()); }

}  // namespace

// What other threads hand to a label: the latest caption and a repaint wish, and whether a hand-over is on
// its way to the GUI thread. Label is cleared by the label's destructor, so late hand-overs find nothing.
struct TLabel::TPending {
  std::mutex Lock;
  TLabel* Label = nullptr;
  std::string Text;
  bool Posted = false;
  bool RepaintWanted = false;
};

// --- TLabel ----------------------------------------------------------------------------------------------------

TARVO_PUBLISH(TLabel, TGraphicControl) {
  b.Property("Caption", &TControl::Caption, &TLabel::SetCaption)
      .Property("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize)
      .Property("Transparent", &TLabel::Transparent, &TLabel::SetTransparent)
      .Event("OnClick", &TControl::OnClick);
}

TLabel::TLabel(TComponent* AOwner)
    : TGraphicControl(AOwner, new TLabelWidget(this)), FPending(std::make_shared<TPending>()) {
  FPending->Label = this;
  SetParentColor(true);
  SetBounds(0, 0, 65, 17);
}

TLabel::~TLabel() {
  std::lock_guard<std::mutex> guard(FPending->Lock);
  FPending->Label = nullptr;
}

namespace {

// Hands the label's pending text (and repaint wish) to the GUI thread; one hand-over at a time carries the
// latest of everything set until it runs.
void PostPending(const std::shared_ptr<TLabel::TPending>& pending);

}  // namespace

void TLabel::SetCaption(const std::string& caption) {
  if (IsGuiThread()) {
    {
      std::lock_guard<std::mutex> guard(FPending->Lock);
      FPending->Text = caption;
    }
    TGraphicControl::SetCaption(caption);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(FPending->Lock);
    FPending->Text = caption;
    if (FPending->Posted) return;
    FPending->Posted = true;
  }
  PostPending(FPending);
}

void TLabel::ApplyPending(const std::string& text, bool repaint) {
  TGraphicControl::SetCaption(text);
  if (repaint) Widget()->repaint();
}

namespace {

void PostPending(const std::shared_ptr<TLabel::TPending>& pending) {
  std::weak_ptr<TLabel::TPending> weak = pending;
  PostToGui([weak] {
    std::shared_ptr<TLabel::TPending> p = weak.lock();
    if (!p) return;
    TLabel* label;
    std::string text;
    bool repaint;
    {
      std::lock_guard<std::mutex> guard(p->Lock);
      p->Posted = false;
      label = p->Label;
      text = p->Text;
      repaint = p->RepaintWanted;
      p->RepaintWanted = false;
    }
    if (label != nullptr) label->ApplyPending(text, repaint);
  });
}

}  // namespace

std::string TLabel::Text() const {
  std::lock_guard<std::mutex> guard(FPending->Lock);
  return FPending->Text;
}

void TLabel::Repaint() {
  if (IsGuiThread()) {
    Widget()->repaint();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(FPending->Lock);
    FPending->RepaintWanted = true;
    if (FPending->Posted) return;
    FPending->Posted = true;
  }
  PostPending(FPending);
}

void TLabel::Loaded() {
  TGraphicControl::Loaded();
  AdjustSize();
}

void TLabel::SetAutoSize(bool autoSize) {
  FAutoSize = autoSize;
  AdjustSize();
}

void TLabel::SetTransparent(bool transparent) {
  FTransparent = transparent;
  LabelWidget(this)->Transparent = transparent;
  Widget()->setAttribute(Qt::WA_TranslucentBackground, transparent);
  Widget()->update();
}

void TLabel::ApplyFont() {
  TGraphicControl::ApplyFont();
  AdjustSize();
}

void TLabel::ApplyColor() { TGraphicControl::ApplyColor(); }

void TLabel::ApplyCaption() {
  LabelWidget(this)->Text = ToDisplayText(FCaption);
  AdjustSize();
  Widget()->update();
}

void TLabel::AdjustSize() {
  if (!FAutoSize) return;
  QFontMetrics metrics(Font()->ToQFont());
  const QString& text = LabelWidget(this)->Text;
  QSize size = text.isEmpty() ? QSize(0, metrics.height())
                              : metrics.boundingRect(QRect(0, 0, 100000, 100000),
                                                     Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, text)
                                    .size();
  SetBounds(FLeft, FTop, size.width(), size.height());
}

// --- TGroupBox -------------------------------------------------------------------------------------------------

namespace {

// An etched frame with the caption standing on its top line, as the platform draws group boxes.
class TGroupBoxWidget : public TControlWidget<QWidget> {
 public:
  explicit TGroupBoxWidget(TControl* owner) : TControlWidget<QWidget>(owner) {}
  QString Title;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    painter.setPen(ToQColor(clBtnShadow));
    painter.drawRect(QRect(0, top, width() - 2, height() - top - 2));
    painter.setPen(ToQColor(clBtnHighlight));
    painter.drawRect(QRect(1, top + 1, width() - 2, height() - top - 2));
    if (Title.isEmpty()) return;
    QRect text(8, 0, metrics.horizontalAdvance(Title) + 4, metrics.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(text, Qt::AlignCenter, Title);
  }
};

}  // namespace

TARVO_PUBLISH(TGroupBox, TWinControl) {
  b.Property("Caption", &TControl::Caption, &TControl::SetCaption).Event("OnClick", &TControl::OnClick);
}

TGroupBox::TGroupBox(TComponent* AOwner) : TWinControl(AOwner, new TGroupBoxWidget(this)) {
  Widget()->setAutoFillBackground(true);
  Widget()->setFocusPolicy(Qt::NoFocus);
  SetParentColor(true);
  SetBounds(0, 0, 185, 105);
}

void TGroupBox::ApplyFont() { TWinControl::ApplyFont(); }
void TGroupBox::ApplyColor() { TWinControl::ApplyColor(); }
void TGroupBox::ApplyCaption() {
  static_cast<TGroupBoxWidget*>(Widget())->Title = ToDisplayText(FCaption);
  Widget()->update();
}

// --- TListBox --------------------------------------------------------------------------------------------------

namespace {
class TListWidget : public TControlWidget<QListWidget> {
 public:
  explicit TListWidget(TControl* owner) : TControlWidget<QListWidget>(owner) {}
};
QListWidget* ListWidget(const TControl* c) { return static_cast<QListWidget*>(c->Widget()); }
}  // namespace

TARVO_PUBLISH(TListBox, TWinControl) {
  b.Object("Items", &TListBox::Items)
      .Property("ItemHeight", &TListBox::ItemHeight, &TListBox::SetItemHeight)
      .Enum<TBorderStyle>("BorderStyle", &TListBox::BorderStyle, &TListBox::SetBorderStyle,
                          {{"bsNone", bsNone}, {"bsSingle", bsSingle}})
      .Event("OnClick", &TControl::OnClick);
}

TListBox::TListBox(TComponent* AOwner)
    : TWinControl(AOwner, new TListWidget(this)), FItems(std::make_unique<TStringList>()) {
  FItems->OnChange = [this](TObject*) { ItemsChanged(); };
  ListWidget(this)->setUniformItemSizes(true);
  // Long lines are cut at the edge, not shortened with an ellipsis.
  ListWidget(this)->setTextElideMode(Qt::ElideNone);
  ListWidget(this)->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
  SetBounds(0, 0, 121, 97);
}

TListBox::~TListBox() { FItems->OnChange = nullptr; }

void TListBox::ItemsChanged() {
  QListWidget* list = ListWidget(this);
  const int count = FItems->Count();
  // Lines appended at the end (the usual change) are added alone; anything else rebuilds the list.
  int keep = std::min(list->count(), count);
  for (int i = 0; i < keep; ++i)
    if (list->item(i)->text() != QString::fromStdString(FItems->Strings(i))) {
      keep = i;
      break;
    }
  while (list->count() > keep) delete list->takeItem(list->count() - 1);
  for (int i = keep; i < count; ++i) {
    auto* item = new QListWidgetItem(ToDisplayText(FItems->Strings(i)));
    item->setSizeHint(QSize(0, FItemHeight));
    list->addItem(item);
  }
}

void TListBox::SetItemHeight(int height) {
  if (height <= 0) throw EPropertyError("an item height above 0 is expected");
  FItemHeight = height;
  QListWidget* list = ListWidget(this);
  for (int i = 0; i < list->count(); ++i) list->item(i)->setSizeHint(QSize(0, height));
}

void TListBox::SetBorderStyle(TBorderStyle style) {
  if (style != bsNone && style != bsSingle) throw EPropertyError("a list box's border is bsNone or bsSingle");
  FBorderStyle = style;
  ListWidget(this)->setFrameShape(style == bsNone ? QFrame::NoFrame : QFrame::StyledPanel);
}

void TListBox::ApplyFont() { TWinControl::ApplyFont(); }

void TListBox::ApplyColor() {
  TWinControl::ApplyColor();
  QPalette palette = Widget()->palette();
  palette.setColor(QPalette::All, QPalette::Base, ToQColor(Color()));
  Widget()->setPalette(palette);
}
