#include "system/file_stream_win32.h"

#include <algorithm>

#include "base/process_state.h"
#include "system/win_text_win32.h"

ErrorCode lastErrorCode() {
  DWORD e = GetLastError();
  return e ? static_cast<ErrorCode>(e) : errUnspecified;
}

ErrorCode FileStream::openRead(const std::string& path) {
  path_ = path;
  file_.reset(winCreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
  return file_ ? errOk : lastErrorCode();
}

ErrorCode FileStream::create(const std::string& path, FileKind kind) {
  file_.reset();
  path_ = path;
  if (linkOnTheWay(path)) return errLinkedSaverFolder;
  file_.reset(winCreateFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS,
                            kind == FileKind::Temporary ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL));
  durable_ = kind == FileKind::Installed;
  return file_ ? errOk : lastErrorCode();
}

ErrorCode FileStream::createHeld(const std::string& path) {
  durable_ = false;
  path_ = path;
  file_.reset(
      winCreateFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY));
  return file_ ? errOk : lastErrorCode();
}

ErrorCode FileStream::seek(std::uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(0);
  DWORD low = SetFilePointer(file_.get(), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != 0) return lastErrorCode();
  return errOk;
}

ErrorCode FileStream::size(std::uint64_t& bytes) const {
  DWORD high = 0;
  SetLastError(0);
  DWORD low = GetFileSize(file_.get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != 0) return lastErrorCode();
  bytes = (std::uint64_t{high} << 32) | low;
  return errOk;
}

ErrorCode FileStream::read(void* buffer, std::size_t n, std::size_t& got) {
  got = 0;
  auto* p = static_cast<char*>(buffer);
  while (got < n) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - got, 1u << 30));
    DWORD done = 0;
    if (!ReadFile(file_.get(), p + got, chunk, &done, nullptr)) return lastErrorCode();
    if (done == 0) break;
    got += done;
  }
  return errOk;
}

ErrorCode FileStream::readExact(void* buffer, std::size_t n) {
  std::size_t got = 0;
  if (ErrorCode e = read(buffer, n, got)) return e;
  return got == n ? errOk : errReadPastEnd;
}

bool FileStream::flush() {
  FileOperation op;
  op.kind = FileOperation::Kind::Flush;
  op.path = path_;
  return reportFileOperation(op) && FlushFileBuffers(file_.get()) != FALSE;
}

ErrorCode FileStream::write(const void* buffer, std::size_t n) {
  if (fileWritesObserved()) {
    FileOperation op;
    op.kind = FileOperation::Kind::Write;
    op.path = path_;
    LONG high = 0;
    DWORD low = SetFilePointer(file_.get(), 0, &high, FILE_CURRENT);
    op.offset = (std::uint64_t{static_cast<DWORD>(high)} << 32) | low;
    op.data = buffer;
    op.size = n;
    if (!reportFileOperation(op)) return lastErrorCode();
  }
  auto* p = static_cast<const char*>(buffer);
  while (n > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD done = 0;
    if (!WriteFile(file_.get(), p, chunk, &done, nullptr)) return lastErrorCode();
    if (done == 0) return ERROR_DISK_FULL;
    p += done;
    n -= done;
  }
  return errOk;
}

ErrorCode FileStream::close() {
  if (!file_) return errOk;
  // Before the install is committed every file it wrote must be on the
  // disk: after a power failure the journal then finds either version whole.
  ErrorCode result = errOk;
  if (durable_ && !flush()) result = lastErrorCode();
  durable_ = false;
  BOOL ok = CloseHandle(file_.release());
  if (result == errOk && !ok) result = lastErrorCode();
  return result;
}

bool linkOnTheWay(const std::string& path) {
  const std::string& saverFolder = processState().paths.saverFolder;
  if (saverFolder.size() < 2 || path.size() <= saverFolder.size() ||
      path.compare(0, saverFolder.size(), saverFolder) != 0)
    return false;
  auto isLink = [](const std::string& p) {
    DWORD attributes = winGetFileAttributes(p);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  for (std::size_t cut = saverFolder.size() - 1; cut != std::string::npos; cut = path.find('\\', cut + 1))
    if (isLink(path.substr(0, cut))) return true;
  return isLink(path);
}

bool fileSizeOf(const std::string& path, std::uint64_t& size) {
  FolderListing listing;
  if (!listing.first(path) || (listing.entry().attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  size = listing.entry().size;
  return true;
}
