// The network side of the receiver's tests (net_support.h): plain POSIX sockets only.
#include "net_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

bool gPrivate = false;
std::string gProblem = "the tests did not enter a private network namespace";

bool Fail(std::string& why, const std::string& what) {
  why = what + ": " + std::strerror(errno);
  return false;
}

bool WriteFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Either as root, or as an ordinary user who becomes root of a user namespace of its own.
bool UnshareNetwork(std::string& why) {
  if (::unshare(CLONE_NEWNET) == 0) return true;
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return Fail(why, "unshare of the network namespace");
  WriteFile("/proc/self/setgroups", "deny");
  if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
    return Fail(why, "mapping the user namespace");
  return true;
}

}  // namespace

bool EnterPrivateLoopback(std::string& why) {
  if (!UnshareNetwork(why)) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return Fail(why, "socket");
  ifreq req{};
  std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(fd, SIOCGIFFLAGS, &req) != 0) {
    ::close(fd);
    return Fail(why, "reading loopback's flags");
  }
  req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
  if (::ioctl(fd, SIOCSIFFLAGS, &req) != 0) {
    ::close(fd);
    return Fail(why, "bringing loopback up");
  }
  // The limited broadcast the form announces to goes onto loopback: the test hears it, nothing else can.
  rtentry route{};
  auto* dst = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  dst->sin_family = AF_INET;
  dst->sin_addr.s_addr = INADDR_BROADCAST;
  mask->sin_family = AF_INET;
  mask->sin_addr.s_addr = INADDR_BROADCAST;
  route.rt_flags = RTF_UP | RTF_HOST;
  char device[] = "lo";
  route.rt_dev = device;
  if (::ioctl(fd, SIOCADDRT, &route) != 0) {
    ::close(fd);
    return Fail(why, "routing 255.255.255.255 onto loopback");
  }
  ::close(fd);
  gPrivate = true;
  gProblem.clear();
  return true;
}

bool InPrivateLoopback() { return gPrivate; }
const std::string& PrivateLoopbackProblem() { return gProblem; }

// --- TPeer -------------------------------------------------------------------------------------------------------

TPeer::TPeer(std::uint16_t port) {
  if (!gPrivate) return;  // never a socket on the machine's own network
  FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (FFd < 0) return;
  int on = 1;
  ::setsockopt(FFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  int big = 4 << 20;
  ::setsockopt(FFd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(FFd);
    FFd = -1;
  }
}

TPeer::~TPeer() {
  if (FFd >= 0) ::close(FFd);
}

bool TPeer::SendTo(std::uint16_t port, const void* data, std::size_t size) {
  if (FFd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(FFd, data, size, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) == static_cast<ssize_t>(size);
}

bool TPeer::Receive(std::string& datagram, std::chrono::milliseconds timeout) {
  if (FFd < 0) return false;
  char buffer[65536];
  ssize_t n = -1;
  PumpUntil(
      [&] {
        n = ::recv(FFd, buffer, sizeof buffer, 0);
        return n >= 0;
      },
      timeout);
  if (n < 0) return false;
  datagram.assign(buffer, static_cast<std::size_t>(n));
  return true;
}

// Bytes waiting in the receive queue of this namespace's UDP socket bound to port (from /proc/net/udp).
long QueuedBytes(std::uint16_t port) {
  std::ifstream udp("/proc/net/udp");
  std::string line;
  std::getline(udp, line);
  long total = 0;
  while (std::getline(udp, line)) {
    char local[64] = {}, remote[64] = {}, queues[64] = {};
    unsigned slot = 0, state = 0;
    if (std::sscanf(line.c_str(), " %u: %63s %63s %x %63s", &slot, local, remote, &state, queues) != 5) continue;
    const char* colon = std::strchr(local, ':');
    if (!colon || std::strtoul(colon + 1, nullptr, 16) != port) continue;
    const char* rx = std::strchr(queues, ':');
    if (rx) total += std::strtol(rx + 1, nullptr, 16);
  }
  return total;
}

