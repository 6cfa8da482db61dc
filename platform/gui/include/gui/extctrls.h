// Panels, bevels, images, picture buttons, paint boxes and the timer.
//
// - TImage shows a picture (JPEG or BMP, named by path in descriptions). It takes clicks while enabled; a
//   disabled image ignores them and looks the same.
// - TPictureButton is an image used as a button: hand-point cursor and sized to its picture by default.
// - TPaintBox has a canvas whose device context (Canvas()->Handle()) any thread may paint into with
//   SetDIBitsToDevice: the origin is the box, drawing is clipped to it, and it never waits for the GUI thread.
// - TTimer ticks as a window message of the GUI thread's queue, so its ticks interleave with posted socket
//   notifications in the order they arrive. Enabled and Interval 1000 by default. No tick runs once the
//   application's loop has ended (while the forms are destroyed), whichever pump dispatches the queue.
// Everything but painting into a paint box's device context is GUI-thread only.
#pragma once

#include <memory>

#include "gui/controls.h"

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TWinControl {
 public:
  TARVO_PUBLISHED(TPanel)
  explicit TPanel(TComponent* AOwner);

  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel bevel);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel bevel);
  int BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int width);

 protected:
  void ApplyColor() override;

 private:
  TPanelBevel FBevelOuter = bvRaised;
  TPanelBevel FBevelInner = bvNone;
  int FBevelWidth = 1;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TGraphicControl {
 public:
  TARVO_PUBLISHED(TBevel)
  explicit TBevel(TComponent* AOwner);

  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape shape);
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle style);

 private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

class TImage : public TGraphicControl {
 public:
  TARVO_PUBLISHED(TImage)
  explicit TImage(TComponent* AOwner);
  ~TImage() override;

  TPicture* Picture() const { return FPicture.get(); }
  // Sized to the picture while set; a description's Width and Height give way to it.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool autoSize);
  void Loaded() override;
  // Scaled to the control's size; otherwise drawn at the top left (or centred with Center).
  bool Stretch() const { return FStretch; }
  void SetStretch(bool stretch);
  bool Center() const { return FCenter; }
  void SetCenter(bool center);

 private:
  void PictureChanged();
  std::unique_ptr<TPicture> FPicture;
  bool FAutoSize = false;
  bool FStretch = false;
  bool FCenter = false;
};

class TPictureButton : public TImage {
 public:
  TARVO_PUBLISHED(TPictureButton)
  explicit TPictureButton(TComponent* AOwner);
};

class TPaintBox : public TGraphicControl {
 public:
  TARVO_PUBLISHED(TPaintBox)
  explicit TPaintBox(TComponent* AOwner);
  ~TPaintBox() override;

  TCanvas* Canvas() const { return FCanvas.get(); }  // any thread
  void Loaded() override;

 protected:
  void ApplyBounds() override;

 private:
  std::shared_ptr<tarvo_gui::TSurface> FSurface;
  std::unique_ptr<TCanvas> FCanvas;
};

class TTimer : public TComponent {
 public:
  TARVO_PUBLISHED(TTimer)
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  // Enabling a running timer changes nothing: its ticks keep their rhythm.
  void SetEnabled(bool enabled);
  // Milliseconds between ticks; 0 stops the ticks. A change restarts the rhythm.
  UINT Interval() const { return FInterval; }
  void SetInterval(UINT interval);

  // Each tick; an exception goes to the application's standard exception display, once per tick.
  TNotifyEvent OnTimer;

  struct TImpl;

 private:
  void UpdateTimer();
  bool FEnabled = true;
  UINT FInterval = 1000;
  std::unique_ptr<TImpl> FImpl;
};
