// One block of the socket component's send queue: a fixed byte area with a read position and a write
// position. The socket component (WSocket.h) chains these blocks; nothing else in the suite uses them.
//
// A block is not thread-safe on its own: the component guards its send queue (see WSocket.h).
#pragma once

#include <cstdint>

#include "rtl/classes.h"

class TBuffer : public TObject {
 public:
  // A Size of 0 or less gives the default block size of 1514 bytes (one Ethernet frame).
  explicit TBuffer(std::int32_t Size);
  ~TBuffer() override;

  // Gives the block Size bytes of storage, keeping what it holds. Shrinking below WritePos keeps the unread
  // bytes that fit, moved to the start of the new storage (ReadPos 0), so the block stays usable.
  void SetBufSize(std::int32_t Size);
  // Appends up to the free room; returns the number of bytes taken (0 when the block is full).
  std::int32_t Write(const void* Data, std::int32_t Len);
  // Where the unread bytes start (null when there are none) and, in Len, how many there are.
  std::uint8_t* Peek(std::int32_t& Len);
  // Drops up to Len bytes from the front; once nothing is left unread both positions return to 0, so the
  // block takes new data from its start again.
  std::int32_t Remove(std::int32_t Len);

  // Invariant: 0 <= ReadPos <= WritePos <= Capacity.
  std::uint8_t* Storage = nullptr;
  std::int32_t Capacity = 0;
  std::int32_t WritePos = 0;
  std::int32_t ReadPos = 0;
};

constexpr std::int32_t DefaultBlockSize = 1514;
