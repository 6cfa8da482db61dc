#include "plain_tcp.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BenchTcpFeeder::BenchTcpFeeder() {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(FListen, 1);
  socklen_t len = sizeof a;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(a.sin_port);
}

BenchTcpFeeder::~BenchTcpFeeder() {
  if (FWriter.joinable()) FWriter.join();
  if (FConn >= 0) ::close(FConn);
  ::close(FListen);
}

bool BenchTcpFeeder::Accept() {
  pollfd p{FListen, POLLIN, 0};
  if (::poll(&p, 1, 3000) <= 0) return false;
  FConn = ::accept(FListen, nullptr, nullptr);
  return FConn >= 0;
}

void BenchTcpFeeder::Feed(const std::string& data) {
  if (FWriter.joinable()) FWriter.join();
  FWriter = std::thread([this, data] {
    std::size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = ::send(FConn, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  });
}
