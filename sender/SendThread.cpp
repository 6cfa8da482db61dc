// The sender thread's loop: poll for a handed-over frame, broadcast it, give the buffer back.
#include "SendThread.h"

#include "Unit1.h"

void TSendThread::Execute() {
  TForm1* form = Form1;
  BYTE header[kFrameHeaderSize] = {'f', 'r', 'a', 'm', 'e', 0, 0, 0, 0};
  const std::uint32_t capacity = form->FrameBufferSize();
  while (Running.load(std::memory_order_acquire)) {
    // Busy poll: a frame is sent the moment it is ready. The thread's lower priority keeps the GUI and the
    // capture thread ahead of it.
    if (!form->FrameReady.load(std::memory_order_acquire)) continue;

    // A size beyond the buffer cannot be read from it: such a frame is not sent, but the buffer goes back all
    // the same, so that capture goes on.
    const std::uint32_t size = form->OutSize;
    if (size <= capacity && SendFrame(form, header, size) == TSendOutcome::SocketLost) {
      // The buffer stays taken: nothing more is captured until the form has stopped and a Start hands it out.
      form->FrameReady.store(0, std::memory_order_release);
      FrameSocketLost.store(1, std::memory_order_release);
      PostMessageA(form->Handle(), WM_FRAMESOCKETLOST, 0, 0);
      return;
    }

    form->FrameReady.store(0, std::memory_order_release);
    form->CanCompress.store(1, std::memory_order_release);
  }
}

TSendThread::TSendOutcome TSendThread::SendFrame(TForm1* form, BYTE (&header)[kFrameHeaderSize],
                                                 std::uint32_t size) {
  TWSocket* socket = form->WSocket1;
  try {
    header[5] = static_cast<BYTE>(size);
    header[6] = static_cast<BYTE>(size >> 8);
    header[7] = static_cast<BYTE>(size >> 16);
    header[8] = static_cast<BYTE>(size >> 24);
    socket->Send(header, kFrameHeaderSize);
    const BYTE* piece = form->OutFrame;
    for (std::uint32_t n = size / kPieceSize; n > 0; --n) {
      Sleep(kPieceDelayMs);
      socket->Send(piece, static_cast<int>(kPieceSize));
      piece += kPieceSize;
    }
    if (const std::uint32_t rest = size % kPieceSize; rest > 0) {
      Sleep(kPieceDelayMs);
      socket->Send(piece, static_cast<int>(rest));
    }
    return TSendOutcome::Sent;
  } catch (const ESocketException&) {
    // The socket reports "not connected" only once it is closed (or was never opened): no later Send can work.
    if (socket->LastError() == WSAENOTCONN) return TSendOutcome::SocketLost;
  } catch (...) {
  }
  // What the failed send left queued would go out in front of the next header: a receiver would take the next
  // frame's bytes as this one's.
  socket->ClearSendQueue();
  return TSendOutcome::Dropped;
}
