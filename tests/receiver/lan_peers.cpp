// The receiver's peers on the simulated LAN (lan_peers.h).
#include "lan_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "net_support.h"

namespace {

bool SendTo(int fd, const char* address, std::uint16_t port, const std::string& datagram) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &to.sin_addr);
  return ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(datagram.size());
}

}  // namespace

int AnswerAnnouncement(const std::string& ownAddress) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kAnnouncePort);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return 2;
  pollfd p{fd, POLLIN, 0};
  char buffer[512];
  int result = 4;
  while (result == 4 && ::poll(&p, 1, 30000) == 1) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (text.rfind("login_mp4_cw", 0) == 0)
      result = SendTo(fd, text.substr(12).c_str(), kAnswerPort, "server/" + ownAddress) ? 0 : 3;
  }
  ::close(fd);
  return result;
}

bool BroadcastFrames(const std::vector<TDatagrams>& frames, int pauseMs) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  int on = 1;
  bool sent = ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
  for (const TDatagrams& frame : frames) {
    for (const std::string& d : frame) sent = sent && SendTo(fd, "255.255.255.255", kFramePort, d);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  ::close(fd);
  return sent;
}
