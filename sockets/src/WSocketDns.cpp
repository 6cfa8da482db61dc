// Asynchronous name and address lookups: the request goes to the socket library, whose answer arrives as a window
// message on the object's hidden window and fires OnDnsLookupDone.
#include <algorithm>
#include <cstring>

#include "sockets/WSocket.h"

namespace ws = WSocket;

void HostEntToList(const hostent* HostEnt, TStrings* ToList) {
  if (HostEnt == nullptr || HostEnt->h_addr_list == nullptr) return;
  for (char** p = HostEnt->h_addr_list; *p != nullptr; ++p) {
    in_addr in{};
    std::memcpy(&in, *p, sizeof in);
    const char* text = ws::inet_ntoa(in);
    ToList->Add(text != nullptr ? text : "");
  }
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (DnsLookupHandle != nullptr) {
    ws::WSACancelAsyncRequest(DnsLookupHandle);
    DnsLookupHandle = nullptr;
  }
  FDnsResult.clear();
  FDnsResultList->Clear();
  ULONG address = ws::inet_addr(HostName.c_str());
  if (address != INADDR_NONE) {
    in_addr in{};
    in.s_addr = address;
    const char* text = ws::inet_ntoa(in);
    FDnsResult = text != nullptr ? text : "";
    TriggerDnsLookupDone(0);
    return;
  }
  DnsReplySaved = false;
  DnsLookupHandle = ws::WSAAsyncGetHostByName(NotifyWindow, WM_ASYNCGETHOSTBYNAME, HostName.c_str(),
                                              DnsHostBuffer, sizeof DnsHostBuffer);
  if (DnsLookupHandle == nullptr) {
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", {HostName, std::int64_t{ws::WSAGetLastError()}});
    return;
  }
  if (DnsReplySaved) {
    DnsReplySaved = false;
    HandleHostByNameMessage(SavedDnsReply);
  }
}

void TCustomWSocket::HandleHostByNameMessage(TMessage& Msg) {
  if (DnsLookupHandle == nullptr) {
    SavedDnsReply = Msg;
    DnsReplySaved = true;
    return;
  }
  if (Msg.WParam != reinterpret_cast<WPARAM>(DnsLookupHandle)) return;
  DnsLookupHandle = nullptr;
  WORD error = WSAGETASYNCERROR(Msg.LParam);
  if (error == 0) {
    HostEntToList(reinterpret_cast<const hostent*>(DnsHostBuffer), FDnsResultList);
    // An answer without addresses leaves the result empty.
    if (FDnsResultList->Count() > 0) FDnsResult = FDnsResultList->Strings(0);
  }
  TriggerDnsLookupDone(error);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (HostAddr.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (DnsLookupHandle != nullptr) ws::WSACancelAsyncRequest(DnsLookupHandle);
  FDnsResult.clear();
  FDnsResultList->Clear();
  // A longer text is cut to what the 257-byte buffer holds; it cannot be an address anyway.
  char szAddr[257] = {};
  std::memcpy(szAddr, HostAddr.data(), std::min<std::size_t>(HostAddr.size(), 256));
  ULONG address = ws::inet_addr(szAddr);
  DnsLookupHandle = ws::WSAAsyncGetHostByAddr(NotifyWindow, WM_ASYNCGETHOSTBYADDR,
                                              reinterpret_cast<const char*>(&address), 4, AF_INET, DnsHostBuffer,
                                              sizeof DnsHostBuffer);
  if (DnsLookupHandle == nullptr)
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", {HostAddr, std::int64_t{ws::WSAGetLastError()}});
}

void TCustomWSocket::HandleHostByAddrMessage(TMessage& Msg) {
  if (Msg.WParam != reinterpret_cast<WPARAM>(DnsLookupHandle) || DnsLookupHandle == nullptr) return;
  DnsLookupHandle = nullptr;
  WORD error = WSAGETASYNCERROR(Msg.LParam);
  if (error == 0) {
    const auto* phe = reinterpret_cast<const hostent*>(DnsHostBuffer);
    FDnsResult = phe->h_name != nullptr ? phe->h_name : "";
    FDnsResultList->Clear();
    FDnsResultList->Add(FDnsResult);
  }
  TriggerDnsLookupDone(error);
}

void TCustomWSocket::CancelDnsLookup() {
  if (DnsLookupHandle == nullptr) return;
  if (ws::WSACancelAsyncRequest(DnsLookupHandle) != 0) {
    DnsLookupHandle = nullptr;
    RaiseSocketError("WSACancelAsyncRequest");
    return;
  }
  DnsLookupHandle = nullptr;
  if (!IsDestroying()) TriggerDnsLookupDone(WSAEINTR);
}
