// Plain POSIX sockets for the socket component's tests: the far ends that count what the component sends and
// send what it receives, independently of the socket library under test. Loopback only. This header names no
// socket type of either library, so test files may include it beside wsock32/winsock.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// How long a test waits for what must happen: generous, for a loaded machine and a sanitizer build. A wait ends
// as soon as the awaited thing happens.
constexpr int kPatienceMs = 60000;

// A UDP socket bound to 127.0.0.1 and a port the system chooses.
class PlainUdp {
 public:
  PlainUdp();
  ~PlainUdp();
  PlainUdp(const PlainUdp&) = delete;
  PlainUdp& operator=(const PlainUdp&) = delete;
  std::uint16_t Port() const { return FPort; }
  // The next datagram, or nothing once timeoutMs pass without one.
  std::optional<Bytes> Receive(int timeoutMs);
  // Every datagram that arrives until none has come for quietMs; the first atLeast may take up to kPatienceMs.
  std::vector<Bytes> ReceiveAll(int quietMs, std::size_t atLeast = 0);
  void SendTo(std::uint16_t port, const Bytes& data);
  void SetReceiveBuffer(int bytes);

 private:
  int FFd = -1;
  std::uint16_t FPort = 0;
};

// A TCP listener on 127.0.0.1 and the one connection it accepts.
class PlainTcpServer {
 public:
  PlainTcpServer();
  ~PlainTcpServer();
  PlainTcpServer(const PlainTcpServer&) = delete;
  PlainTcpServer& operator=(const PlainTcpServer&) = delete;
  std::uint16_t Port() const { return FPort; }
  bool Accept(int timeoutMs);
  // Reads until count bytes have come, the peer closes, or timeoutMs pass without data.
  Bytes Read(std::size_t count, int timeoutMs);
  void Write(const Bytes& data);
  void SetReceiveBuffer(int bytes);
  // Closes the connection with a reset (linger on, 0 seconds).
  void Reset();
  // Closes the connection in order (the peer reads the end of the stream).
  void Close();

 private:
  int FListen = -1;
  int FConn = -1;
  std::uint16_t FPort = 0;
};

// A TCP server on 127.0.0.1, on a thread of its own, that sends every connection's bytes back to it.
class EchoServer {
 public:
  EchoServer();
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;
  std::uint16_t Port() const { return FPort; }

 private:
  void Run();
  int FListen = -1;
  int FStop[2] = {-1, -1};
  std::uint16_t FPort = 0;
  std::thread FThread;
};

// A program started for a test, in a process group of its own so that its children go with it. The
// destructor ends the whole group (SIGTERM, then SIGKILL) and reaps the program.
class TestDaemon {
 public:
  // Argv[0] is the program's path; standard output and error go to LogPath.
  TestDaemon(const std::vector<std::string>& Argv, const std::string& LogPath);
  ~TestDaemon();
  TestDaemon(const TestDaemon&) = delete;
  TestDaemon& operator=(const TestDaemon&) = delete;
  bool Running() const { return FPid > 0; }
  // True once a TCP connection to 127.0.0.1:port succeeds.
  bool WaitForPort(std::uint16_t port, int timeoutMs) const;
  // Ends the group at once (SIGKILL) and reaps it.
  void Kill();

 private:
  int FPid = -1;
};

// A new empty folder under the system's temporary folder, removed with its files by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string FPath;
};

// A port on 127.0.0.1 where nothing listens (bound and closed again).
std::uint16_t UnusedTcpPort();
// The value of an integer SOL_SOCKET option (SO_BROADCAST, SO_SNDBUF ...) of a socket of the library under
// test: its handles carry the system descriptor in their low 32 bits.
int SocketOption(std::uint64_t handle, const char* name);
void SetSocketOption(std::uint64_t handle, const char* name, int value);
// A one-shot signal between processes (a pipe): made before a fork, signalled by one side, awaited by the other.
class ReadyPipe {
 public:
  ReadyPipe();
  ~ReadyPipe();
  void Signal();
  bool Wait(int timeoutMs);

 private:
  int FFds[2] = {-1, -1};
};

// Gives the calling process a UTS namespace of its own with the host name name (root only); false when refused.
bool RenameHostPrivately(const char* name);
// True when this process runs in a network namespace of its own (made by the test main).
bool PrivateNetwork();
// Called by the test main: when allowed (root), moves the process into a new network namespace whose only
// interface is the loopback, so that no lookup can leave the machine.
void EnterPrivateNetwork();
