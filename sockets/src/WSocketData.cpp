// The data path: the send queue of 1514-byte blocks and its guard, the sends, the receives and the receive loop.
//
// The send guard (FSendGuard) is held only around queue work and the non-blocking platform sends that drain it,
// never while an event handler runs: OnSendData counts are collected while it is held and fired afterwards, and
// the closes and reports of a failed send run after it is released: on the owner thread at once, from another
// thread's Send by a message to the owner (see the top of WSocket.h).
#include <cstring>
#include <exception>
#include <memory>

#include "sockets/WSocket.h"

namespace ws = WSocket;

namespace {

bool ClosesSession(int error) {
  return error == WSAEINVAL || error == WSAENOTSOCK || error == WSAECONNABORTED || error == WSAECONNRESET ||
         error == WSAENOTCONN;
}

// Large enough for any datagram, so that a receive made without a waiting count never truncates one.
constexpr int kLargestDatagram = 65536;

}  // namespace

// ---- Sending ------------------------------------------------------------------------------------------------

namespace {

// Appends to the free room of the last block first, then to new blocks. The caller holds the send guard.
void AppendBytes(std::deque<TBuffer*>& queue, std::int32_t blockSize, const void* Data, int Len) {
  if (Len <= 0) return;
  auto next = [&]() {
    auto block = std::make_unique<TBuffer>(blockSize);
    queue.push_back(block.get());
    return block.release();
  };
  TBuffer* block = queue.empty() ? next() : queue.back();
  const auto* p = static_cast<const std::uint8_t*>(Data);
  for (;;) {
    std::int32_t n = block->Write(p, Len);
    if (n >= Len) break;
    Len -= n;
    p += n;
    block = next();
  }
}

}  // namespace

void TCustomWSocket::AppendToSendQueue(const void* Data, int Len) {
  std::lock_guard<std::mutex> guard(FSendGuard);
  AppendBytes(SendQueue, SendBlockSize, Data, Len);
}

int TCustomWSocket::RealSend(const void* Data, int Len) {
  int result;
  if (SocketType == SOCK_DGRAM)
    result = ws::sendto(SocketHandle, static_cast<const char*>(Data), Len, SendFlagsValue,
                        reinterpret_cast<const sockaddr*>(&SockAddr), sizeof SockAddr);
  else
    result = ws::send(SocketHandle, static_cast<const char*>(Data), Len, SendFlagsValue);
  if (result > 0) {
    if (FSentCounts == nullptr)
      TriggerSendData(result);
    else if (Assigned(OnSendData))
      FSentCounts->push_back(result);
  }
  return result;
}

TCustomWSocket::TSendResult TCustomWSocket::TryToSendLocked() {
  TSendResult r;
  r.Handle = SocketHandle;
  r.Session = FSession;
  if (r.Handle == INVALID_SOCKET || FSendFailed || SendQueue.empty()) return r;
  struct TCollect {
    std::vector<std::int32_t>*& Sink;
    ~TCollect() { Sink = nullptr; }
  } collect{FSentCounts};
  FSentCounts = &r.Sent;
  for (;;) {
    TBuffer* block = SendQueue.front();
    std::int32_t len = 0;
    std::uint8_t* p = block->Peek(len);
    if (len <= 0) {
      if (SendQueue.size() > 1) {
        SendQueue.pop_front();
        delete block;
        continue;
      }
      // The last block stays, empty, for the next Send.
      SendQueueEmpty = true;
      r.QueueEmpty = true;
      return r;
    }
    int n = RealSend(p, len);
    if (n == 0) return r;
    if (n < 0) {
      int e = ws::WSAGetLastError();
      if (ClosesSession(e)) {
        r.Outcome = TSendOutcome::Fatal;
        r.Error = e;
        // Another thread leaves the close to the owner; until then nothing more goes out on this socket.
        if (!OnOwnerThread()) FSendFailed = true;
      } else if (e != WSAEWOULDBLOCK) {
        r.Outcome = TSendOutcome::Failed;
        r.Error = e;
      }
      return r;
    }
    // A partial send goes on with the rest at once: only a send that would block re-enables the write
    // notification, so stopping here would leave the rest queued until some later Send came along.
    block->Remove(n);
  }
}

void TCustomWSocket::FinishSend(TSendResult& Result) {
  // The sends have happened: every count is reported and the failure is dealt with even when an OnSendData
  // handler raises. The first exception to arise is the one that leaves.
  std::exception_ptr handlerError;
  for (std::int32_t n : Result.Sent) {
    try {
      TriggerSendData(n);
    } catch (...) {
      if (!handlerError) handlerError = std::current_exception();
    }
  }
  try {
    switch (Result.Outcome) {
      case TSendOutcome::Stopped:
        break;
      case TSendOutcome::Fatal:
        if (!OnOwnerThread()) {
          DeferToOwner(kDeferSessionFatal, Result.Error, Result.Session);
          break;
        }
        CloseNotified = true;
        Close();
        TriggerSessionClosed(static_cast<WORD>(Result.Error));
        break;
      case TSendOutcome::Failed:
        // Handlers may have run since the failure: the report must see the send's own error.
        ws::WSASetLastError(Result.Error);
        RaiseSocketError("TryToSend failed");
        break;
    }
  } catch (...) {
    if (!handlerError) throw;
  }
  if (handlerError) std::rethrow_exception(handlerError);
}

void TCustomWSocket::TryToSend() {
  TSendResult r;
  {
    std::lock_guard<std::mutex> guard(FSendGuard);
    r = TryToSendLocked();
  }
  FinishSend(r);
}

int TCustomWSocket::Send(const void* Data, int Len) {
  bool connected = FState == wsConnected;
  if (connected && !OnOwnerThread()) {
    // A failure of this thread's earlier send that the owner has not closed yet: the owner would find the
    // socket closed by now, so this thread must too.
    std::lock_guard<std::mutex> guard(FSendGuard);
    connected = !FSendFailed;
  }
  if (!connected) {
    ws::WSASetLastError(WSAENOTCONN);
    RaiseSocketError("Send");
    return -1;
  }
  int result = Len <= 0 ? 0 : Len;
  TSendResult r;
  {
    std::lock_guard<std::mutex> guard(FSendGuard);
    SendQueueEmpty = false;
    AppendBytes(SendQueue, SendBlockSize, Data, Len);
    r = TryToSendLocked();
  }
  FinishSend(r);
  // OnDataSent comes from the window's own thread, after Send has returned. Whether this Send emptied the queue
  // is its own finding under the guard: the shared mark may have been set since by the owner's drain, which
  // reports OnDataSent itself.
  if (r.QueueEmpty)
    PostMessageA(NotifyWindow, WM_ASYNCSELECT, r.Handle, WSAMAKESELECTREPLY(static_cast<WORD>(FD_WRITE), 0));
  return result;
}

int TCustomWSocket::SendStr(const std::string& Str) {
  return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len) {
  sockaddr_in dest = Dest;
  int result = ws::sendto(SocketHandle, static_cast<const char*>(Data), Len, SendFlagsValue,
                          reinterpret_cast<const sockaddr*>(&dest), DestLen);
  if (result > 0) TriggerSendData(result);
  return result;
}

// ---- Receiving ----------------------------------------------------------------------------------------------

int TCustomWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  return ws::recv(SocketHandle, static_cast<char*>(Buffer), BufferSize, Flags);
}

int TCustomWSocket::DoRecvFrom(SOCKET FHSocket, void* Buffer, int BufferSize, int Flags, sockaddr_in& From,
                               int& FromLen) {
  return ws::recvfrom(FHSocket, static_cast<char*>(Buffer), BufferSize, Flags, reinterpret_cast<sockaddr*>(&From),
                      &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
  ++FReceiveCalls;
  int n = DoRecv(Buffer, BufferSize, 0);
  if (n < 0)
    FLastError = ws::WSAGetLastError();
  else
    FReadCount += n;
  return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen) {
  ++FReceiveCalls;
  int n = DoRecvFrom(SocketHandle, Buffer, BufferSize, 0, From, FromLen);
  if (n < 0)
    FLastError = ws::WSAGetLastError();
  else
    FReadCount += n;
  return n;
}

std::int32_t TCustomWSocket::GetRcvdCount() {
  ULONG count = 0;
  if (ws::ioctlsocket(SocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
    RaiseSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<std::int32_t>(count);
}

std::string TCustomWSocket::ReceiveStr() {
  std::string result;
  std::int32_t n = GetRcvdCount();
  if (n < 0) return result;
  if (n == 0) {
    // A waiting count of 0 on a datagram socket may stand for an empty datagram. Left in place it would keep
    // every later datagram behind it and, since no receive re-enables the read notification, silence the socket
    // for good; so it is taken. A receive that finds nothing at all leaves things as they were. Only the
    // socket's own count tells: a layer's count of 0 (no line pending) says nothing of what waits at the socket.
    if (SocketType != SOCK_DGRAM) return result;
    std::int32_t own = TCustomWSocket::GetRcvdCount();
    if (own != 0) return result;
    std::int32_t lastError = FLastError;
    result.resize(kLargestDatagram);
    int m = Receive(result.data(), kLargestDatagram);
    if (m < 0 && FLastError == WSAEWOULDBLOCK) FLastError = lastError;
    result.resize(m > 0 ? static_cast<std::size_t>(m) : 0);
    return result;
  }
  result.resize(static_cast<std::size_t>(n));
  int m = Receive(result.data(), n);
  result.resize(m > 0 ? static_cast<std::size_t>(m) : 0);
  return result;
}

void TCustomWSocket::ReceiveLoop(WORD Error) {
  const TSessionGuard session(*this);
  for (;;) {
    FLastError = 0;
    try {
      std::uint64_t receivesBefore = FReceiveCalls;
      bool handled = TriggerDataAvailable(Error);
      // A handler that closed the socket (and perhaps opened another) ended the session this loop serves.
      if (!session.Current()) return;
      if (!handled) {
        char discard[1024];
        ++FReceiveCalls;
        if (DoRecv(discard, sizeof discard, 0) == -1) {
          FLastError = ws::WSAGetLastError();
          if (FLastError == WSAEWOULDBLOCK) {
            FLastError = 0;
            return;
          }
        }
      }
      if ((FComponentOptions & WSocketOptionBit(wsoNoReceiveLoop)) != 0) return;
      if (FLastError != 0) return;
      // A handler that took nothing would find the same bytes waiting for ever.
      if (handled && FReceiveCalls == receivesBefore) return;
      ULONG count = 0;
      if (ws::ioctlsocket(SocketHandle, FIONREAD, &count) == SOCKET_ERROR) {
        FLastError = ws::WSAGetLastError();
        return;
      }
      if (count == 0) return;
    } catch (...) {
      return;
    }
  }
}

const std::uint8_t* FindByte(const void* Data, std::int32_t Len, std::uint8_t Value) {
  if (Data == nullptr || Len <= 0) return nullptr;
  return static_cast<const std::uint8_t*>(std::memchr(Data, Value, static_cast<std::size_t>(Len)));
}
