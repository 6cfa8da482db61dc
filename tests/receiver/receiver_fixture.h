// What the receiver's tests share besides the network (net_support.h): a fixture that creates the real form of tarvoview from its
// stored description on Qt's offscreen platform and destroys it after each test, and a small encoder that
// turns stamped pictures into frames and frames into datagrams the way the sender cuts them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Unit1.h"
#include "net_support.h"
#include "vfw/compman.h"

// The 9-byte frame header for a frame of size bytes.
std::string FrameHeader(std::uint32_t size);
// A frame's datagrams as the sender sends them: the header, then the bytes in pieces of 10240, each cut into
// blocks of 1514.
std::vector<std::string> FrameDatagrams(const std::string& frame);

// A picture of the receiver's size (352 x 288, 24-bit, bottom-up) that moves with seq and carries seq's stamp.
std::vector<BYTE> StampedPicture(std::uint32_t seq);
// Decodes the stamp of a picture of the receiver's size; false when it carries none.
bool PictureStamp(const std::vector<BYTE>& picture, std::uint32_t& seq);

// Compressed frames of StampedPicture(1), (2) ... with a key frame whenever seq % keyInterval == 1, as the
// sender makes them.
std::vector<std::string> EncodeStream(std::uint32_t count, std::uint32_t keyInterval);

class TReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Destroys the form now (FormDestroy runs); TearDown then has nothing left to do.
  void DestroyForm();
  // Sends the sender's answer to the form and waits until WSocket1 listens.
  void Answer(const std::string& text = "server/10.77.0.11");
  // Sends datagrams to the form's frame port and handles messages until the form has read them all, then until
  // pred holds when one is given.
  void Deliver(const std::vector<std::string>& datagrams, const std::function<bool()>& pred = nullptr);
  void Deliver(const std::string& datagram, const std::function<bool()>& pred = nullptr) {
    Deliver(std::vector<std::string>{datagram}, pred);
  }
  // Number of SetDIBitsToDevice calls on the form since the process started (from the paint log).
  int Paints() const;
  // What the form's surface shows, as a 352 x 288 bottom-up BGR picture; false where nothing was painted.
  bool SurfacePicture(std::vector<BYTE>& picture) const;
  // The colour the form's window shows at x, y (its background where nothing was painted).
  std::uint32_t WindowPixel(int x, int y) const;

  struct TBounds {
    int Left, Top, Width, Height;
  };
  TBounds FCreatedBounds{};                // where FormCreate put the window, before it was shown
  std::vector<std::string> FMessageBoxes;  // "caption: text" of each box shown
  TPeer FSender;                           // plays the sender
};
