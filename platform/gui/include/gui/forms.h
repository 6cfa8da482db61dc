// Forms, the application object and the screen.
//
// A program's entry reads like its design:
//
//   int main(int argc, char** argv) {
//     Application->Initialize(argc, argv);
//     Application->CreateForm(Form1);   // TForm1* Form1; read from its stored description, runs FormCreate
//     Application->Run();               // shows the main form (FormShow), loops until it closes
//   }                                   // Run has destroyed the forms (FormDestroy) before it returned
//
// A form class is a TForm that publishes its component fields and handlers:
//
//   class TForm1 : public TForm {
//    public:
//     TARVO_PUBLISHED(TForm1)
//     explicit TForm1(TComponent* AOwner) : TForm(AOwner) {}
//     TLabel* FrameLabel = nullptr;
//     void FormCreate(TObject* Sender);
//   };
//   TARVO_PUBLISH(TForm1, TForm) {
//     b.Field("FrameLabel", &TForm1::FrameLabel).Method("FormCreate", &TForm1::FormCreate);
//   }
//
// and its description (Unit1.form, embedded with tarvo_add_forms) starts "object Form1: TForm1". CreateForm finds
// the description by that class name, reads it (components, properties, pictures, event bindings), then runs
// OnCreate. The first form created is the main form; closing it ends Run's loop. A form that is not the main form
// is only hidden by Close.
//
// An exception that escapes an event handler, a timer tick, OnCreate, OnShow or OnDestroy goes to the standard
// exception display: a message box with the exception's text, the application's title (the program's name unless
// set) as caption, the error icon and OK; then the program goes on.
//
// Message loop: Qt's loop, which also dispatches the GUI thread's platform/win32 queue: each wake-up handles the
// messages that wait, in order, until the queue is empty or a few milliseconds have passed, so posted socket
// notifications, timer ticks and user input interleave in the order they arrive. ProcessMessages
// handles what is waiting (Qt's events and the queue) without blocking; it is the pump the socket component's
// waits use, and it works without a display too. Once the loop has ended no timer tick or posted message is
// dispatched any more: OnDestroy and the destruction of components run with the queue held back, and a timer
// does not tick then even when another pump (a socket's own) dispatches the queue.
//
// Everything here belongs to the GUI thread (the thread that called Initialize).
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "gui/controls.h"

enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};

enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = std::uint8_t;  // bit (1 << TBorderIcon) per member

class TCustomForm : public TWinControl {
 public:
  TARVO_PUBLISHED(TCustomForm)
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  // The form's platform/win32 window: messages, message-box owners and child windows (gdi.h
  // CreateSurfaceWindow) name it. Exists from construction to destruction.
  HWND Handle() const { return FHandle; }
  // The client area's canvas: its device context paints onto the form (behind its controls).
  TCanvas* Canvas() const { return FCanvas.get(); }

  void SetCaption(const std::string& caption) override;
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle style);
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons icons);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition position);

  // Width and Height are the outer size (frame included); ClientWidth/ClientHeight the client area.
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int width);
  void SetClientHeight(int height);
  void SetBounds(int left, int top, int width, int height) override;
  void SetVisible(bool visible) override;
  // Paints the form and its controls on screen before returning (a splash is visible before a blocking set-up).
  void Repaint() override;
  // The main form ends the application's loop; any other form is hidden.
  void Close();

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnDestroy;

  // Reads the form's stored description (found by class name among the embedded ones). EReadError names the
  // form, the line and the word when something in it is unknown; nothing then stays behind.
  void ReadDescription();
  // The steps the application runs around a form's life; each reports its exception and goes on.
  void DoCreate();
  void DoShow();
  void DoDestroy();
  // Runs OnDestroy (once) before the form is marked as being destroyed. The application (or an owner being
  // destroyed) calls it before it deletes the form; a plain delete cannot, as the form class is gone by then.
  void Destroying() override;
  void Loaded() override;
  // Messages to Handle: WM_CLOSE closes the form; a form class may handle its own messages by overriding
  // Dispatch and passing the rest on. Others go to the platform's default procedure.
  void Dispatch(TMessage& message) override;
  void DefaultHandler(TMessage& message) override;
  // Takes position and outer size from the window (after the user or the window manager moved or framed it).
  void SyncBounds();
  // Called once the window is shown: a centred form is placed again when its real frame differs from the one
  // it was placed with.
  void WindowShown();

  // The left/right/top/bottom frame widths that Width/Height add to the client size.
  void FrameMargins(int& left, int& top, int& right, int& bottom) const;

  struct TImpl;

 private:
  void ApplyWindowFlags();
  void PlaceOnShow();
  HWND FHandle = nullptr;
  std::unique_ptr<TCanvas> FCanvas;
  std::shared_ptr<tarvo_gui::TSurface> FSurface;
  TBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons = (1u << biSystemMenu) | (1u << biMinimize) | (1u << biMaximize);
  TPosition FPosition = poDesigned;
  bool FCreated = false;
  bool FDestroyDone = false;
  bool FShownOnce = false;
  bool FVisibleStored = false;
  bool FPlacePending = false;
  int FPlacedMargins[4] = {0, 0, 0, 0};
  friend class TApplication;
};

class TForm : public TCustomForm {
 public:
  TARVO_PUBLISHED(TForm)
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

namespace tarvo_gui {
class TApplicationInternals;  // what only the toolkit's own files may do with the application
}

class TApplication : public TComponent {
 public:
  TARVO_PUBLISHED(TApplication)
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Starts the toolkit: Qt (the offscreen platform when there is no display), the platform queue's dispatch,
  // the message-box presenter, the application hooks of platform/rtl and the class registry. Idempotent.
  void Initialize(int argc = 0, char** argv = nullptr);
  bool Initialized() const { return FInitialized; }

  // Creates a form of class T owned by the application, stores it in Reference before its description is read
  // (so handlers may use it), reads the description and runs OnCreate. The first form becomes the main form.
  // A description that cannot be read is reported like any exception and ends the program (exit status 1).
  template <class T>
  void CreateForm(T*& Reference) {
    static_assert(std::is_base_of_v<TCustomForm, T>, "CreateForm creates forms");
    T* form = new T(this);
    Reference = form;
    if (!InitForm(form)) Reference = nullptr;
  }

  // Shows the main form (OnShow) and runs the loop until it closes (or Terminate); then destroys every form,
  // last created first: OnDestroy, the components, the windows.
  void Run();
  // Handles every waiting message without blocking.
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Ready for another Run (tests).
  void ResetTerminated();

  TCustomForm* MainForm() const { return FMainForm; }
  // The program file's full path and its name without folder.
  const std::string& ExeName() const { return FExeName; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& title) { FTitle = title; }

  // The standard exception display, for the exception being handled (call inside a catch block).
  void HandleException();
  void ShowException(const std::string& message);

  struct TImpl;

 private:
  // CreateForm's steps once the form exists: its description, OnCreate, the main form, shown when stored so.
  bool InitForm(TCustomForm* form);
  void DestroyForms();
  bool FInitialized = false;
  bool FTerminated = false;
  bool FLoopEnded = false;
  TCustomForm* FMainForm = nullptr;
  std::vector<TCustomForm*> FForms;
  std::string FExeName;
  std::string FTitle;
  std::unique_ptr<TImpl> FImpl;
  friend class tarvo_gui::TApplicationInternals;
};

class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* AOwner);
  int Width() const;  // pixels of the primary screen (0 before Application->Initialize)
  int Height() const;
  // The cursor over every window of the program: crHourGlass while busy, crDefault for each control's own.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor cursor);

 private:
  TCursor FCursor = crDefault;
};

extern TApplication* Application;
extern TScreen* Screen;

// Used by the code that tarvo_add_forms generates: names an embedded resource as a form description, so that
// CreateForm can find it by the class its first line names.
void RegisterFormDescription(const char* resourceName);

namespace tarvo_gui {
// Runs f, and sends an exception that escapes it to the standard exception display.
template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    Application->HandleException();
  }
}
// The Qt cursor shape of a TCursor.
int QtCursorShape(TCursor cursor);
}  // namespace tarvo_gui
