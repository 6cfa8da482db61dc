// TLabel, TGroupBox and TListBox (stdctrls.h).
//
// The list box draws its lines itself rather than as a QListView over a model of its strings. A list view lays
// out every row again after each row inserted, uniform item sizes or not, and settles its scroll range only then:
// at 100,000 lines an appended line cost some 3.4 ms there against some 33 us here (bench_gui, BM_ListBoxAppend),
// and the sender's list gains a line for every announcement it hears, for as long as it runs.
#include "gui/stdctrls.h"

#include <QAbstractScrollArea>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <limits>

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

// The box's lines. Each change notes the first line it touches, so that the box redraws only when that line is in
// view.
class TListBoxStrings : public TStringList {
 public:
  // The first line changed since the last call (Count() when none was), and starts afresh.
  int TakeFirstChanged() {
    const int first = std::min(FFirstChanged, Count());
    FFirstChanged = std::numeric_limits<int>::max();
    return first;
  }
  void Put(int index, const std::string& s) override {
    Touch(index);
    TStringList::Put(index, s);
  }
  int AddObject(const std::string& s, TObject* object) override {
    Touch(Count());
    return TStringList::AddObject(s, object);
  }
  void Insert(int index, const std::string& s) override {
    Touch(index);
    TStringList::Insert(index, s);
  }
  void Delete(int index) override {
    Touch(index);
    TStringList::Delete(index);
  }
  void Clear() override {
    Touch(0);
    TStringList::Clear();
  }

 private:
  // Before the change: the box hears of it from inside the base class's operation. An index the base class
  // refuses only makes the box redraw when it need not.
  void Touch(int index) { FFirstChanged = std::min(FFirstChanged, std::max(index, 0)); }
  int FFirstChanged = std::numeric_limits<int>::max();
};

// The box's face draws the lines in view straight from the box's string list and keeps nothing per line. A list
// box may grow for as long as its program runs, a line for each event heard: an item view would lay out every line
// again after each one added, so that a long list took lines ever more slowly (see the file's header). Here a line
// costs its text alone, and adding one costs the same however many there are. It scrolls by whole lines; one line
// may be selected, by click or keys.
class TListWidget : public TControlWidget<QAbstractScrollArea> {
 public:
  explicit TListWidget(TControl* owner) : TControlWidget<QAbstractScrollArea>(owner) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(1);
  }

  // The box's string list, once the box has made it; none while the box is made and once it is going.
  void SetLines(const TStrings* lines) {
    FLines = lines;
    LinesChanged(0);
  }

  // After a change to the lines from line `first` on.
  void LinesChanged(int first) {
    if (FSelected >= Count()) FSelected = -1;
    UpdateRange();
    if (first <= Top() + RowsInView()) viewport()->update();
  }
  void SetItemHeight(int height) {
    FItemHeight = height;
    UpdateRange();
    viewport()->update();
  }

 protected:
  void paintEvent(QPaintEvent* e) override {
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(e->rect(), colours.color(QPalette::Base));
    painter.setFont(font());
    // The text stands off the edges as an item view's does.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int top = Top();
    const int last = std::min(Count() - 1, top + e->rect().bottom() / FItemHeight);
    for (int row = top + std::max(e->rect().top(), 0) / FItemHeight; row <= last; ++row) {
      const QRect line(0, (row - top) * FItemHeight, viewport()->width(), FItemHeight);
      const bool selected = row == FSelected;
      if (selected) painter.fillRect(line, colours.color(QPalette::Highlight));
      painter.setPen(colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
      // Long lines are cut at the edge, not shortened with an ellipsis.
      painter.drawText(line.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                       ToDisplayText(FLines->Strings(row)));
      if (selected && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = line;
        focus.backgroundColor = colours.color(QPalette::Highlight);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
      }
    }
  }
  void resizeEvent(QResizeEvent* e) override {
    QAbstractScrollArea::resizeEvent(e);
    UpdateRange();
  }
  void scrollContentsBy(int, int) override { viewport()->update(); }
  void focusInEvent(QFocusEvent* e) override {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
  }
  void focusOutEvent(QFocusEvent* e) override {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) {
      const int row = Top() + std::max(0, e->position().toPoint().y()) / FItemHeight;
      if (row < Count()) Select(row);
    }
    TControlWidget<QAbstractScrollArea>::mousePressEvent(e);
    e->accept();  // so that the release, and with it the click, comes here too
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int count = Count();
    const int page = std::max(1, RowsInView() - 1);
    int row = FSelected;
    switch (e->key()) {
      case Qt::Key_Up: row = row < 0 ? 0 : row - 1; break;
      case Qt::Key_Down: row = row < 0 ? 0 : row + 1; break;
      case Qt::Key_PageUp: row = row < 0 ? 0 : row - page; break;
      case Qt::Key_PageDown: row = row < 0 ? 0 : row + page; break;
      case Qt::Key_Home: row = 0; break;
      case Qt::Key_End: row = count - 1; break;
      default: QAbstractScrollArea::keyPressEvent(e); return;
    }
    if (count > 0) Select(std::clamp(row, 0, count - 1));
    e->accept();
  }

 private:
  int Count() const { return FLines ? FLines->Count() : 0; }
  int Top() const { return verticalScrollBar()->value(); }
  // Whole lines in view, at least one.
  int RowsInView() const { return std::max(1, viewport()->height() / FItemHeight); }
  void UpdateRange() {
    verticalScrollBar()->setPageStep(RowsInView());
    verticalScrollBar()->setRange(0, std::max(0, Count() - RowsInView()));
  }
  void Select(int row) {
    FSelected = row;
    if (row < Top()) verticalScrollBar()->setValue(row);
    else if (row >= Top() + RowsInView()) verticalScrollBar()->setValue(row - RowsInView() + 1);
    viewport()->update();
  }
  const TStrings* FLines = nullptr;
  int FItemHeight = 13;
  int FSelected = -1;
};
TListWidget* ListWidget(const TControl* c) { return static_cast<TListWidget*>(c->Widget()); }

}  // namespace

TARVO_PUBLISH(TListBox, TWinControl) {
  b.Object("Items", &TListBox::Items)
      .Property("ItemHeight", &TListBox::ItemHeight, &TListBox::SetItemHeight)
      .Enum<TBorderStyle>("BorderStyle", &TListBox::BorderStyle, &TListBox::SetBorderStyle,
                          {{"bsNone", bsNone}, {"bsSingle", bsSingle}})
      .Event("OnClick", &TControl::OnClick);
}

TListBox::TListBox(TComponent* AOwner)
    : TWinControl(AOwner, new TListWidget(this)), FItems(std::make_unique<TListBoxStrings>()) {
  FItems->OnChange = [this](TObject*) { ItemsChanged(); };
  ListWidget(this)->SetLines(FItems.get());
  ListWidget(this)->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
  SetBounds(0, 0, 121, 97);
}

TListBox::~TListBox() {
  FItems->OnChange = nullptr;
  ListWidget(this)->SetLines(nullptr);
}

void TListBox::ItemsChanged() {
  ListWidget(this)->LinesChanged(static_cast<TListBoxStrings*>(FItems.get())->TakeFirstChanged());
}

void TListBox::SetItemHeight(int height) {
  if (height <= 0) throw EPropertyError("an item height above 0 is expected");
  FItemHeight = height;
  ListWidget(this)->SetItemHeight(height);
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
