// The main form of tarvoview, the receiver: a window without controls that announces itself once a second until
// a sender answers, then gathers the sender's frames from their datagrams, decompresses them and paints them at
// its top left. The form owns the codec, the two frame buffers and three sockets: LoginSocket sends the login
// and logout announcements, SrvSocket hears the sender's answer and its "exit", WSocket1 receives the frames.
//
// Everything here runs on the GUI thread: timer ticks and socket notifications arrive as its window messages,
// and each handler runs to its end before the next starts, so nothing is locked.
//
// The frame buffer is bounded: a data datagram that would not fit behind the bytes already gathered is dropped,
// the frame being gathered is given up, and data is ignored until the next frame header. A failed receive is
// not data: it changes nothing.
#pragma once

#include <cstdint>

#include "gui/gui.h"
#include "sockets/WSocket.h"
#include "vfw/compman.h"

class TForm1 : public TForm {
 public:
  TARVO_PUBLISHED(TForm1)
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  // Components, created from the stored description (Unit1.form).
  TTimer* Timer1 = nullptr;
  TWSocket* LoginSocket = nullptr;
  TWSocket* WSocket1 = nullptr;
  TWSocket* SrvSocket = nullptr;

  // Handlers.
  void FormCreate(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void SrvSocketDataAvailable(TObject* Sender, WORD Error);
  void WSocket1DataAvailable(TObject* Sender, WORD Error);
  void FormDestroy(TObject* Sender);

  // Bytes each frame buffer holds: FrameWidth x FrameHeight x 3 + 64.
  std::uint32_t FrameBufferSize() const;

  // The form's state, in the order the receiver's design declares it.
  std::int32_t FrameWidth = 0;
  std::int32_t FrameHeight = 0;
  BYTE* InFrame = nullptr;
  BYTE* OutFrame = nullptr;
  // Size announced by the last frame header; 0 until the first.
  std::uint32_t FrameSize = 0;
  // Bytes of the current frame gathered in InFrame; never more than FrameBufferSize().
  std::uint32_t Received = 0;
  HIC Codec = nullptr;
  BITMAPINFO InFormat{};
  BITMAPINFO OutFormat{};
  // Set when a data datagram did not fit into InFrame: the frame is given up until the next header.
  bool Overflowed = false;

 private:
  void ReleaseResources();
};

extern TForm1* Form1;
