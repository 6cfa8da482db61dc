// Names and addresses: the database lookups (per-thread results), the address-text conversions, and the
// asynchronous host lookups, which run on a few worker threads and lay the host entry out in the caller's
// buffer before posting the reply.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "state.h"

namespace wsock32 {

namespace {

// Places records inside one buffer at their alignment. A first pass with Write false measures: the size
// depends on where the buffer starts, since the first record is aligned for the pointers it holds.
struct TArena {
  char* Base;
  std::size_t Used = 0;
  bool Write;

  char* Take(std::size_t size, std::size_t align) {
    auto start = reinterpret_cast<std::uintptr_t>(Base) + Used;
    auto aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    Used = aligned - reinterpret_cast<std::uintptr_t>(Base) + size;
    return Write ? reinterpret_cast<char*>(aligned) : nullptr;
  }
  char* Text(const std::string& s) {
    char* p = Take(s.size() + 1, 1);
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
  }
  char** List(const std::vector<std::string>& items) {
    char** list = reinterpret_cast<char**>(Take((items.size() + 1) * sizeof(char*), alignof(char*)));
    for (std::size_t i = 0; i < items.size(); ++i) {
      char* t = Text(items[i]);
      if (list) list[i] = t;
    }
    if (list) list[items.size()] = nullptr;
    return list;
  }
};

hostent* LayHost(const sys::THostEntry& e, TArena& a) {
  auto* h = reinterpret_cast<hostent*>(a.Take(sizeof(hostent), alignof(hostent)));
  char** addrs = reinterpret_cast<char**>(a.Take((e.Addresses.size() + 1) * sizeof(char*), alignof(char*)));
  for (std::size_t i = 0; i < e.Addresses.size(); ++i) {
    char* p = a.Take(4, 4);
    if (p) {
      std::memcpy(p, &e.Addresses[i], 4);
      addrs[i] = p;
    }
  }
  if (addrs) addrs[e.Addresses.size()] = nullptr;
  char** aliases = a.List(e.Aliases);
  char* name = a.Text(e.Name);
  if (h) {
    h->h_name = name;
    h->h_aliases = aliases;
    h->h_addrtype = AF_INET;
    h->h_length = 4;
    h->h_addr_list = addrs;
  }
  return h;
}

servent* LayServ(const sys::TServEntry& e, TArena& a) {
  auto* s = reinterpret_cast<servent*>(a.Take(sizeof(servent), alignof(servent)));
  char** aliases = a.List(e.Aliases);
  char* name = a.Text(e.Name);
  char* proto = a.Text(e.Proto);
  if (s) {
    s->s_name = name;
    s->s_aliases = aliases;
    s->s_port = static_cast<short>(e.Port);
    s->s_proto = proto;
  }
  return s;
}

protoent* LayProto(const sys::TProtoEntry& e, TArena& a) {
  auto* p = reinterpret_cast<protoent*>(a.Take(sizeof(protoent), alignof(protoent)));
  char** aliases = a.List(e.Aliases);
  char* name = a.Text(e.Name);
  if (p) {
    p->p_name = name;
    p->p_aliases = aliases;
    p->p_proto = static_cast<short>(e.Number);
  }
  return p;
}

// One result buffer per thread and kind: valid until the thread's next call of the same function.
struct TResultBuffer {
  std::unique_ptr<char[]> Data;
  std::size_t Size = 0;

  template <class R, class E>
  R* Lay(const E& entry, R* (*lay)(const E&, TArena&)) {
    // new[] storage is aligned for any record, so measuring at a suitably aligned dummy gives the same size.
    TArena measure{reinterpret_cast<char*>(alignof(std::max_align_t)), 0, false};
    lay(entry, measure);
    if (measure.Used > Size) {
      Data.reset(new char[measure.Used]);
      Size = measure.Used;
    }
    TArena arena{Data.get(), 0, true};
    return lay(entry, arena);
  }
};

thread_local TResultBuffer HostResult;
thread_local TResultBuffer ServResult;
thread_local TResultBuffer ProtoResult;
thread_local char NtoaResult[16];

// ---- Asynchronous lookups ----

struct TRequest {
  std::uint32_t Id = 0;
  HWND Wnd = nullptr;
  UINT Msg = 0;
  bool ByAddr = false;
  std::string Name;
  std::uint32_t Addr = 0;
  char* Buf = nullptr;
  int BufLen = 0;
  bool Cancelled = false;
};
using PRequest = std::shared_ptr<TRequest>;

constexpr std::size_t MaxWorkers = 4;
constexpr std::uint32_t MaxRequestId = 0x7FFFFFFF;  // handles fit in 32 bits, even as signed numbers

// Lives as long as the process: workers still running at exit (no last WSACleanup) never meet destroyed
// objects.
struct TLookups {
  std::mutex Lock;
  std::condition_variable Wake;
  std::deque<PRequest> Queue;
  std::unordered_map<std::uint32_t, PRequest> Active;  // queued or running
  std::vector<std::thread> Workers;
  std::size_t IdleWorkers = 0;
  bool Stopping = false;
  std::uint32_t NextId = 1;
  bool IdsWrapped = false;
};
TLookups& L() {
  static TLookups* l = new TLookups;
  return *l;
}

void Answer(const PRequest& r, const sys::THostEntry& entry, int err, std::unique_lock<std::mutex>& lock) {
  L().Active.erase(r->Id);
  WORD length = 0;
  if (!err) {
    TArena measure{r->Buf, 0, false};
    LayHost(entry, measure);
    if (measure.Used > static_cast<std::size_t>(r->BufLen)) {
      err = WSAENOBUFS;  // the low half then says how much would have been needed
      length = static_cast<WORD>(measure.Used > 0xFFFF ? 0xFFFF : measure.Used);
    } else {
      TArena arena{r->Buf, 0, true};
      LayHost(entry, arena);
      length = static_cast<WORD>(measure.Used > 0xFFFF ? 0xFFFF : measure.Used);
    }
  }
  // The buffer is written and the request no longer active, so a cancel from now on fails: the reply may go
  // out without the lock.
  lock.unlock();
  PostTo(r->Wnd, r->Msg, static_cast<WPARAM>(r->Id), WSAMAKEASYNCREPLY(length, static_cast<WORD>(err)));
  lock.lock();
}

void Worker() {
  TLookups& l = L();
  std::unique_lock lock(l.Lock);
  for (;;) {
    while (!l.Stopping && l.Queue.empty()) {
      ++l.IdleWorkers;
      l.Wake.wait(lock);
      --l.IdleWorkers;
    }
    if (l.Stopping) return;
    PRequest r = l.Queue.front();
    l.Queue.pop_front();
    lock.unlock();
    sys::THostEntry entry;
    int err = r->ByAddr ? sys::HostByAddr(r->Addr, entry) : sys::HostByName(r->Name.c_str(), entry);
    if (!err && entry.Addresses.empty()) err = WSANO_DATA;
    lock.lock();
    if (r->Cancelled || l.Stopping) continue;
    Answer(r, entry, err, lock);
  }
}

HANDLE Start(PRequest r) {
  TLookups& l = L();
  std::lock_guard lock(l.Lock);
  if (!Started()) return SetError(WSANOTINITIALISED), nullptr;
  if (l.Active.size() >= MaxRequestId) return SetError(WSAENOBUFS), nullptr;
  do {
    r->Id = l.NextId;
    if (l.NextId == MaxRequestId) {
      l.NextId = 1;
      l.IdsWrapped = true;
    } else {
      ++l.NextId;
    }
  } while (l.Active.count(r->Id));
  if (l.IdleWorkers == 0 && l.Workers.size() < MaxWorkers) {
    try {
      l.Workers.emplace_back(Worker);
    } catch (const std::system_error&) {
      if (l.Workers.empty()) return SetError(WSAENOBUFS), nullptr;
    }
  }
  l.Active.emplace(r->Id, r);
  l.Queue.push_back(r);
  l.Wake.notify_one();
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(r->Id));
}

bool CheckWindow(HWND wnd) {
  if (!HaveWindowFunctions()) return SetError(WSASYSNOTREADY), false;
  if (!WindowExists(wnd)) return SetError(WSAEINVAL), false;
  return true;
}

}  // namespace

void StopLookups() {
  TLookups& l = L();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(l.Lock);
    l.Stopping = true;
    for (auto& [id, r] : l.Active) r->Cancelled = true;
    l.Active.clear();
    l.Queue.clear();
    workers.swap(l.Workers);
    l.Wake.notify_all();
  }
  // A worker inside the resolver finishes that lookup first; its answer is dropped.
  for (std::thread& t : workers) t.join();
  std::lock_guard lock(l.Lock);
  l.Stopping = false;
}

}  // namespace wsock32

using namespace wsock32;

extern "C" {

struct hostent* wsock32_gethostbyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (!name) return SetError(WSAEFAULT), nullptr;
  sys::THostEntry entry;
  int err = sys::HostByName(name, entry);
  if (!err && entry.Addresses.empty()) err = WSANO_DATA;
  if (err) return SetError(err), nullptr;
  return HostResult.Lay(entry, &LayHost);
}

struct servent* wsock32_getservbyname(const char* name, const char* proto) {
  if (!CheckStarted()) return nullptr;
  if (!name) return SetError(WSAEFAULT), nullptr;
  sys::TServEntry entry;
  if (int err = sys::ServByName(name, proto, entry)) return SetError(err), nullptr;
  return ServResult.Lay(entry, &LayServ);
}

struct protoent* wsock32_getprotobyname(const char* name) {
  if (!CheckStarted()) return nullptr;
  if (!name) return SetError(WSAEFAULT), nullptr;
  sys::TProtoEntry entry;
  if (int err = sys::ProtoByName(name, entry)) return SetError(err), nullptr;
  return ProtoResult.Lay(entry, &LayProto);
}

int wsock32_gethostname(char* name, int namelen) {
  if (!CheckStarted()) return SOCKET_ERROR;
  if (!name || namelen <= 0) return SetError(WSAEFAULT), SOCKET_ERROR;
  std::string host;
  if (int err = sys::HostName(host)) {
    name[0] = '\0';
    return SetError(err), SOCKET_ERROR;
  }
  if (host.size() + 1 > static_cast<std::size_t>(namelen)) {
    // Too small: nothing of the name, but an empty text, so a caller that goes on never reads garbage.
    name[0] = '\0';
    return SetError(WSAEFAULT), SOCKET_ERROR;
  }
  std::memcpy(name, host.c_str(), host.size() + 1);
  return 0;
}

char* wsock32_inet_ntoa(struct in_addr in) {
  std::snprintf(NtoaResult, sizeof NtoaResult, "%u.%u.%u.%u", in.S_un.S_un_b.s_b1, in.S_un.S_un_b.s_b2,
                in.S_un.S_un_b.s_b3, in.S_un.S_un_b.s_b4);
  return NtoaResult;
}

ULONG wsock32_inet_addr(const char* cp) {
  if (!cp) return SetError(WSAEFAULT), INADDR_NONE;
  std::uint32_t addr;
  return sys::ParseAddress(cp, addr) ? addr : INADDR_NONE;
}

HANDLE wsock32_WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen) {
  if (!CheckStarted()) return nullptr;
  if (!name || !buf) return SetError(WSAEFAULT), nullptr;
  if (buflen < 0) return SetError(WSAEINVAL), nullptr;
  if (!CheckWindow(hWnd)) return nullptr;
  auto r = std::make_shared<TRequest>();
  r->Wnd = hWnd;
  r->Msg = wMsg;
  r->Name = name;
  r->Buf = buf;
  r->BufLen = buflen;
  return Start(std::move(r));
}

HANDLE wsock32_WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char* addr, int len, int type, char* buf,
                                     int buflen) {
  if (!CheckStarted()) return nullptr;
  if (!addr || !buf || len < 4) return SetError(WSAEFAULT), nullptr;
  if (type != AF_INET) return SetError(WSAEAFNOSUPPORT), nullptr;
  if (len != 4 || buflen < 0) return SetError(WSAEINVAL), nullptr;
  if (!CheckWindow(hWnd)) return nullptr;
  auto r = std::make_shared<TRequest>();
  r->Wnd = hWnd;
  r->Msg = wMsg;
  r->ByAddr = true;
  std::memcpy(&r->Addr, addr, 4);
  r->Buf = buf;
  r->BufLen = buflen;
  return Start(std::move(r));
}

int wsock32_WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
  if (!CheckStarted()) return SOCKET_ERROR;
  auto value = reinterpret_cast<std::uintptr_t>(hAsyncTaskHandle);
  if (value == 0 || value > MaxRequestId) return SetError(WSAEINVAL), SOCKET_ERROR;
  auto id = static_cast<std::uint32_t>(value);
  TLookups& l = L();
  std::lock_guard lock(l.Lock);
  auto it = l.Active.find(id);
  if (it == l.Active.end()) {
    // A handle this layer gave out whose request has ended, or one it never gave.
    bool issued = l.IdsWrapped || id < l.NextId;
    return SetError(issued ? WSAEALREADY : WSAEINVAL), SOCKET_ERROR;
  }
  it->second->Cancelled = true;
  for (auto q = l.Queue.begin(); q != l.Queue.end(); ++q)
    if (*q == it->second) {
      l.Queue.erase(q);
      break;
    }
  l.Active.erase(it);
  return 0;
}

}  // extern "C"
