// Labels, group boxes and list boxes.
//
// A label's caption (with its repaint) may be set from any thread: the call stores the text, posts it to the GUI
// thread and returns at once, without waiting for the GUI thread, which may be busy or inside a modal box. The
// latest text wins; texts set after the label is destroyed are dropped. Everything else here is GUI-thread only.
#pragma once

#include <memory>
#include <string>

#include "gui/controls.h"

class TLabel : public TGraphicControl {
 public:
  TARVO_PUBLISHED(TLabel)
  explicit TLabel(TComponent* AOwner);
  ~TLabel() override;

  // Any thread. On the GUI thread the text is shown at once; elsewhere it is posted.
  void SetCaption(const std::string& caption) override;
  // Any thread: the caption as last set (also a text still on its way to the screen).
  std::string Text() const;
  // Any thread: paints now on the GUI thread; from elsewhere asks the GUI thread to paint, without waiting.
  void Repaint() override;

  // Sized to its text (all lines) while set; the default. A description's Width and Height give way to it,
  // wherever they stand among the label's properties.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool autoSize);
  // Shows what lies beneath instead of filling with Color.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool transparent);

  struct TPending;
  // The GUI thread's side of a hand-over from another thread.
  void ApplyPending(const std::string& text, bool repaint);
  void Loaded() override;

 protected:
  void ApplyFont() override;
  void ApplyColor() override;
  void ApplyCaption() override;

 private:
  void AdjustSize();
  bool FAutoSize = true;
  bool FTransparent = false;
  std::shared_ptr<TPending> FPending;
};

class TGroupBox : public TWinControl {
 public:
  TARVO_PUBLISHED(TGroupBox)
  explicit TGroupBox(TComponent* AOwner);

 protected:
  void ApplyFont() override;
  void ApplyColor() override;
  void ApplyCaption() override;
};

class TListBox : public TWinControl {
 public:
  TARVO_PUBLISHED(TListBox)
  explicit TListBox(TComponent* AOwner);
  ~TListBox() override;

  // The lines shown; adding to it appends a line to the box.
  TStrings* Items() const { return FItems.get(); }
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int height);
  // bsSingle (a sunken frame, the default) or bsNone.
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle style);

 protected:
  void ApplyFont() override;
  void ApplyColor() override;

 private:
  void ItemsChanged();
  std::unique_ptr<TStringList> FItems;
  int FItemHeight = 13;
  TBorderStyle FBorderStyle = bsSingle;
};
