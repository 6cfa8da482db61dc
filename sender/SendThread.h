// The sender thread of tarvocast: it polls the main form's frame-ready flag and broadcasts each compressed frame
// that the capture callback hands over, as a 9-byte header followed by the frame's bytes in paced pieces, on the
// form's frame socket. Created and freed by the main form (Unit1.h) at Start and Stop; nothing else uses it.
//
// The frame on the wire: "frame" + the size as an unsigned 32-bit little-endian integer, in a datagram of its own,
// then the bytes, handed to the socket in pieces of kPieceSize, each after a pause of kPieceDelayMs. The socket's
// send queue cuts every piece into datagrams of at most 1514 bytes.
//
// A send that fails drops the frame as a lost datagram would be, together with whatever of it still waits in the
// socket's queue, and gives the buffer back: a network that goes away for a moment costs the frames of that
// moment. A frame socket that is closed for good ends the loop: FrameSocketLost is set and the form is told by
// the message WM_FRAMESOCKETLOST, so that its own thread stops sending and tells the user.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/threads.h"
#include "win32/win32.h"

constexpr std::uint32_t kPieceSize = 10240;
constexpr unsigned kPieceDelayMs = 5;
constexpr int kFrameHeaderSize = 9;

// Posted to the main form's window by the sender thread when the frame socket can no longer send.
constexpr UINT WM_FRAMESOCKETLOST = WM_USER + 1;

class TForm1;

class TSendThread : public TThread {
 public:
  // Created suspended; the form sets Running and the priority, then resumes it.
  TSendThread() = default;

  // The loop goes on while set. Written by the GUI thread, read by this thread before every pass.
  std::atomic<std::uint8_t> Running{0};
  // Set by this thread, before it posts WM_FRAMESOCKETLOST and ends, when the frame socket is closed for good.
  std::atomic<std::uint8_t> FrameSocketLost{0};

 protected:
  void Execute() override;

 private:
  enum class TSendOutcome { Sent, Dropped, SocketLost };
  TSendOutcome SendFrame(TForm1* form, BYTE (&header)[kFrameHeaderSize], std::uint32_t size);
};
