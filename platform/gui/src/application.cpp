// The running application (TApplication, forms.h; its start-up is startup.cpp's): it creates the program's forms,
// runs them in its message loop (Qt's loop, which also dispatches the GUI thread's platform queue), shows the
// exceptions that escape them, and destroys them when the loop ends.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "gui/forms.h"
#include "gui_p.h"
#include "win32/user.h"

using namespace tarvo_gui;

TApplication* Application = new TApplication(nullptr);

TARVO_PUBLISH(TApplication, TComponent) {}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FImpl(std::make_unique<TImpl>()) {}

TApplication::~TApplication() = default;

namespace {

// How long one wake-up may go on handling the queue before input and timers get their turn.
constexpr int kDispatchSliceMs = 5;

// A message taken from the queue: WM_QUIT ends the loop (false), anything else goes to its window.
bool HandleQueued(TApplication& app, MSG& msg) {
  if (msg.message == WM_QUIT) {
    app.Terminate();
    return false;
  }
  TranslateMessage(&msg);
  Guarded([&] { DispatchMessageA(&msg); });
  return true;
}

}  // namespace

bool TApplication::InitForm(TCustomForm* form) {
  FForms.push_back(form);
  try {
    form->ReadDescription();
  } catch (...) {
    // A form that cannot be read is a broken program: say why, and end it.
    HandleException();
    form->FDestroyDone = true;
    delete form;
    DestroyForms();
    std::exit(1);
  }
  form->DoCreate();
  form->FCreated = true;
  if (FMainForm == nullptr) FMainForm = form;
  if (form->FVisibleStored) form->Show();
  return true;
}

void TApplicationInternals::FormDestroyed(TApplication& app, TCustomForm* form) {
  app.FForms.erase(std::remove(app.FForms.begin(), app.FForms.end(), form), app.FForms.end());
  if (app.FMainForm == form) app.FMainForm = nullptr;
}

void TApplication::DestroyForms() {
  while (!FForms.empty()) {
    TCustomForm* form = FForms.back();
    form->Destroying();
    delete form;  // takes itself out of FForms
  }
}

void TApplication::Run() {
  if (!FInitialized) Initialize();
  FLoopEnded = false;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(true);
  if (FMainForm != nullptr && !FTerminated) FMainForm->Show();
  if (FMainForm != nullptr && !FTerminated) {
    QEventLoop loop;
    FImpl->Loop = &loop;
    loop.exec();
    FImpl->Loop = nullptr;
  }
  // From here on nothing of the queue is dispatched: no tick or notification reaches a form being destroyed.
  FLoopEnded = true;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(false);
  DestroyForms();
}

void TApplication::ProcessMessages() {
  if (QCoreApplication::instance() != nullptr) {
    // Once the loop has ended the forms are being destroyed: their windows still show, but a click must not
    // reach a handler whose form is half gone.
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (FLoopEnded) flags = QEventLoop::ExcludeSocketNotifiers | QEventLoop::ExcludeUserInputEvents;
    QCoreApplication::processEvents(flags);
  }
  if (FLoopEnded) return;
  MSG msg;
  while (!FLoopEnded && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) HandleQueued(*this, msg);
}

void TApplicationInternals::DispatchWaitingMessages(TApplication& app) {
  // One wake-up handles the queue in order until it is empty, with what the handlers post meanwhile (a socket
  // posts its next read notification while data waits), for at most a slice: input and timer ticks come
  // through Qt's loop, and take their turn between slices as they did between messages.
  const auto sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDispatchSliceMs);
  MSG msg;
  while (!app.FLoopEnded && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0) {
    // WM_QUIT, or a handler that ended the loop, ends the batch too: what follows stays in the queue.
    if (!HandleQueued(app, msg) || app.FTerminated || std::chrono::steady_clock::now() >= sliceEnd) return;
  }
}

void TApplication::Terminate() {
  FTerminated = true;
  if (FImpl->Loop != nullptr) FImpl->Loop->quit();
}

void TApplication::ResetTerminated() {
  FTerminated = false;
  FLoopEnded = false;
  if (FImpl->Notifier != nullptr) FImpl->Notifier->setEnabled(true);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const Exception& e) {
    ShowException(e.Message());
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
}

void TApplication::ShowException(const std::string& message) {
  std::string text = message;
  // The platform's display ends a sentence that lacks its full stop.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  HWND owner = FMainForm != nullptr ? FMainForm->Handle() : nullptr;
  MessageBoxA(owner, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONERROR);
}
