// Plain POSIX TCP for the line-mode benchmark: a listener on 127.0.0.1 whose one accepted connection is fed from
// a thread of its own. Names no socket type, so it can sit beside wsock32/winsock.h.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

class BenchTcpFeeder {
 public:
  BenchTcpFeeder();
  ~BenchTcpFeeder();
  std::uint16_t Port() const { return FPort; }
  bool Accept();
  // Sends data once on a thread of its own; the next Feed or the destructor waits for it.
  void Feed(const std::string& data);

 private:
  int FListen = -1;
  int FConn = -1;
  std::uint16_t FPort = 0;
  std::thread FWriter;
};
