// Opening sockets: Connect, Listen, Accept, Dup, and their helpers BindSocket and ApplyLinger.
#include "sockets/WSocket.h"

namespace ws = WSocket;

namespace {

constexpr LONG kConnectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr LONG kListenMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;                // 43
constexpr LONG kDupMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                  // 51

int SetIntOption(SOCKET s, int name, std::int32_t value) {
  return ws::setsockopt(s, SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

// Connect in four steps: the refusals, the resolution of the target, the opening of the socket with its options,
// and the start of the connection (at once for a datagram socket, under way for a stream).
void TCustomWSocket::Connect() {
  if (!ConnectSettingsReady() || !ResolveTarget("connect", true) || !OpenSocket("Connect (socket)", true)) return;
  ChangeState(wsOpened);
  if (SetConnectOptions()) StartConnect();
}

bool TCustomWSocket::ConnectSettingsReady() {
  const char* refusal = SocketHandle != INVALID_SOCKET && FState != wsClosed ? "Connect: Socket already in use"
                        : !PortAssigned                                      ? "Connect: No Port Specified"
                        : !AddrAssigned                                      ? "Connect: No IP Address Specified"
                        : !ProtoAssigned                                     ? "Connect: No Protocol Specified"
                                                                             : nullptr;
  if (refusal != nullptr) RaiseException(refusal);
  return refusal == nullptr;
}

bool TCustomWSocket::ResolveTarget(const std::string& Operation, bool WithLocalPort) {
  try {
    if (!ProtoResolved) {
      ProtoNum = WSocketResolveProto(FProto);
      SocketType = ProtoNum == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
      ProtoResolved = true;
    }
    if (!PortResolved) {
      PortNum = WSocketResolvePort(FPort, FProto);
      SockAddr.sin_port = ws::htons(static_cast<u_short>(PortNum));
      PortResolved = true;
    }
    if (WithLocalPort && !LocalPortResolved) {
      LocalPortNum = WSocketResolvePort(FLocalPort, FProto);
      LocalPortResolved = true;
    }
    if (!AddrResolved) {
      SockAddr.sin_addr.s_addr = WSocketResolveHost(FAddr);
      AddrResolved = true;
    }
  } catch (Exception& E) {
    RaiseException(Operation + ": " + E.Message());
    return false;
  }
  return true;
}

bool TCustomWSocket::OpenSocket(const char* SockFunc, bool Connecting) {
  ClearSendQueue();
  const SOCKET handle = ws::socket(AddressFamily, SocketType, ProtoNum);
  if (handle == INVALID_SOCKET) {
    RaiseSocketError(SockFunc);
    return false;
  }
  BeginSession(handle, Connecting);
  return true;
}

bool TCustomWSocket::SetConnectOptions() {
  if (SocketType == SOCK_DGRAM) {
    BindSocket();
    if (SockAddr.sin_addr.s_addr == INADDR_BROADCAST && SetIntOption(SocketHandle, SO_BROADCAST, 1) != 0) {
      RaiseSocketError("setsockopt(SO_BROADCAST)");
      return false;
    }
    return true;
  }
  if (SetIntOption(SocketHandle, SO_REUSEADDR, -1) != 0) {
    RaiseSocketError("setsockopt(SO_REUSEADDR)");
    return false;
  }
  ApplyLinger();
  if (SetIntOption(SocketHandle, SO_KEEPALIVE, -1) != 0) {
    RaiseSocketError("setsockopt(SO_KEEPALIVE)");
    return false;
  }
  if (LocalPortNum != 0 || FLocalAddr != "0.0.0.0") BindSocket();
  return true;
}

void TCustomWSocket::StartConnect() {
  SelectMask = kConnectMask;
  if (ws::WSAAsyncSelect(SocketHandle, NotifyWindow, WM_ASYNCSELECT, kConnectMask) != 0) {
    RaiseSocketError("WSAAsyncSelect");
    return;
  }
  if (SocketType == SOCK_DGRAM) {
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
    return;
  }
  if (ws::connect(SocketHandle, reinterpret_cast<const sockaddr*>(&SockAddr), sizeof SockAddr) == 0 ||
      (FLastError = ws::WSAGetLastError()) == WSAEWOULDBLOCK) {
    ChangeState(wsConnecting);
    return;
  }
  RaiseSocketError("Connect");
}

void TCustomWSocket::Listen() {
  // A second socket over an open one would be left without an owner: the open one must be closed first.
  if (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
    RaiseException("Listen: Socket already in use");
    return;
  }
  const char* missing = !PortAssigned    ? "listen: port not assigned"
                        : !ProtoAssigned ? "listen: protocol not assigned"
                        : !AddrAssigned  ? "listen: address not assigned"
                                         : nullptr;
  if (missing != nullptr) {
    ws::WSASetLastError(WSAEINVAL);
    RaiseSocketError(missing);
    return;
  }
  if (!ResolveTarget("listen", false) || !OpenSocket("socket", false)) return;
  if (ws::bind(SocketHandle, reinterpret_cast<const sockaddr*>(&SockAddr), sizeof SockAddr) != 0) {
    // The new socket is closed also when the report raises.
    struct TDrop {
      TCustomWSocket& Self;
      ~TDrop() { ws::closesocket(Self.EndSession()); }
    } drop{*this};
    RaiseSocketError("Bind");
    return;
  }
  ChangeState(wsBound);
  if (SocketType == SOCK_DGRAM) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  } else {
    if (ws::listen(SocketHandle, 5) != 0) {
      RaiseSocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  SelectMask = kListenMask;
  if (ws::WSAAsyncSelect(SocketHandle, NotifyWindow, WM_ASYNCSELECT, kListenMask) != 0)
    RaiseSocketError("WSAASyncSelect");
}

SOCKET TCustomWSocket::Accept() {
  if (FState != wsListening) {
    ws::WSASetLastError(WSAEINVAL);
    RaiseSocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  int len = sizeof SockAddr;
  SOCKET h = ws::accept(SocketHandle, reinterpret_cast<sockaddr*>(&SockAddr), &len);
  if (h == INVALID_SOCKET) {
    RaiseSocketError("Accept");
    return INVALID_SOCKET;
  }
  return h;
}

void TCustomWSocket::Dup(SOCKET NewHSocket) {
  if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
    ws::WSASetLastError(WSAEINVAL);
    RaiseSocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    int r = ws::closesocket(EndSession());
    if (r != 0) {
      RaiseSocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  BeginSession(NewHSocket, false, false);
  ApplyLinger();
  SelectMask = kDupMask;
  if (ws::WSAAsyncSelect(SocketHandle, NotifyWindow, WM_ASYNCSELECT, kDupMask) != 0) {
    RaiseSocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

void TCustomWSocket::BindSocket() {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = ws::htons(static_cast<u_short>(LocalPortNum));
  local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
  if (ws::bind(SocketHandle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    RaiseExceptionFmt("winsock.bind failed, error #%d", {std::int64_t{ws::WSAGetLastError()}});
    return;
  }
  sockaddr_in bound{};
  int len = sizeof bound;
  if (ws::getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
    RaiseExceptionFmt("winsock.getsockname failed, error #%d", {std::int64_t{ws::WSAGetLastError()}});
    return;
  }
  LocalPortNum = ws::ntohs(bound.sin_port);
  FLocalPort = std::to_string(LocalPortNum);
}

void TCustomWSocket::ApplyLinger() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (SocketHandle == INVALID_SOCKET) {
    RaiseException("Cannot set linger option at this time");
    return;
  }
  linger option{};
  option.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
  option.l_linger = static_cast<u_short>(FLingerTimeout & 0xFFFF);
  if (ws::setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option) != 0)
    RaiseSocketError("setsockopt(SO_LINGER)");
}
