// Window classes, windows and the per-thread message queues of platform/win32 (user.h).
//
// Locking: one reader-writer lock guards the process tables (classes, windows, threads' queues); each queue
// has its own mutex. The table lock is never taken while a queue mutex is held, no lock is held while a
// window procedure runs, and no two queue mutexes are ever held at once. A queued message keeps a reference
// to its window object, so retrieval can tell a dead window (its `alive` flag) without the table lock.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "win32/diagnostics.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace {

constexpr size_t kPostedLimit = 10000;  // posted messages per queue, as USERPostMessageLimit
constexpr size_t kWindowLimit = 10000;  // windows per process, as the USER handle quota
constexpr int kMaxExtraBytes = 1 << 16;
constexpr UINT_PTR kFirstHandle = 0x10000;  // above the atoms and HWND_BROADCAST; even values, never reused

struct Window;
struct Queue;

struct WndClass {
  std::string name;
  std::string lowerName;
  std::string menuName;
  bool hasMenuName = false;
  WNDCLASSA wc{};
  ATOM atom = 0;
  size_t windows = 0;  // guarded by the table lock
};

struct QMsg {
  std::shared_ptr<Window> win;  // null for a thread message
  MSG m{};
};

struct SendReply {
  std::shared_ptr<Queue> senderQueue;  // `done` and `result` are guarded by its mutex
  bool done = false;
  bool ok = false;
  LRESULT result = 0;
};

struct SentMsg {
  std::shared_ptr<Window> win;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::shared_ptr<SendReply> reply;
};

struct Queue {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<QMsg> posted;
  std::deque<SentMsg> sent;
  bool quit = false;
  int quitCode = 0;
  bool dead = false;       // the owner thread has ended
  int efd = -1;            // eventfd: readable exactly while `signaled`
  bool signaled = false;
  std::uint64_t seq = 0;   // bumped whenever something arrives (wakes GetMessageA and SendMessageA waits)
  DWORD tid = 0;

  ~Queue() {
    if (efd >= 0) close(efd);
  }

  // Under mu: make the descriptor readable exactly while something waits.
  void UpdateSignal() {
    bool want = !dead && (!posted.empty() || !sent.empty() || quit);
    if (want == signaled || efd < 0) return;
    if (want) {
      std::uint64_t one = 1;
      if (write(efd, &one, sizeof one) == sizeof one) signaled = true;
    } else {
      std::uint64_t value = 0;
      if (read(efd, &value, sizeof value) == sizeof value || errno == EAGAIN) signaled = false;
    }
  }

  // Under mu: something arrived.
  void Arrived() {
    ++seq;
    UpdateSignal();
    cv.notify_all();
  }
};

struct Window {
  HWND hwnd = nullptr;
  std::shared_ptr<WndClass> cls;
  std::shared_ptr<Queue> queue;
  DWORD tid = 0;
  std::shared_ptr<Window> parent;  // immutable after creation
  std::vector<Window*> children;   // guarded by the table lock
  std::atomic<WNDPROC> proc{nullptr};
  std::atomic<bool> alive{true};
  bool destroying = false;  // owner thread only
  std::atomic<LONG_PTR> userData{0};
  std::atomic<LONG_PTR> style{0};
  std::atomic<LONG_PTR> exStyle{0};
  std::atomic<LONG_PTR> id{0};
  std::atomic<LONG_PTR> instance{0};
  size_t slotCount = 0;
  std::unique_ptr<std::atomic<LONG_PTR>[]> slots;
  std::string name;

  bool IsSelfOrDescendantOf(const Window* w) const {
    for (const Window* p = this; p; p = p->parent.get())
      if (p == w) return true;
    return false;
  }
};

struct Tables {
  std::shared_mutex mu;
  std::unordered_map<UINT_PTR, std::shared_ptr<Window>> windows;
  UINT_PTR nextHandle = kFirstHandle;
  std::vector<std::shared_ptr<WndClass>> classes;
  ATOM nextAtom = 0xC000;
  std::unordered_map<DWORD, std::shared_ptr<Queue>> threads;
};

// Never destroyed: threads (the notifier, the main thread's thread_local cleanup) may use the tables while
// static destructors run.
Tables& T() {
  static Tables* t = new Tables;
  return *t;
}

std::string Lower(const char* s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool IsAtom(LPCSTR name) { return reinterpret_cast<UINT_PTR>(name) < 0x10000; }

// Under the table lock.
std::shared_ptr<WndClass> FindClassLocked(LPCSTR name) {
  Tables& t = T();
  if (IsAtom(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(name));
    for (auto& c : t.classes)
      if (c->atom == atom) return c;
    return nullptr;
  }
  std::string lower = Lower(name);
  for (auto& c : t.classes)
    if (c->lowerName == lower) return c;
  return nullptr;
}

std::shared_ptr<Window> Find(HWND h) {
  if (!h) return nullptr;
  Tables& t = T();
  std::shared_lock lock(t.mu);
  auto it = t.windows.find(reinterpret_cast<UINT_PTR>(h));
  return it == t.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindOrFail(HWND h) {
  auto w = Find(h);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

// ---- the calling thread's queue ----

void CleanUpThread(const std::shared_ptr<Queue>& q);

struct ThreadState {
  std::shared_ptr<Queue> queue;
  ~ThreadState();
};

thread_local bool tThreadEnded = false;  // trivially destructible: valid through all thread-exit destructors

ThreadState& TS() {
  static thread_local ThreadState ts;
  return ts;
}

ThreadState::~ThreadState() {
  tThreadEnded = true;
  if (queue) CleanUpThread(queue);
}

// The calling thread's queue; created on first use. Null once the thread's cleanup has run.
Queue* MyQueue() {
  if (tThreadEnded) return nullptr;
  ThreadState& ts = TS();
  if (!ts.queue) {
    auto q = std::make_shared<Queue>();
    q->tid = GetCurrentThreadId();
    q->efd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Tables& t = T();
    std::unique_lock lock(t.mu);
    t.threads[q->tid] = q;
    ts.queue = std::move(q);
  }
  return ts.queue.get();
}

std::shared_ptr<Queue> MyQueueShared() {
  if (!MyQueue()) return nullptr;
  return TS().queue;
}

DWORD Me() { return GetCurrentThreadId(); }

// ---- posting ----

// once: nothing is added while the same message (window, number, parameters) still waits in the queue.
BOOL PostTo(const std::shared_ptr<Queue>& q, std::shared_ptr<Window> win, HWND hwnd, UINT msg, WPARAM wParam,
            LPARAM lParam, DWORD deadError, bool once = false) {
  QMsg m;
  m.m.hwnd = hwnd;
  m.m.message = msg;
  m.m.wParam = wParam;
  m.m.lParam = lParam;
  m.m.time = GetTickCount();
  m.win = std::move(win);
  std::lock_guard lock(q->mu);
  if (q->dead) {
    SetLastError(deadError);
    return FALSE;
  }
  if (once)
    for (const QMsg& waiting : q->posted)
      if (waiting.win == m.win && waiting.m.hwnd == hwnd && waiting.m.message == msg && waiting.m.wParam == wParam &&
          waiting.m.lParam == lParam)
        return TRUE;
  if (q->posted.size() >= kPostedLimit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  q->posted.push_back(std::move(m));
  q->Arrived();
  return TRUE;
}

// ---- sent messages from other threads ----

void Reply(const std::shared_ptr<SendReply>& r, bool ok, LRESULT result) {
  Queue& sq = *r->senderQueue;
  std::lock_guard lock(sq.mu);
  r->done = true;
  r->ok = ok;
  r->result = result;
  sq.cv.notify_all();
}

LRESULT CallProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = w.proc.load(std::memory_order_acquire);
  return proc ? proc(w.hwnd, msg, wParam, lParam) : 0;
}

// Handles every cross-thread SendMessageA waiting for this thread. Returns whether it handled any.
bool HandleSent(Queue& q) {
  bool any = false;
  for (;;) {
    SentMsg s;
    {
      std::lock_guard lock(q.mu);
      if (q.sent.empty()) return any;
      s = std::move(q.sent.front());
      q.sent.pop_front();
      q.UpdateSignal();
    }
    any = true;
    if (!s.win->alive.load()) {
      Reply(s.reply, false, 0);
      continue;
    }
    struct Guard {  // the sender learns of an exception as a failed call; the exception goes on here
      std::shared_ptr<SendReply>& r;
      bool replied = false;
      ~Guard() {
        if (!replied) Reply(r, false, 0);
      }
    } guard{s.reply};
    LRESULT result = CallProc(*s.win, s.msg, s.wParam, s.lParam);
    guard.replied = true;
    Reply(s.reply, true, result);
  }
}

// ---- retrieval ----

struct Filter {
  Window* win = nullptr;  // null: no window filter
  bool threadOnly = false;
  UINT min = 0, max = 0;

  bool Matches(const QMsg& m) const {
    if (threadOnly && m.win) return false;
    if (win && (!m.win || !m.win->IsSelfOrDescendantOf(win))) return false;
    if ((min == 0 && max == 0) || max < min) return true;
    return m.m.message >= min && m.m.message <= max;
  }
};

// Under q.mu. Takes the first matching posted message (dropping those of dead windows met on the way), else
// the quit flag.
bool TakeLocked(Queue& q, MSG* out, const Filter& f, bool remove) {
  for (auto it = q.posted.begin(); it != q.posted.end();) {
    if (it->win && !it->win->alive.load(std::memory_order_acquire)) {
      it = q.posted.erase(it);
      continue;
    }
    if (!f.Matches(*it)) {
      ++it;
      continue;
    }
    *out = it->m;
    if (remove) q.posted.erase(it);
    q.UpdateSignal();
    return true;
  }
  if (q.quit) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(static_cast<LONG_PTR>(q.quitCode));
    out->time = GetTickCount();
    if (remove) q.quit = false;
    q.UpdateSignal();
    return true;
  }
  q.UpdateSignal();
  return false;
}

// Resolves the window filter; false (with 1400) when it names no window. `holder` keeps the window alive.
bool MakeFilter(HWND hwnd, UINT min, UINT max, Filter& f, std::shared_ptr<Window>& holder) {
  f.min = min;
  f.max = max;
  if (hwnd == HWND_THREAD_MESSAGES) {
    f.threadOnly = true;
  } else if (hwnd) {
    holder = FindOrFail(hwnd);
    if (!holder) return false;
    f.win = holder.get();
  }
  return true;
}

// ---- destruction ----

// Takes the window (and any descendants still there) out of the tables and purges its posted messages.
void Kill(const std::shared_ptr<Window>& w) {
  std::vector<std::shared_ptr<Window>> dead;
  {
    Tables& t = T();
    std::unique_lock lock(t.mu);
    std::vector<Window*> todo{w.get()};
    while (!todo.empty()) {
      Window* x = todo.back();
      todo.pop_back();
      auto it = t.windows.find(reinterpret_cast<UINT_PTR>(x->hwnd));
      if (it == t.windows.end()) continue;
      dead.push_back(it->second);
      for (Window* c : x->children) todo.push_back(c);
      x->children.clear();
      x->alive.store(false, std::memory_order_release);
      x->cls->windows--;
      if (x->parent) {
        auto& siblings = x->parent->children;
        for (auto s = siblings.begin(); s != siblings.end(); ++s)
          if (*s == x) {
            siblings.erase(s);
            break;
          }
      }
      t.windows.erase(it);
    }
  }
  Queue& q = *w->queue;
  std::lock_guard lock(q.mu);
  for (auto it = q.posted.begin(); it != q.posted.end();) {
    if (it->win && !it->win->alive.load(std::memory_order_relaxed))
      it = q.posted.erase(it);
    else
      ++it;
  }
  q.UpdateSignal();
}

std::vector<std::shared_ptr<Window>> ChildrenOf(Window& w) {
  std::vector<std::shared_ptr<Window>> r;
  Tables& t = T();
  std::shared_lock lock(t.mu);
  for (Window* c : w.children) {
    auto it = t.windows.find(reinterpret_cast<UINT_PTR>(c->hwnd));
    if (it != t.windows.end()) r.push_back(it->second);
  }
  return r;
}

// On the owner thread, w->destroying already set.
void DestroyTree(const std::shared_ptr<Window>& w) {
  struct Guard {
    const std::shared_ptr<Window>& w;
    ~Guard() { Kill(w); }
  } guard{w};
  CallProc(*w, WM_DESTROY, 0, 0);
  for (auto& c : ChildrenOf(*w)) {
    if (c->destroying || !c->alive.load()) continue;
    c->destroying = true;
    DestroyTree(c);
  }
  CallProc(*w, WM_NCDESTROY, 0, 0);
}

// At thread exit: the thread's windows die silently, its queue is closed, waiting senders are released.
void CleanUpThread(const std::shared_ptr<Queue>& q) {
  std::deque<SentMsg> sent;
  {
    std::lock_guard lock(q->mu);
    q->dead = true;
    q->posted.clear();
    sent.swap(q->sent);
    q->quit = false;
    if (q->efd >= 0) {
      close(q->efd);
      q->efd = -1;
    }
    q->signaled = false;
    q->cv.notify_all();
  }
  for (auto& s : sent) Reply(s.reply, false, 0);
  std::vector<std::shared_ptr<Window>> dead;
  {
    Tables& t = T();
    std::unique_lock lock(t.mu);
    for (auto it = t.windows.begin(); it != t.windows.end();) {
      if (it->second->queue == q) {
        Window& x = *it->second;
        x.alive.store(false, std::memory_order_release);
        x.children.clear();
        x.cls->windows--;
        dead.push_back(std::move(it->second));
        it = t.windows.erase(it);
      } else {
        ++it;
      }
    }
    auto th = t.threads.find(q->tid);
    if (th != t.threads.end() && th->second == q) t.threads.erase(th);
  }
  // Window objects are freed here, outside the lock; queued messages that reference them are gone already.
}

// ---- creation: the steps of CreateWindowExA ----

// A parent must be a window of the calling thread that is not on its way out. False (with 1400) otherwise.
bool FindCreationParent(HWND parent, std::shared_ptr<Window>& parentWin) {
  if (!parent) return true;
  parentWin = Find(parent);
  if (!parentWin || parentWin->tid != Me() || parentWin->destroying) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

// The window as far as its class does not matter; it has no handle and no table entry yet.
std::shared_ptr<Window> NewWindow(const std::shared_ptr<Queue>& q, const std::shared_ptr<Window>& parentWin,
                                  DWORD exStyle, DWORD style, LPCSTR windowName, HMENU menu, HINSTANCE instance) {
  auto w = std::make_shared<Window>();
  w->queue = q;
  w->tid = q->tid;
  w->parent = parentWin;
  w->style = static_cast<LONG_PTR>(style);
  w->exStyle = static_cast<LONG_PTR>(exStyle);
  w->instance = reinterpret_cast<LONG_PTR>(instance);
  w->id = (style & WS_CHILD) ? reinterpret_cast<LONG_PTR>(menu) : 0;
  if (windowName) w->name = windowName;
  return w;
}

// Under one hold of the table lock: binds the window to its class (procedure, extra bytes), gives it a handle and
// enters it in the tables and under its parent. False, with the last error, for an unknown class (1407), a full
// window table (1816) or a parent that died meanwhile (1400).
bool EnterWindow(const std::shared_ptr<Window>& w, LPCSTR className) {
  Tables& t = T();
  std::unique_lock lock(t.mu);
  auto c = FindClassLocked(className);
  if (!c) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return false;
  }
  if (t.windows.size() >= kWindowLimit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  if (w->parent && !w->parent->alive.load()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  w->cls = c;
  w->proc = c->wc.lpfnWndProc;
  w->slotCount = static_cast<size_t>(c->wc.cbWndExtra + 3) / 4;
  w->slots = std::make_unique<std::atomic<LONG_PTR>[]>(w->slotCount);
  for (size_t i = 0; i < w->slotCount; ++i) w->slots[i].store(0, std::memory_order_relaxed);
  UINT_PTR h = t.nextHandle;
  t.nextHandle += 2;
  w->hwnd = reinterpret_cast<HWND>(h);
  c->windows++;
  if (w->parent) w->parent->children.push_back(w.get());
  t.windows.emplace(h, w);
  return true;
}

// Sends WM_NCCREATE and WM_CREATE. True when the window survived both; false when it is gone again: refused by
// WM_NCCREATE (0), refused by WM_CREATE (-1: destroyed as DestroyWindow does), or destroyed by its own procedure.
// An exception from the procedure goes on to the caller and takes the window out of the tables first.
bool RunCreation(const std::shared_ptr<Window>& w, CREATESTRUCTA& cs) {
  LPARAM csParam = reinterpret_cast<LPARAM>(&cs);
  struct Guard {  // a procedure that throws leaves no half-made window behind
    const std::shared_ptr<Window>& w;
    bool done = false;
    ~Guard() {
      if (!done) Kill(w);
    }
  } guard{w};
  LRESULT r = CallProc(*w, WM_NCCREATE, 0, csParam);
  if (!w->alive.load()) {
    guard.done = true;
    return false;
  }
  if (r == 0) {
    w->destroying = true;
    CallProc(*w, WM_NCDESTROY, 0, 0);
    return false;  // the guard kills it
  }
  r = CallProc(*w, WM_CREATE, 0, csParam);
  guard.done = true;
  if (!w->alive.load()) return false;
  if (r == -1) {
    if (!w->destroying) {
      w->destroying = true;
      DestroyTree(w);
    }
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

// ---- classes ----

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || wc->cbWndExtra < 0 || wc->cbClsExtra < 0 ||
      wc->cbWndExtra > kMaxExtraBytes || wc->cbClsExtra > kMaxExtraBytes ||
      (!IsAtom(wc->lpszClassName) && !*wc->lpszClassName) || IsAtom(wc->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto c = std::make_shared<WndClass>();
  c->name = wc->lpszClassName;
  c->lowerName = Lower(wc->lpszClassName);
  c->wc = *wc;
  if (wc->lpszMenuName && !IsAtom(wc->lpszMenuName)) {
    c->menuName = wc->lpszMenuName;
    c->hasMenuName = true;
  }
  c->wc.lpszClassName = nullptr;
  Tables& t = T();
  std::unique_lock lock(t.mu);
  if (FindClassLocked(wc->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  // Atoms 0xC000..0xFFFF; a freed one may be given again, as the platform's atom table does.
  for (int tries = 0; tries < 0x4000; ++tries) {
    ATOM a = t.nextAtom;
    t.nextAtom = t.nextAtom == 0xFFFF ? 0xC000 : static_cast<ATOM>(t.nextAtom + 1);
    if (!FindClassLocked(MAKEINTATOM(a))) {
      c->atom = a;
      break;
    }
  }
  if (!c->atom) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  t.classes.push_back(c);
  return c->atom;
}

BOOL GetClassInfoA(HINSTANCE, LPCSTR className, WNDCLASSA* wc) {
  if (!wc) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (!className) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  Tables& t = T();
  std::shared_lock lock(t.mu);
  auto c = FindClassLocked(className);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *wc = c->wc;
  wc->lpszMenuName = c->hasMenuName ? c->menuName.c_str() : c->wc.lpszMenuName;
  wc->lpszClassName = className;
  return TRUE;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!className) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  Tables& t = T();
  std::unique_lock lock(t.mu);
  auto c = FindClassLocked(className);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  for (auto it = t.classes.begin(); it != t.classes.end(); ++it)
    if (*it == c) {
      t.classes.erase(it);
      break;
    }
  return TRUE;
}

// ---- windows ----

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (!className) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  std::shared_ptr<Queue> q = MyQueueShared();
  if (!q) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::shared_ptr<Window> parentWin;
  if (!FindCreationParent(parent, parentWin)) return nullptr;
  auto w = NewWindow(q, parentWin, exStyle, style, windowName, menu, instance);
  if (!EnterWindow(w, className)) return nullptr;
  CREATESTRUCTA cs{};
  cs.lpCreateParams = param;
  cs.hInstance = instance;
  cs.hMenu = menu;
  cs.hwndParent = parent;
  cs.cy = height;
  cs.cx = width;
  cs.y = y;
  cs.x = x;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = windowName;
  cs.lpszClass = className;
  cs.dwExStyle = exStyle;
  return RunCreation(w, cs) ? w->hwnd : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = FindOrFail(hwnd);
  if (!w) return FALSE;
  if (w->tid != Me()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (w->destroying) return TRUE;  // already on its way (a second call from its own WM_DESTROY, say)
  w->destroying = true;
  DestroyTree(w);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) ? TRUE : FALSE; }

HWND GetParent(HWND hwnd) {
  auto w = FindOrFail(hwnd);
  if (!w || !w->parent || !w->parent->alive.load()) return nullptr;
  return w->parent->hwnd;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  auto w = FindOrFail(hwnd);
  if (!w) return 0;
  if (processId) *processId = GetCurrentProcessId();
  return w->tid;
}

namespace {
std::atomic<LONG_PTR>* Slot(Window& w, int index, bool writing) {
  switch (index) {
    case GWL_USERDATA: return &w.userData;
    case GWL_STYLE: return &w.style;
    case GWL_EXSTYLE: return &w.exStyle;
    case GWL_ID: return &w.id;
    case GWL_HINSTANCE: return writing ? nullptr : &w.instance;
    default: break;
  }
  if (index < 0 || index % 4 != 0) return nullptr;
  size_t slot = static_cast<size_t>(index) / 4;
  return slot < w.slotCount ? &w.slots[slot] : nullptr;
}
}  // namespace

LONG_PTR SetWindowLongA(HWND hwnd, int index, LONG_PTR value) {
  auto w = FindOrFail(hwnd);
  if (!w) return 0;
  if (index == GWL_WNDPROC) {
    if (w->tid != Me()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    if (!value) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    return reinterpret_cast<LONG_PTR>(w->proc.exchange(reinterpret_cast<WNDPROC>(value)));
  }
  std::atomic<LONG_PTR>* s = Slot(*w, index, true);
  if (!s) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return s->exchange(value);
}

LONG_PTR GetWindowLongA(HWND hwnd, int index) {
  auto w = FindOrFail(hwnd);
  if (!w) return 0;
  if (index == GWL_WNDPROC) return reinterpret_cast<LONG_PTR>(w->proc.load());
  if (index == GWL_HWNDPARENT) return reinterpret_cast<LONG_PTR>(w->parent ? w->parent->hwnd : nullptr);
  std::atomic<LONG_PTR>* s = Slot(*w, index, false);
  if (!s) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return s->load();
}

// ---- messages ----

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) {
    std::shared_ptr<Queue> q = MyQueueShared();
    if (!q) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return FALSE;
    }
    return PostTo(q, nullptr, nullptr, msg, wParam, lParam, ERROR_INVALID_THREAD_ID);
  }
  auto w = FindOrFail(hwnd);
  if (!w) return FALSE;
  std::shared_ptr<Queue> q = w->queue;
  return PostTo(q, std::move(w), hwnd, msg, wParam, lParam, ERROR_INVALID_WINDOW_HANDLE);
}

BOOL PostMessageOnceA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindOrFail(hwnd);
  if (!w) return FALSE;
  std::shared_ptr<Queue> q = w->queue;
  return PostTo(q, std::move(w), hwnd, msg, wParam, lParam, ERROR_INVALID_WINDOW_HANDLE, true);
}

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  {
    Tables& t = T();
    std::shared_lock lock(t.mu);
    auto it = t.threads.find(threadId);
    if (it != t.threads.end()) q = it->second;
  }
  if (!q) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return PostTo(q, nullptr, nullptr, msg, wParam, lParam, ERROR_INVALID_THREAD_ID);
}

void PostQuitMessage(int exitCode) {
  Queue* q = MyQueue();
  if (!q) return;
  std::lock_guard lock(q->mu);
  q->quit = true;
  q->quitCode = exitCode;
  q->Arrived();
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!msg) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  Filter f;
  std::shared_ptr<Window> holder;
  if (!MakeFilter(hwnd, filterMin, filterMax, f, holder)) return FALSE;
  Queue* q = MyQueue();
  if (!q) return FALSE;
  HandleSent(*q);
  std::lock_guard lock(q->mu);
  return TakeLocked(*q, msg, f, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetLastError(ERROR_NOACCESS);
    return -1;
  }
  Filter f;
  std::shared_ptr<Window> holder;
  if (!MakeFilter(hwnd, filterMin, filterMax, f, holder)) return -1;
  Queue* q = MyQueue();
  if (!q) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return -1;
  }
  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard lock(q->mu);
      seen = q->seq;
    }
    HandleSent(*q);
    std::unique_lock lock(q->mu);
    if (TakeLocked(*q, msg, f, true)) return msg->message == WM_QUIT ? 0 : 1;
    if (f.win && !f.win->alive.load()) {  // the filter window died meanwhile: nothing can ever match
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    q->cv.wait(lock, [&] { return q->seq != seen; });
  }
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: return TRUE;
    default: return FALSE;
  }
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }
  if (!msg->hwnd) return 0;
  auto w = FindOrFail(msg->hwnd);
  if (!w) return 0;
  if (w->tid != Me()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return CallProc(*w, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindOrFail(hwnd);
  if (!w) return 0;
  if (w->tid == Me()) return CallProc(*w, msg, wParam, lParam);

  std::shared_ptr<Queue> mine = MyQueueShared();
  if (!mine) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return 0;
  }
  auto reply = std::make_shared<SendReply>();
  reply->senderQueue = mine;
  {
    Queue& target = *w->queue;
    std::lock_guard lock(target.mu);
    if (target.dead) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    target.sent.push_back(SentMsg{w, msg, wParam, lParam, reply});
    target.Arrived();
  }
  DWORD targetTid = w->tid;
  w.reset();
  bool reported = false;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    HandleSent(*mine);  // a thread that sends to us meanwhile must not wait for us forever
    std::unique_lock lock(mine->mu);
    if (reply->done) break;
    if (!mine->sent.empty()) continue;
    std::uint64_t seen = mine->seq;
    bool woke = mine->cv.wait_for(lock, std::chrono::seconds(1),
                                  [&] { return reply->done || mine->seq != seen || !mine->sent.empty(); });
    if (reply->done) break;
    if (!woke && !reported && std::chrono::steady_clock::now() - start >= std::chrono::seconds(5)) {
      reported = true;
      char line[200];
      std::snprintf(line, sizeof line,
                    "win32: SendMessageA(message 0x%X) from thread %u has waited 5 s for thread %u, "
                    "which does not retrieve its messages",
                    msg, static_cast<unsigned>(Me()), static_cast<unsigned>(targetTid));
      WriteDiagnosticLine(line);
    }
  }
  if (!reply->ok) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return reply->result;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  switch (msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    default: return 0;
  }
}

int QueueEventFd() {
  Queue* q = MyQueue();
  return q ? q->efd : -1;
}

}  // extern "C"
