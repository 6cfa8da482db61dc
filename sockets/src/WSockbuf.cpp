// The send-queue block of the socket component.
#include "sockets/WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(std::int32_t Size) {
  SetBufSize(Size);
}

TBuffer::~TBuffer() {
  delete[] Storage;
}

void TBuffer::SetBufSize(std::int32_t Size) {
  if (Size <= 0) Size = DefaultBlockSize;
  if (Size == Capacity) return;
  auto* fresh = new std::uint8_t[static_cast<std::size_t>(Size)];
  if (WritePos != ReadPos && WritePos <= Size) {
    // Everything written fits where it is.
    std::memcpy(fresh, Storage, static_cast<std::size_t>(WritePos));
  } else if (WritePos != ReadPos) {
    // A shrink below the write position keeps the unread bytes that fit, moved to the front: the bytes already
    // taken are of no use, and positions past the new end would leave a block that takes and gives nothing.
    std::int32_t keep = std::min(WritePos - ReadPos, Size);
    std::memcpy(fresh, Storage + ReadPos, static_cast<std::size_t>(keep));
    ReadPos = 0;
    WritePos = keep;
  } else {
    ReadPos = 0;
    WritePos = 0;
  }
  delete[] Storage;
  Storage = fresh;
  Capacity = Size;
}

std::int32_t TBuffer::Write(const void* Data, std::int32_t Len) {
  std::int32_t room = Capacity - WritePos;
  if (room <= 0 || Len <= 0) return 0;
  std::int32_t n = std::min(room, Len);
  std::memcpy(Storage + WritePos, Data, static_cast<std::size_t>(n));
  WritePos += n;
  return n;
}

std::uint8_t* TBuffer::Peek(std::int32_t& Len) {
  std::int32_t n = WritePos - ReadPos;
  if (n <= 0) {
    Len = 0;
    return nullptr;
  }
  Len = n;
  return Storage + ReadPos;
}

std::int32_t TBuffer::Remove(std::int32_t Len) {
  std::int32_t n = WritePos - ReadPos;
  if (n <= 0 || Len <= 0) return 0;
  std::int32_t taken = std::min(Len, n);
  ReadPos += taken;
  if (ReadPos == WritePos) {
    ReadPos = 0;
    WritePos = 0;
  }
  return taken;
}
