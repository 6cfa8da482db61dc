// POSIX far ends of the socket component's tests.
#include "plain_net.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

bool gPrivate = false;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

std::uint16_t BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

int OptionName(const char* name) {
  std::string n = name;
  if (n == "SO_BROADCAST") return SO_BROADCAST;
  if (n == "SO_SNDBUF") return SO_SNDBUF;
  if (n == "SO_RCVBUF") return SO_RCVBUF;
  if (n == "SO_REUSEADDR") return SO_REUSEADDR;
  if (n == "SO_KEEPALIVE") return SO_KEEPALIVE;
  throw std::invalid_argument(n);
}

}  // namespace

PlainUdp::PlainUdp() {
  FFd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(0);
  if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("udp bind");
  FPort = BoundPort(FFd);
}

PlainUdp::~PlainUdp() { ::close(FFd); }

std::optional<Bytes> PlainUdp::Receive(int timeoutMs) {
  if (!Readable(FFd, timeoutMs)) return std::nullopt;
  Bytes b(65536);
  ssize_t n = ::recv(FFd, b.data(), b.size(), 0);
  if (n < 0) return std::nullopt;
  b.resize(static_cast<std::size_t>(n));
  return b;
}

std::vector<Bytes> PlainUdp::ReceiveAll(int quietMs, std::size_t atLeast) {
  std::vector<Bytes> all;
  while (auto d = Receive(all.size() < atLeast ? kPatienceMs : quietMs)) all.push_back(std::move(*d));
  return all;
}

void PlainUdp::SendTo(std::uint16_t port, const Bytes& data) {
  sockaddr_in a = Loopback(port);
  ::sendto(FFd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

void PlainUdp::SetReceiveBuffer(int bytes) { ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

PlainTcpServer::PlainTcpServer() {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(0);
  if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 5) != 0)
    throw std::runtime_error("tcp listen");
  FPort = BoundPort(FListen);
}

PlainTcpServer::~PlainTcpServer() {
  if (FConn >= 0) ::close(FConn);
  ::close(FListen);
}

bool PlainTcpServer::Accept(int timeoutMs) {
  if (!Readable(FListen, timeoutMs)) return false;
  FConn = ::accept(FListen, nullptr, nullptr);
  return FConn >= 0;
}

Bytes PlainTcpServer::Read(std::size_t count, int timeoutMs) {
  Bytes all;
  std::uint8_t buf[65536];
  while (all.size() < count && Readable(FConn, timeoutMs)) {
    ssize_t n = ::recv(FConn, buf, std::min(sizeof buf, count - all.size()), 0);
    if (n <= 0) break;
    all.insert(all.end(), buf, buf + n);
  }
  return all;
}

void PlainTcpServer::Write(const Bytes& data) { ::send(FConn, data.data(), data.size(), 0); }

void PlainTcpServer::Reset() {
  linger l{1, 0};
  ::setsockopt(FConn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(FConn);
  FConn = -1;
}

void PlainTcpServer::Close() {
  ::close(FConn);
  FConn = -1;
}

void PlainTcpServer::SetReceiveBuffer(int bytes) {
  ::setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

EchoServer::EchoServer() {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(0);
  if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 8) != 0 ||
      ::pipe(FStop) != 0)
    throw std::runtime_error("echo listen");
  FPort = BoundPort(FListen);
  FThread = std::thread([this] { Run(); });
}

EchoServer::~EchoServer() {
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(FStop[1], &c, 1);
  FThread.join();
  ::close(FListen);
  ::close(FStop[0]);
  ::close(FStop[1]);
}

void EchoServer::Run() {
  std::vector<pollfd> fds{{FStop[0], POLLIN, 0}, {FListen, POLLIN, 0}};
  std::uint8_t buf[65536];
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) <= 0) continue;
    if (fds[0].revents != 0) break;
    if ((fds[1].revents & POLLIN) != 0) {
      int c = ::accept(FListen, nullptr, nullptr);
      if (c >= 0) fds.push_back({c, POLLIN, 0});
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
      if (n > 0 && ::send(fds[i].fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n) continue;
      ::close(fds[i].fd);
      fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
      --i;
    }
  }
  for (std::size_t i = 2; i < fds.size(); ++i) ::close(fds[i].fd);
}

TestDaemon::TestDaemon(const std::vector<std::string>& Argv, const std::string& LogPath) {
  std::vector<char*> args;
  for (const auto& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    int log = ::open(LogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, pid);  // also here, so that no signal can miss the group
  FPid = pid;
}

TestDaemon::~TestDaemon() {
  if (FPid <= 0) return;
  ::kill(-FPid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
      ::kill(-FPid, SIGKILL);  // children that outlive the program
      FPid = -1;
      return;
    }
    ::usleep(10000);
  }
  Kill();
}

void TestDaemon::Kill() {
  if (FPid <= 0) return;
  ::kill(-FPid, SIGKILL);
  ::waitpid(FPid, nullptr, 0);
  FPid = -1;
}

bool TestDaemon::WaitForPort(std::uint16_t port, int timeoutMs) const {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    if (FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == FPid) return false;  // it ended
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (ok) return true;
    ::usleep(10000);
  }
  return false;
}

TempDir::TempDir() {
  std::string pattern = "/tmp/tarvo-sockets-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  FPath = pattern;
}

TempDir::~TempDir() {
  if (DIR* d = ::opendir(FPath.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") ::unlink((FPath + "/" + name).c_str());
    }
    ::closedir(d);
  }
  ::rmdir(FPath.c_str());
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  std::string path = FPath + "/" + name;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("write " + path);
  ::close(fd);
  return path;
}

std::uint16_t UnusedTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::uint16_t port = BoundPort(fd);
  ::close(fd);
  return port;
}

int SocketOption(std::uint64_t handle, const char* name) {
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(static_cast<int>(handle & 0xFFFFFFFFu), SOL_SOCKET, OptionName(name), &value, &len) != 0)
    return -1;
  return value;
}

void SetSocketOption(std::uint64_t handle, const char* name, int value) {
  ::setsockopt(static_cast<int>(handle & 0xFFFFFFFFu), SOL_SOCKET, OptionName(name), &value, sizeof value);
}

ReadyPipe::ReadyPipe() {
  if (::pipe(FFds) != 0) throw std::runtime_error("pipe");
}

ReadyPipe::~ReadyPipe() {
  ::close(FFds[0]);
  ::close(FFds[1]);
}

void ReadyPipe::Signal() {
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(FFds[1], &c, 1);
}

bool ReadyPipe::Wait(int timeoutMs) {
  if (!Readable(FFds[0], timeoutMs)) return false;
  char c = 0;
  return ::read(FFds[0], &c, 1) == 1;
}

bool RenameHostPrivately(const char* name) {
  return unshare(CLONE_NEWUTS) == 0 && sethostname(name, std::strlen(name)) == 0;
}

bool PrivateNetwork() { return gPrivate; }

void EnterPrivateNetwork() {
  if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) return;
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq req{};
  std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(fd, SIOCGIFFLAGS, &req) == 0) {
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    ::ioctl(fd, SIOCSIFFLAGS, &req);
  }
  ::close(fd);
  gPrivate = true;
}
