// The sender thread of tarvocast: it polls the main form's frame-ready flag and broadcasts each compressed frame
// that the capture callback hands over, as a 9-byte header followed by the frame's bytes in paced pieces, on the
// form's frame socket. Created and freed by the main form (Unit1.h) at Start and Stop; nothing else uses it.
//
// The frame on the wire: "frame" + the size as an unsigned 32-bit little-endian integer, in a datagram of its own,
// then the bytes, handed to the socket in pieces of KPieceSize, each after a pause of KPieceDelayMs. The socket's
// send queue cuts every piece into datagrams of at most 1514 bytes.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/threads.h"

constexpr std::uint32_t KPieceSize = 10240;
constexpr unsigned KPieceDelayMs = 5;
constexpr int KFrameHeaderSize = 9;

class TSendThread : public TThread {
 public:
  // Created suspended; the form sets Running and the priority, then resumes it.
  TSendThread() = default;

  // The loop goes on while set. Written by the GUI thread, read by this thread before every pass.
  std::atomic<std::uint8_t> Running{0};

 protected:
  void Execute() override;
};
