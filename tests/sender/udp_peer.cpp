// Plain UDP sockets for the sender's tests (udp_peer.h).
#include "udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace sender_testing {

namespace {
using Clock = std::chrono::steady_clock;

int BoundSocket(std::uint16_t port) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int e = errno;
    ::close(s);
    throw std::runtime_error("bind to port " + std::to_string(port) + ": " + std::strerror(e));
  }
  return s;
}
}  // namespace

// ---- TUdpSink ------------------------------------------------------------------------------------------------------

TUdpSink::TUdpSink(std::uint16_t port) : FSocket(BoundSocket(port)) {
  int on = 1;
  ::setsockopt(FSocket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  // Whole frames arrive in bursts; none may be lost on the way into this socket.
  int size = 16 << 20;
  if (::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  FThread = std::thread([this] { Loop(); });
}

TUdpSink::~TUdpSink() {
  FStop = true;
  FThread.join();
  ::close(FSocket);
}

void TUdpSink::Loop() {
  std::vector<char> buffer(65536);
  while (!FStop) {
    pollfd p{FSocket, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    sockaddr_in from{};
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[256];
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(FSocket, &m, MSG_DONTWAIT);
    if (n < 0) continue;
    TDatagram d;
    d.Arrived = Clock::now();
    d.Bytes.assign(buffer.data(), static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN];
    d.From = ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    d.FromPort = ntohs(from.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        d.To = ::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text);
      }
    }
    {
      std::lock_guard<std::mutex> guard(FLock);
      FDatagrams.push_back(std::move(d));
    }
    FArrived.notify_all();
  }
}

std::vector<TDatagram> TUdpSink::Datagrams() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDatagrams;
}

std::size_t TUdpSink::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDatagrams.size();
}

bool TUdpSink::WaitFor(std::size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(FLock);
  return FArrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return FDatagrams.size() >= n; });
}

void TUdpSink::WaitQuiet(int quietMs, int timeoutMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> guard(FLock);
  for (;;) {
    std::size_t before = FDatagrams.size();
    FArrived.wait_for(guard, std::chrono::milliseconds(quietMs), [&] { return FDatagrams.size() != before; });
    if (FDatagrams.size() == before || Clock::now() >= deadline) return;
  }
}

void TUdpSink::Clear() {
  std::lock_guard<std::mutex> guard(FLock);
  FDatagrams.clear();
}

void SendDatagram(const std::string& bytes, std::uint16_t port, const std::string& to) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, to.c_str(), &a.sin_addr);
  ssize_t n = ::sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int e = errno;
  ::close(s);
  if (n != static_cast<ssize_t>(bytes.size())) throw std::runtime_error(std::string("sendto: ") + std::strerror(e));
}

TPortHolder::TPortHolder(std::uint16_t port) : FSocket(BoundSocket(port)) {}

TPortHolder::~TPortHolder() { ::close(FSocket); }

bool SetSendBuffer(int fd, int bytes) { return ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0; }

}  // namespace sender_testing
