// A file opened through the Win32 API, read and written in blocks, with
// every failure turned into the system's error code at the call.  Uses only
// calls that Windows 95 has (SetFilePointer and GetFileSize with their high
// parts rather than the ...Ex forms).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/error_codes.h"
#include "system/handles_win32.h"

class FileStream {
public:
  // Opens for reading; others may read but not write meanwhile.
  ErrorCode openRead(const std::string& path);
  // Creates or replaces the file for writing.  A temporary file (one that
  // is deleted before the program ends) is marked so that the system keeps
  // it in memory rather than writing it to the disk early.
  ErrorCode create(const std::string& path, bool temporary = false);
  // Creates or replaces the temporary file for writing and reading back;
  // while it is open others may read it but not write, rename or delete it.
  ErrorCode createHeld(const std::string& path);

  // Takes ownership of an open handle (INVALID_HANDLE_VALUE: none).
  void adopt(HANDLE handle) { file_.reset(handle); }
  bool isOpen() const { return static_cast<bool>(file_); }
  // Writes what the system buffers to the disk.
  bool flush() { return FlushFileBuffers(file_.get()) != FALSE; }
  ErrorCode seek(std::uint64_t offset);
  ErrorCode size(std::uint64_t& bytes) const;
  // Reads up to n bytes; `got` < n only at the end of the file.
  ErrorCode read(void* buffer, std::size_t n, std::size_t& got);
  // Reads exactly n bytes; a short read is errShortReadPastEnd.
  ErrorCode readExact(void* buffer, std::size_t n);
  ErrorCode write(const void* buffer, std::size_t n);
  // Closes and reports a failure of the final flush.
  ErrorCode close();

private:
  UniqueFile file_;
};

// The code of a read that ended before the requested bytes: the run-time
// library's "read past end of file" (100).
constexpr ErrorCode errReadPastEnd = 100;

// The size of an existing file (not a folder); false when there is none.
// FindFirstFile rather than GetFileAttributesEx, which Windows 95 lacks.
bool fileSizeOf(const std::string& path, std::uint64_t& size);

// The calling thread's last error as an error code (never 0).
ErrorCode lastErrorCode();
