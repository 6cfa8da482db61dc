// TStream and TFileStream (streams.h).
//
// Sharing is kept with open-file-description locks on bytes far beyond any data, one lock set per open: a read
// lock on "reads"/"writes" for the access an open has, and on "denies reads"/"denies writes" for what its share
// mode forbids. An opener first tests the bytes that stand against it, then takes its own; a whole-file flock
// held meanwhile keeps two openers (of any process) from passing the test together. The locks go with the last
// descriptor of the open, also when a process dies.
#include "gui/streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr off_t kLockBase = static_cast<off_t>(1) << 62;
constexpr off_t kReads = 0;
constexpr off_t kWrites = 1;
constexpr off_t kDeniesReads = 2;
constexpr off_t kDeniesWrites = 3;

bool HeldByOthers(int fd, off_t which) {
  struct flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + which;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool TakeShared(int fd, off_t which) {
  struct flock fl{};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + which;
  fl.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Takes the share locks of an open on lockFd (a descriptor open for reading on the file); false when an earlier
// open's share mode or access stands against it.
bool AcquireShare(int lockFd, bool read, bool write, bool denyRead, bool denyWrite) {
  while (::flock(lockFd, LOCK_EX) != 0)
    if (errno != EINTR) return true;  // the file system keeps no locks: nothing to share with
  bool ok = !(read && HeldByOthers(lockFd, kDeniesReads)) && !(write && HeldByOthers(lockFd, kDeniesWrites)) &&
            !(denyRead && HeldByOthers(lockFd, kReads)) && !(denyWrite && HeldByOthers(lockFd, kWrites));
  if (ok) {
    if (read) TakeShared(lockFd, kReads);
    if (write) TakeShared(lockFd, kWrites);
    if (denyRead) TakeShared(lockFd, kDeniesReads);
    if (denyWrite) TakeShared(lockFd, kDeniesWrites);
  }
  ::flock(lockFd, LOCK_UN);
  return ok;
}

constexpr const char* kInUse = "The file is in use by another opener that does not share it";
constexpr const char* kNotRegular = "It is not a regular file";

}  // namespace

std::int64_t TStream::Size() {
  std::int64_t here = Seek(0, soCurrent);
  std::int64_t end = Seek(0, soEnd);
  Seek(here, soBeginning);
  return end;
}

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) : FFileName(fileName) {
  const bool create = (mode & 0xFF00) == fmCreate;
  const int access = mode & 0x0003;
  const int share = mode & 0x00F0;
  const bool read = create || access == fmOpenRead || access == fmOpenReadWrite;
  const bool write = create || access == fmOpenWrite || access == fmOpenReadWrite;
  // Compatibility mode and a create without a share mode are exclusive, as on the original platform.
  const bool denyRead = share == fmShareCompat || share == fmShareExclusive || share == fmShareDenyRead;
  const bool denyWrite = share == fmShareCompat || share == fmShareExclusive || share == fmShareDenyWrite;
  auto fail = [&](const std::string& reason) -> void {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
    if (create) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  };
  if (access == 3 || (share != fmShareCompat && share != fmShareExclusive && share != fmShareDenyWrite &&
                      share != fmShareDenyRead && share != fmShareDenyNone))
    fail("Invalid file mode");

  // Only regular files are streams. A named pipe would hold the opening thread until a writer comes (and every
  // read after it), a device may do anything when opened: they are refused before they are opened, and the open
  // itself cannot block should one take the name meanwhile.
  struct stat st;
  if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    fail(S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : kNotRegular);
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (create)
    flags |= O_RDWR | O_CREAT;  // emptied only once the share lock is held
  else if (access == fmOpenRead)
    flags |= O_RDONLY;
  else
    flags |= O_RDWR;  // a write-only open reads too where it may, so that it can hold its share lock
  FHandle = ::open(fileName.c_str(), flags, 0666);
  if (FHandle < 0 && !create && access == fmOpenWrite && errno == EACCES)
    FHandle = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (FHandle < 0) fail(std::strerror(errno));
  if (::fstat(FHandle, &st) != 0) fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) fail(S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : kNotRegular);
  ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);

  // Read locks need a readable descriptor: a file that we may only write (no read permission) opens unshared.
  if ((::fcntl(FHandle, F_GETFL) & O_ACCMODE) != O_WRONLY && !AcquireShare(FHandle, read, write, denyRead, denyWrite))
    fail(kInUse);
  if (create && ::ftruncate(FHandle, 0) != 0) fail(std::strerror(errno));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0 || buffer == nullptr) return 0;
  auto* p = static_cast<char*>(buffer);
  std::int32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(FHandle, p + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0 || buffer == nullptr) return 0;
  const auto* p = static_cast<const char*>(buffer);
  std::int32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(FHandle, p + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || ::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
    throw EStreamError("Cannot set the size of \"" + FFileName + "\". " + std::strerror(size < 0 ? EINVAL : errno));
}
