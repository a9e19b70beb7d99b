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

// What a file written by the installer is for.
enum class FileKind {
  Installed,  // part of the installation: flushed to the disk when closed
  Scratch,    // the work folder's: deleted when the run ends, never flushed
  Temporary,  // the same, and marked so the system keeps it in memory
};

class FileStream {
public:
  // Opens for reading; others may read but not write meanwhile.
  ErrorCode openRead(const std::string& path);
  // Creates or replaces the file for writing.  errLinkedSaverFolder when a
  // folder on its way below the saver folder is a junction or link.
  ErrorCode create(const std::string& path, FileKind kind = FileKind::Installed);
  // Creates or replaces the temporary file for writing and reading back;
  // while it is open others may read it but not write, rename or delete it.
  ErrorCode createHeld(const std::string& path);

  // Takes ownership of an open handle (INVALID_HANDLE_VALUE: none).
  // `path` names it for the file-operation seam (system/win_text_win32.h).
  void adopt(HANDLE handle, const std::string& path = std::string()) {
    file_.reset(handle);
    durable_ = false;
    path_ = path;
  }
  bool isOpen() const { return static_cast<bool>(file_); }
  HANDLE handle() const { return file_.get(); }
  // Writes what the system buffers to the disk.
  bool flush();
  ErrorCode seek(std::uint64_t offset);
  ErrorCode size(std::uint64_t& bytes) const;
  // Reads up to n bytes; `got` < n only at the end of the file.
  ErrorCode read(void* buffer, std::size_t n, std::size_t& got);
  // Reads exactly n bytes; a short read is errShortReadPastEnd.
  ErrorCode readExact(void* buffer, std::size_t n);
  ErrorCode write(const void* buffer, std::size_t n);
  // Closes; an installed file is flushed to the disk first, and a failure
  // of that flush (a full disk, say) is reported.
  ErrorCode close();

private:
  UniqueFile file_;
  bool durable_ = false;
  std::string path_;
};

// True when a folder on the way from the saver folder (itself included) to
// path, or path itself, is a junction or link.  The saver folder is the
// administrators' alone; this catches what was put there anyway (Windows
// without access lists, a folder made before they were set).
bool linkOnTheWay(const std::string& path);

// The code of a read that ended before the requested bytes: the run-time
// library's "read past end of file" (100).
constexpr ErrorCode errReadPastEnd = 100;

// The size of an existing file (not a folder); false when there is none.
// FindFirstFile rather than GetFileAttributesEx, which Windows 95 lacks.
bool fileSizeOf(const std::string& path, std::uint64_t& size);

// The calling thread's last error as an error code (never 0).
ErrorCode lastErrorCode();
