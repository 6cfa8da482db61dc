// The Linux side of the socket layer: POSIX socket calls, the resolver and errno translation, behind an
// interface that uses only plain integers and byte buffers. It exists because the Winsock records and the
// system's socket headers declare the same names and can never meet in one translation unit: the files that
// include wsock32/winsock.h call the system only through here.
//
// Conventions: a call returns a value >= 0 on success and the negated Winsock error number on failure.
// Addresses are 16-byte IPv4 socket address records (family 2, port and address in network byte order), whose
// layout is the same on both sides. Flags of send/recv have the same values on both sides (OOB 1, PEEK 2,
// DONTROUTE 4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wsock32::sys {

constexpr int AddrSize = 16;

// errno → Winsock error number (every code of the error table that Linux can produce; others become
// WSAENETDOWN, the generic failure of the network subsystem, and the first translation of each such errno
// writes a diagnostic line that names it). Thread-safe.
int WsaFromErrno(int err);

int Socket(bool datagram);  // an IPv4 socket, close-on-exec; stream sockets get address reuse
void Close(int fd);
int SetNonBlocking(int fd, bool on);
int Bind(int fd, const void* addr);
int Connect(int fd, const void* addr);  // an operation under way gives -WSAEWOULDBLOCK
int Listen(int fd, int backlog);
int Accept(int fd, void* addr, bool nonBlocking);  // the new descriptor; addr may be null
int ShutdownSend(int fd);
int ShutdownBoth(int fd);                                               // wakes calls blocked on the descriptor
int Send(int fd, const void* buf, int len, int flags, const void* to);  // to may be null
// Receives into buf; a datagram longer than len fills buf, is dropped and sets truncated.
int Receive(int fd, void* buf, int len, int flags, void* from, bool& truncated);
int Pending(int fd);  // bytes waiting (for a datagram socket: the next datagram's size)
int GetSockName(int fd, void* addr);
int GetPeerName(int fd, void* addr);
int TakeSocketError(int fd);
bool ConnectEnded(int fd);  // a connect under way has ended (either way); never waits  // SO_ERROR as a Winsock number
                            // (0 none); reading it clears it

enum class TOption { ReuseAddr, KeepAlive, DontRoute, Broadcast, OobInline, SndBuf, RcvBuf, NoDelay };
int SetOption(int fd, TOption option, int value);
int SetLinger(int fd, bool on, int seconds);

struct THostEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  std::vector<std::uint32_t> Addresses;  // network byte order, in the host database's order
};
struct TServEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  std::uint16_t Port = 0;  // network byte order
  std::string Proto;
};
struct TProtoEntry {
  std::string Name;
  std::vector<std::string> Aliases;
  int Number = 0;
};

// Lookups give 0 or a positive Winsock error (WSAHOST_NOT_FOUND ... WSANO_DATA, or a translated errno).
int HostByName(const char* name, THostEntry& entry);
int HostByAddr(std::uint32_t addr, THostEntry& entry);
int ServByName(const char* name, const char* proto, TServEntry& entry);
int ProtoByName(const char* name, TProtoEntry& entry);
int HostName(std::string& name);
bool ParseAddress(const char* text, std::uint32_t& addr);  // dotted forms as inet_aton takes them

}  // namespace wsock32::sys
