#include "plain_udp.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

BenchUdp::BenchUdp() {
  FFd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(a.sin_port);
}

BenchUdp::~BenchUdp() { ::close(FFd); }

bool BenchUdp::SendTo(std::uint16_t port, const void* data, std::size_t len) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(FFd, data, len, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) >= 0;
}

void BenchUdp::Drain() {
  char buf[65536];
  while (::recv(FFd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
  }
}
