// Plain UDP sockets in the receivers' place, for the sender's tests: a sink that gathers every datagram of a
// port with its source and destination, one-shot sends as a receiver's announcements go out, and a port held
// by another program. POSIX sockets only: this header does not mix with the platform's socket declarations.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sender_testing {

struct TDatagram {
  std::string Bytes;
  std::string From;    // source address
  std::uint16_t FromPort = 0;
  std::string To;      // destination address of the packet (255.255.255.255 for a broadcast)
  std::chrono::steady_clock::time_point Arrived;
};

// A UDP socket bound to 0.0.0.0:port that gathers every datagram on a thread of its own.
class TUdpSink {
 public:
  explicit TUdpSink(std::uint16_t port);
  ~TUdpSink();
  TUdpSink(const TUdpSink&) = delete;
  TUdpSink& operator=(const TUdpSink&) = delete;

  std::vector<TDatagram> Datagrams() const;
  std::size_t Count() const;
  // Waits until at least n datagrams arrived; false after timeoutMs (by default a minute: generous, for a loaded
  // machine and a sanitizer build).
  bool WaitFor(std::size_t n, int timeoutMs = 60000) const;
  // Waits until nothing has arrived for quietMs (at most timeoutMs in all).
  void WaitQuiet(int quietMs, int timeoutMs = 10000) const;
  void Clear();

 private:
  void Loop();
  int FSocket = -1;
  std::atomic<bool> FStop{false};
  mutable std::mutex FLock;
  mutable std::condition_variable FArrived;
  std::vector<TDatagram> FDatagrams;
  std::thread FThread;
};

// One datagram, sent as a receiver sends its announcements (broadcast allowed).
void SendDatagram(const std::string& bytes, std::uint16_t port, const std::string& to = "255.255.255.255");

// A UDP socket bound to 0.0.0.0:port and nothing else, as another program holding the port.
class TPortHolder {
 public:
  explicit TPortHolder(std::uint16_t port);
  ~TPortHolder();
  TPortHolder(const TPortHolder&) = delete;
  TPortHolder& operator=(const TPortHolder&) = delete;

 private:
  int FSocket = -1;
};

// Sets a socket's send buffer (the kernel's minimum when bytes is smaller); false on failure.
bool SetSendBuffer(int fd, int bytes);

}  // namespace sender_testing
