// Socket properties (Addr, Port, Proto, LocalAddr, LocalPort, SendFlags, the peer's and the local name) and the
// resolution of host, port and protocol texts.
#include <cstring>

#include "sockets/WSocket.h"

namespace ws = WSocket;

namespace {

// Removes every character of code 0 to 32 from both ends.
std::string TrimControls(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  return s.substr(begin, end - begin);
}

// The one rule of the Addr, Port and Proto setters. False when the new value is refused.
bool StoreAssigned(TCustomWSocket& self, std::string& text, bool& assigned, bool& resolved,
                   const std::string& value, const char* refusal) {
  if (assigned && value == text) return true;
  if (self.State() != wsClosed) {
    self.RaiseException(refusal);
    return false;
  }
  text = TrimControls(value);
  if (text.empty()) {
    assigned = false;
  } else {
    resolved = false;
    assigned = true;
  }
  return true;
}

}  // namespace

// ---- Setters and getters ---------------------------------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& InAddr) {
  StoreAssigned(*this, FAddr, AddrAssigned, AddrResolved, InAddr, "Cannot change Addr if not closed");
}

void TCustomWSocket::SetPort(const std::string& sPort) {
  StoreAssigned(*this, FPort, PortAssigned, PortResolved, sPort, "Cannot change Port if not closed");
}

void TCustomWSocket::SetProto(const std::string& sProto) {
  StoreAssigned(*this, FProto, ProtoAssigned, ProtoResolved, sProto, "Cannot change Proto if not closed");
}

void TCustomWSocket::SetLocalPort(const std::string& sLocalPort) {
  if (FState != wsClosed) {
    RaiseException("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPort = sLocalPort;
  LocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& sLocalAddr) {
  if (FState != wsClosed) {
    RaiseException("Cannot change LocalAddr if not closed");
    return;
  }
  std::string value = sLocalAddr.empty() ? std::string("0.0.0.0") : sLocalAddr;
  ULONG address = ws::inet_addr(value.c_str());
  if (address == INADDR_NONE) {
    RaiseException("SetLocalAddr(): Invalid IP address");
    return;
  }
  in_addr in{};
  in.s_addr = address;
  const char* text = ws::inet_ntoa(in);
  FLocalAddr = text != nullptr ? text : value;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags newValue) {
  switch (newValue) {
    case wsSendNormal:
      SendFlagsValue = 0;
      break;
    case wsSendUrgent:
      SendFlagsValue = MSG_OOB;
      break;
    default:
      RaiseException("Invalid SendFlags");
  }
}

TSocketSendFlags TCustomWSocket::GetSendFlags() {
  switch (SendFlagsValue) {
    case 0:
      return wsSendNormal;
    case MSG_OOB:
      return wsSendUrgent;
    default:
      RaiseException("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

std::string TCustomWSocket::GetPeerAddr() {
  std::string result = "error";
  if (FState == wsConnected) {
    sockaddr_in peer{};
    int len = sizeof peer;
    if (ws::getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
      const char* text = ws::inet_ntoa(peer.sin_addr);
      if (text != nullptr) result = text;
    } else {
      RaiseSocketError("GetPeerName");
    }
  }
  return result;
}

std::string TCustomWSocket::GetPeerPort() {
  std::string result = "error";
  if (FState == wsConnected) {
    sockaddr_in peer{};
    int len = sizeof peer;
    if (ws::getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&peer), &len) == 0)
      result = std::to_string(ws::ntohs(peer.sin_port));
    else
      RaiseSocketError("GetPeerPort");
  }
  return result;
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name, int NameLen) {
  if (FState != wsConnected) return -1;
  return ws::getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&Name), &NameLen);
}

int TCustomWSocket::GetSockName(sockaddr_in& saddr, int& saddrlen) {
  return ws::getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&saddr), &saddrlen);
}

std::string TCustomWSocket::GetLocalPortText() {
  std::string result = "error";
  TSocketState state = FState;
  if (state == wsBound || state == wsConnected || state == wsListening) {
    sockaddr_in local{};
    int len = sizeof local;
    if (ws::getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&local), &len) == 0)
      result = Format("%d", {std::int64_t{ws::ntohs(local.sin_port)}});
  }
  return result;
}

// ---- Resolution routines --------------------------------------------------------------------------------------

bool IsDigit(char Ch) {
  return Ch >= '0' && Ch <= '9';
}

std::int32_t ParseLeadingInt(const std::string& S) {
  std::size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  std::uint32_t value = 0;  // wraps rather than overflows
  while (i < S.size() && IsDigit(S[i])) {
    value = value * 10u + static_cast<std::uint32_t>(S[i] - '0');
    ++i;
  }
  return static_cast<std::int32_t>(value);
}

bool IsDottedIP(const std::string& S) {
  std::size_t i = 0;
  const std::size_t n = S.size();
  while (i < n && S[i] == ' ') ++i;
  if (i >= n || S[i] == '.') return false;
  int dots = 0;
  std::uint32_t group = 0;
  for (; i < n; ++i) {
    char c = S[i];
    if (IsDigit(c)) {
      // Any number of digits may come; past 255 the value only needs to stay too large.
      group = group * 10u + static_cast<std::uint32_t>(c - '0');
      if (group > 255) group = 256;
    } else if (c == '.') {
      if (++dots > 3 || group > 255 || i + 1 >= n || !IsDigit(S[i + 1])) return false;
      group = 0;
    } else {
      for (; i < n; ++i)
        if (S[i] != ' ') return false;
      break;
    }
  }
  return dots == 3 && group <= 255;
}

ULONG WSocketResolveHost(const std::string& InAddr) {
  if (InAddr.empty() || InAddr.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
  std::string host = TrimControls(InAddr);
  if (IsDottedIP(InAddr)) {
    ULONG address = ws::inet_addr(host.c_str());
    if (address == INADDR_NONE) {
      if (host == "255.255.255.255") return INADDR_BROADCAST;
      throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
    }
    return address;
  }
  hostent* phe = ws::gethostbyname(host.c_str());
  // An entry without any address would leave nothing to return; it counts as no entry.
  if (phe == nullptr || phe->h_addr_list == nullptr || phe->h_addr_list[0] == nullptr)
    throw ESocketException("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                           {InAddr, std::int64_t{ws::WSAGetLastError()}});
  ULONG address = 0;
  std::memcpy(&address, phe->h_addr_list[0], sizeof address);
  return address;
}

u_short WSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (IsDigit(Port[0])) return static_cast<u_short>(ParseLeadingInt(Port) & 0xFFFF);
  std::string port = TrimControls(Port);
  std::string proto = TrimControls(Proto);
  servent* pse = ws::getservbyname(port.c_str(), proto.empty() ? nullptr : proto.c_str());
  if (pse == nullptr)
    throw ESocketException("WSocketResolvePort: Cannot convert port '%s', Error #%d",
                           {Port, std::int64_t{ws::WSAGetLastError()}});
  return ws::ntohs(static_cast<u_short>(pse->s_port));
}

std::int32_t WSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string proto = TrimControls(Proto);
  if (!proto.empty() && IsDigit(proto[0])) return ParseLeadingInt(proto);
  protoent* ppe = ws::getprotobyname(proto.c_str());
  if (ppe == nullptr)
    throw ESocketException("WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                           {proto, std::int64_t{ws::WSAGetLastError()}});
  return ppe->p_proto;
}
