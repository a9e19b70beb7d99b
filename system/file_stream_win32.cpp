#include "system/file_stream_win32.h"

#include <algorithm>

#include "system/win_text_win32.h"

ErrorCode lastErrorCode() {
  DWORD e = GetLastError();
  return e ? static_cast<ErrorCode>(e) : errUnspecified;
}

ErrorCode FileStream::openRead(const std::string& path) {
  file_.reset(winCreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
  return file_ ? errOk : lastErrorCode();
}

ErrorCode FileStream::create(const std::string& path, bool temporary) {
  file_.reset(winCreateFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS,
                            temporary ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL));
  return file_ ? errOk : lastErrorCode();
}

ErrorCode FileStream::createHeld(const std::string& path) {
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

ErrorCode FileStream::write(const void* buffer, std::size_t n) {
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
  BOOL ok = CloseHandle(file_.release());
  return ok ? errOk : lastErrorCode();
}

bool fileSizeOf(const std::string& path, std::uint64_t& size) {
  FolderListing listing;
  if (!listing.first(path) || (listing.entry().attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  size = listing.entry().size;
  return true;
}
