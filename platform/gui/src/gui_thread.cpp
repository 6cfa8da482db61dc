// The hand-off of work to the GUI thread (PostToGui, IsGuiThread; gui_p.h): what other threads ask of widgets
// reaches the thread that owns them, in the order asked, without the asking thread waiting.
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "gui_p.h"

namespace tarvo_gui {

bool IsGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

namespace {

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Work handed to the GUI thread waits in this queue, under its own lock; one posted event at a time wakes the GUI
// thread to run all of it, in the order it was posted. Qt's own hand-over of the event is invisible to the thread
// sanitizer, so it is announced to it: everything written before the post happens before the GUI thread runs.
std::mutex gPostedLock;
std::vector<std::function<void()>> gPosted;
bool gWakePosted = false;
[[maybe_unused]] char gWakeToken;

void RunPosted() {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(&gWakeToken);
#endif
  std::vector<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> guard(gPostedLock);
    work.swap(gPosted);
    gWakePosted = false;
  }
  for (std::function<void()>& fn : work) fn();
}

// Lives on the GUI thread; whatever event reaches it, it runs the queue (it receives only the wake-ups).
class TGuiWaker : public QObject {
 public:
  bool event(QEvent*) override {
    RunPosted();
    return true;
  }
};

QObject* Waker(QCoreApplication* app) {
  static QObject* waker = [app] {
    auto* w = new TGuiWaker();
    w->moveToThread(app->thread());
    return w;
  }();
  return waker;
}

}  // namespace

void PostToGui(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QObject* waker = Waker(app);
  {
    std::lock_guard<std::mutex> guard(gPostedLock);
    gPosted.push_back(std::move(fn));
    if (gWakePosted) return;
    gWakePosted = true;
  }
  auto* wake = new QEvent(QEvent::User);
#if defined(__SANITIZE_THREAD__)
  __tsan_release(&gWakeToken);
#endif
  QCoreApplication::postEvent(waker, wake);
}

}  // namespace tarvo_gui
