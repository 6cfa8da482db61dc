#include "kernel_view.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace wstest {

namespace {
int Descriptor(std::uint64_t handle) { return static_cast<int>(handle & 0xFFFFFFFFu); }
}  // namespace

int KernelOption(std::uint64_t handle, TKernelOption option) {
  int level = SOL_SOCKET, name = 0;
  switch (option) {
    case TKernelOption::ReuseAddr: name = SO_REUSEADDR; break;
    case TKernelOption::KeepAlive: name = SO_KEEPALIVE; break;
    case TKernelOption::DontRoute: name = SO_DONTROUTE; break;
    case TKernelOption::Broadcast: name = SO_BROADCAST; break;
    case TKernelOption::OobInline: name = SO_OOBINLINE; break;
    case TKernelOption::RcvBuf: name = SO_RCVBUF; break;
    case TKernelOption::SndBuf: name = SO_SNDBUF; break;
    case TKernelOption::NoDelay: level = IPPROTO_TCP; name = TCP_NODELAY; break;
  }
  int value = 0;
  socklen_t len = sizeof value;
  return getsockopt(Descriptor(handle), level, name, &value, &len) == 0 ? value : -1;
}

bool KernelLinger(std::uint64_t handle, int& onoff, int& seconds) {
  ::linger l{};
  socklen_t len = sizeof l;
  if (getsockopt(Descriptor(handle), SOL_SOCKET, SO_LINGER, &l, &len) != 0) return false;
  onoff = l.l_onoff;
  seconds = l.l_linger;
  return true;
}

}  // namespace wstest
