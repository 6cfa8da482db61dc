#include "raw_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rawudp {

int OpenBound() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

std::uint16_t Port(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

int SendTo(int fd, const char* data, int len, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return static_cast<int>(sendto(fd, data, static_cast<size_t>(len), 0, reinterpret_cast<sockaddr*>(&a), sizeof a));
}

void Drain(int fd) {
  char buf[2048];
  while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
  }
}

void Close(int fd) { close(fd); }

}  // namespace rawudp
