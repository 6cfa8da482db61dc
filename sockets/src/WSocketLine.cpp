// The line-mode layer: reading received data into a buffer of its own, splitting it at LineEnd, echo and editing,
// the redelivery message (WM_USER+20) after LineMode changes, and the last line at a close.
//
// A line is handed out by firing OnDataAvailable until the handler has taken all of it with Receive or
// ReceiveStr. A handler that returns without taking anything leaves the line pending: it is offered again with
// the next data notification (or at the close), so that the loop ends and nothing is lost.
#include <algorithm>
#include <cstring>
#include <vector>

#include "sockets/WSocket.h"

namespace {

// Where a tab leads to.
constexpr std::int32_t kTabStop = 8;
// The work copy of EditLine grows in steps of this.
constexpr std::int32_t kEditStep = 256;

}  // namespace

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {
  FLineEnd = "\r\n";
  FLineMode = false;
}

TCustomLineWSocket::~TCustomLineWSocket() {
  Destroying();
  FreeBuffer();
}

void TCustomLineWSocket::SessionDefaults(bool Connecting) {
  TCustomSocksWSocket::SessionDefaults(Connecting);
  FreeBuffer();
}

// ---- The buffer -------------------------------------------------------------------------------------------------

void TCustomLineWSocket::FreeBuffer() {
  delete[] RcvBuffer;
  RcvBuffer = nullptr;
  RcvBufferSize = 0;
  RcvBufferCount = 0;
  RcvBufferStart = 0;
  LineLength = 0;
  FReadHeldBack = false;
}

// Room for Size bytes from the front of RcvBuffer; what is held moves to the front. Growth at least doubles, so
// a line that comes in many small pieces is not copied once per piece.
void TCustomLineWSocket::ReserveBuffer(std::int32_t Size) {
  if (RcvBufferStart > 0) {
    std::memmove(RcvBuffer, RcvBuffer + RcvBufferStart, static_cast<std::size_t>(RcvBufferCount) + 1);
    RcvBufferStart = 0;
  }
  if (RcvBufferSize >= Size) return;
  std::int32_t newSize = std::max(Size, std::min(RcvBufferSize * 2, LineBufferLimit + 1));
  auto* grown = new std::uint8_t[static_cast<std::size_t>(newSize)];
  if (RcvBuffer != nullptr) std::memcpy(grown, RcvBuffer, static_cast<std::size_t>(RcvBufferCount) + 1);
  else grown[0] = 0;
  delete[] RcvBuffer;
  RcvBuffer = grown;
  RcvBufferSize = newSize;
}

void TCustomLineWSocket::TakeFront(std::int32_t Count) {
  RcvBufferStart += Count;
  RcvBufferCount -= Count;
  if (RcvBufferCount == 0) {
    RcvBufferStart = 0;
    RcvBuffer[0] = 0;
  }
}

// ---- Receiving --------------------------------------------------------------------------------------------------

std::int32_t TCustomLineWSocket::GetRcvdCount() {
  if (FLineMode) return LineLength;
  // Bytes held from line mode are what Receive serves next, so they are what is waiting.
  if (RcvBufferCount > 0) return RcvBufferCount;
  return TCustomSocksWSocket::GetRcvdCount();
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags) {
  std::int32_t available = FLineMode ? LineLength : RcvBufferCount;
  if (available <= 0 || FFilling) return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
  std::int32_t n = std::max(0, std::min(BufferSize, available));
  if (n > 0) std::memcpy(Buffer, RcvBuffer + RcvBufferStart, static_cast<std::size_t>(n));
  TakeFront(n);
  if (FLineMode) LineLength -= n;
  if (n > 0 && FReadHeldBack) {
    // The layer left bytes at the socket without reading them, so the platform has no read notification left
    // to send: now that there is room again, the receive loop must come back for them by itself, also when
    // the application took the bytes outside any event.
    FReadHeldBack = false;
    PostMessageA(NotifyWindow, WM_ASYNCSELECT, static_cast<WPARAM>(SocketHandle.load()),
                 WSAMAKESELECTREPLY(static_cast<WORD>(FD_READ), 0));
  }
  return n;
}

bool TCustomLineWSocket::TriggerDataAvailable(WORD Error) {
  if (!FLineMode || FLineEnd.empty() || SocksPhase != socksPhaseIdle)
    return TCustomSocksWSocket::TriggerDataAvailable(Error);
  ReceiveLines(false);
  return true;
}

// Takes what waits at the socket (as the SOCKS layer counts it, so bytes behind its reply come first) into the
// buffer and hands out every complete line. Rescan also splits what was held before when nothing new came.
void TCustomLineWSocket::ReceiveLines(bool Rescan) {
  const auto endLen = static_cast<std::int32_t>(FLineEnd.size());
  std::int32_t n = TCustomSocksWSocket::GetRcvdCount();
  // Never more than the limit: the rest stays at the socket and comes with the receive loop's next pass, once
  // the held bytes have been handed out. Editing may turn each byte into a tab's worth of blanks.
  std::int32_t room = LineBufferLimit - RcvBufferCount;
  if (room > 0 && FLineEdit) room = std::max<std::int32_t>(1, room / kTabStop);
  if (n > 0 && room <= 0) FReadHeldBack = true;
  n = std::min(n, room);
  if (n <= 0) {
    if (Rescan) SplitLines(0);
    return;
  }
  ReserveBuffer(RcvBufferCount + n + 1);
  const TSessionGuard session(*this);
  // The layer's own read goes past a line left pending at the front, to the socket.
  FFilling = true;
  try {
    n = Receive(RcvBuffer + RcvBufferCount, n);
  } catch (...) {
    FFilling = false;
    throw;
  }
  FFilling = false;
  if (n <= 0) {
    if (Rescan) SplitLines(0);
    return;
  }
  RcvBuffer[RcvBufferCount + n] = 0;
  if (FLineEdit)
    EditLine(n);
  else if (FLineEcho)
    Send(RcvBuffer + RcvBufferCount, n);
  // An echo whose send found the connection gone has ended the session, and perhaps taken the buffer.
  if (!session.Current()) return;
  std::int32_t searchFrom = std::max(0, RcvBufferCount - endLen);
  RcvBufferCount += n;
  // A line left pending lies before the new bytes; the search after it starts from the front.
  SplitLines(Rescan || LineLength > 0 ? 0 : searchFrom);
}

void TCustomLineWSocket::SplitLines(std::int32_t SearchFrom) {
  while (FLineMode && !FLineEnd.empty()) {
    if (LineLength == 0) {
      const auto endLen = static_cast<std::int32_t>(FLineEnd.size());
      const std::uint8_t* front = RcvBuffer + RcvBufferStart;
      const void* found = nullptr;
      if (RcvBufferCount - SearchFrom >= endLen)
        found = memmem(front + SearchFrom, static_cast<std::size_t>(RcvBufferCount - SearchFrom), FLineEnd.data(),
                       FLineEnd.size());
      if (found != nullptr) {
        LineLength = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(found) - front) + endLen;
      } else if (RcvBufferCount >= LineBufferLimit) {
        LineLength = std::max(1, RcvBufferCount - (endLen - 1));
      } else {
        return;
      }
    }
    if (!OfferLine()) return;
    SearchFrom = 0;
  }
}

bool TCustomLineWSocket::OfferLine() {
  while (FLineMode && LineLength > 0) {
    std::int32_t before = LineLength;
    if (!TCustomSocksWSocket::TriggerDataAvailable(0)) {
      // Nobody takes lines: they are dropped, as unread data is without a handler.
      TakeFront(LineLength);
      LineLength = 0;
      return true;
    }
    if (LineLength == before) return false;
  }
  return true;
}

// ---- Editing ----------------------------------------------------------------------------------------------------

void TCustomLineWSocket::EditLine(std::int32_t& Len) {
  const std::int32_t end = RcvBufferCount + Len;
  // A backspace takes back what has not been handed out yet, never a line that waits to be taken.
  const std::int32_t floor = LineLength;
  std::int32_t w = RcvBufferCount;
  std::int32_t lowest = RcvBufferCount;
  std::vector<std::uint8_t> work;
  bool started = false;
  auto startCopy = [&](std::int32_t r) {
    if (started) return;
    work.assign(RcvBuffer, RcvBuffer + r);
    work.resize(static_cast<std::size_t>((end + kEditStep) / kEditStep * kEditStep));
    started = true;
  };
  auto put = [&](std::uint8_t b) {
    if (static_cast<std::size_t>(w) >= work.size()) work.resize(work.size() + kEditStep);
    work[static_cast<std::size_t>(w)] = b;
  };
  // Each echo is a send, and a send that finds the connection gone ends the session (and frees the buffer).
  const TSessionGuard session(*this);
  auto echo = [&](const void* data, int len) {
    Send(data, len);
    return session.Current();
  };
  for (std::int32_t r = RcvBufferCount; r < end; ++r) {
    std::uint8_t c = RcvBuffer[r];
    if (c == '\b') {
      if (FLineEcho && w > floor && !echo("\b \b", 3)) break;
      startCopy(r);
      if (w > floor) {
        --w;
        lowest = std::min(lowest, w);
      }
    } else if (c == '\t') {
      startCopy(r);
      do {
        if (FLineEcho && !echo(" ", 1)) break;
        put(' ');
        ++w;
      } while (w % kTabStop != 0);
    } else {
      if (FLineEcho && !echo(&c, 1)) break;
      if (started) put(c);
      ++w;
    }
    if (!session.Current()) break;
  }
  if (!session.Current()) {
    Len = 0;
    return;
  }
  if (!started) return;
  ReserveBuffer(w + 1);
  std::memcpy(RcvBuffer, work.data(), static_cast<std::size_t>(w));
  RcvBuffer[w] = 0;
  RcvBufferCount = lowest;
  Len = w - lowest;
}

// ---- Switching line mode, redelivery, the close -----------------------------------------------------------------

void TCustomLineWSocket::SetLineMode(bool newValue) {
  if (newValue == FLineMode) return;
  FLineMode = newValue;
  if (RcvBufferCount > 0 || LineLength > 0) PostMessageA(NotifyWindow, WM_TRIGGER_DATA_AVAILABLE, 0, 0);
  // What is held is plain data from now on: the unread rest of a line being offered, then what followed it.
  if (!newValue) LineLength = 0;
}

void TCustomLineWSocket::WndProc(TMessage& MsgRec) {
  if (MsgRec.Msg != WM_TRIGGER_DATA_AVAILABLE) {
    TCustomSocksWSocket::WndProc(MsgRec);
    return;
  }
  MsgRec.Result = 0;
  try {
    while (RcvBufferCount > 0) {
      std::int32_t before = RcvBufferCount;
      if (FLineMode && !FLineEnd.empty() && SocksPhase == socksPhaseIdle) {
        ReceiveLines(true);
      } else if (!TCustomSocksWSocket::TriggerDataAvailable(0)) {
        TakeFront(RcvBufferCount);
      }
      // Nothing taken: the bytes wait for the next notification.
      if (RcvBufferCount >= before) break;
    }
  } catch (Exception& E) {
    HandleBgException(E);
  }
}

void TCustomLineWSocket::TriggerSessionClosed(WORD Error) {
  if (RcvBuffer != nullptr) {
    struct TFree {
      TCustomLineWSocket* Self;
      ~TFree() { Self->FreeBuffer(); }
    } freeAfter{this};
    if (FLineMode && RcvBufferCount > 0) {
      LineLength = RcvBufferCount;
      while (FLineMode && LineLength > 0) {
        std::int32_t before = LineLength;
        if (!TCustomSocksWSocket::TriggerDataAvailable(0) || LineLength == before) break;
      }
    }
  }
  TCustomSocksWSocket::TriggerSessionClosed(Error);
}
