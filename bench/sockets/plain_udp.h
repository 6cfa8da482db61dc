// Plain POSIX UDP for the socket benchmarks: the raw sendto baseline and the far end that feeds the receiver.
// Names no socket type, so it can sit beside wsock32/winsock.h.
#pragma once

#include <cstddef>
#include <cstdint>

// A socket bound to 127.0.0.1 and a port the system chooses.
class BenchUdp {
 public:
  BenchUdp();
  ~BenchUdp();
  std::uint16_t Port() const { return FPort; }
  // One sendto of len bytes to 127.0.0.1:port; false when the system refused it.
  bool SendTo(std::uint16_t port, const void* data, std::size_t len);
  // Discards whatever is waiting.
  void Drain();

 private:
  int FFd = -1;
  std::uint16_t FPort = 0;
};
