// Streams: the file stream that the recorder writes and reads.
//
// TFileStream(name, mode) opens a file with an access mode (fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite)
// or'ed with a share mode (fmShareExclusive, fmShareDenyWrite, fmShareDenyRead, fmShareDenyNone; fmShareCompat,
// 0, counts as exclusive; fmCreate without a share mode is exclusive too). Sharing holds between every two opens,
// in this process or another: an open that the share mode of an earlier one forbids (or whose own share mode
// forbids an earlier one's access) fails. fmCreate makes a new file or empties an existing one, but takes its
// share lock first: creating a file that another opener holds fails and leaves that file untouched.
//
// Only regular files open: a folder, a named pipe or a device is refused at once, without waiting for a peer.
//
// Read and Write return the number of bytes moved; a short transfer (end of file, full disk) is no error.
// Failures to open or create raise EFOpenError / EFCreateError with the file name and the reason.
// A stream is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/classes.h"
#include "rtl/sysutils.h"

constexpr std::uint16_t fmCreate = 0xFF00;
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareCompat = 0x0000;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyRead = 0x0030;
constexpr std::uint16_t fmShareDenyNone = 0x0040;

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
 public:
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // The new position; the position stays when the seek fails (-1 is returned then).
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size) = 0;
};

class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, std::uint16_t mode);
  ~TFileStream() override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;  // EStreamError when the file cannot be resized
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;
  int FHandle = -1;
};
