// The sender thread's loop: poll for a handed-over frame, broadcast it, give the buffer back.
#include "SendThread.h"

#include "Unit1.h"
#include "win32/win32.h"

void TSendThread::Execute() {
  TForm1* form = Form1;
  BYTE header[KFrameHeaderSize] = {'f', 'r', 'a', 'm', 'e', 0, 0, 0, 0};
  const std::uint32_t capacity = form->FrameBufferSize();
  while (Running.load(std::memory_order_acquire)) {
    // Busy poll: a frame is sent the moment it is ready. The thread's lower priority keeps the GUI and the
    // capture thread ahead of it.
    if (!form->FrameReady.load(std::memory_order_acquire)) continue;

    const std::uint32_t size = form->OutSize;
    // A size beyond the buffer cannot be read from it: such a frame is not sent, but the buffer goes back all
    // the same, so that capture goes on.
    if (size <= capacity) {
      header[5] = static_cast<BYTE>(size);
      header[6] = static_cast<BYTE>(size >> 8);
      header[7] = static_cast<BYTE>(size >> 16);
      header[8] = static_cast<BYTE>(size >> 24);
      form->WSocket1->Send(header, KFrameHeaderSize);
      const BYTE* piece = form->OutFrame;
      for (std::uint32_t n = size / KPieceSize; n > 0; --n) {
        Sleep(KPieceDelayMs);
        form->WSocket1->Send(piece, static_cast<int>(KPieceSize));
        piece += KPieceSize;
      }
      if (const std::uint32_t rest = size % KPieceSize; rest > 0) {
        Sleep(KPieceDelayMs);
        form->WSocket1->Send(piece, static_cast<int>(rest));
      }
    }

    form->FrameReady.store(0, std::memory_order_release);
    form->CanCompress.store(1, std::memory_order_release);
  }
}
