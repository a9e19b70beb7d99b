// The installer's log (declared in system/install_log_win32.h).
#include "system/install_log_win32.h"

#include <windows.h>

#include <exception>

#include "base/diagnostic_trace.h"
#include "system/file_stream_win32.h"
#include "system/install_log.h"
#include "system/win_text_win32.h"

namespace {

// The one log of the process; GUI thread only, like the trace.
FileStream logFile;
// Writes go to the end by themselves (Windows NT: append access, so that two
// installers logging to one file never overwrite each other's lines).
bool appendAccess = false;

// Called wherever an event is traced, window and hook procedures included:
// nothing may escape from here, and a line that cannot be written is lost.
void writeLine(const std::string& kind, const std::vector<std::string>& fields) noexcept {
  try {
    std::string line = logLineFor(kind, fields);
    if (line.empty()) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    line = logLinePrefix(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                         GetCurrentProcessId()) + line + "\r\n";
    std::uint64_t end = 0;
    if (!appendAccess && (logFile.size(end) != errOk || logFile.seek(end) != errOk)) return;
    logFile.write(line.data(), line.size());
  } catch (const std::exception&) {
  }
}

// The elevated installer must not append to a file it was steered to: a link
// (symbolic or hard) planted where the log is to be written is refused.
bool isPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  return !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         info.nNumberOfLinks <= 1;
}

}  // namespace

InstallLog::InstallLog(const std::string& path) {
  if (path.empty() || logFile.isOpen()) return;
  appendAccess = wideCallsAvailable();
  DWORD access = appendAccess ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE : GENERIC_WRITE;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (appendAccess ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE file = winCreateFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, flags);
  if (file == INVALID_HANDLE_VALUE) return;
  logFile.adopt(file);
  std::uint64_t size = 0;
  if (!isPlainFile(file) || logFile.size(size) != errOk) {
    logFile = FileStream();
    return;
  }
  // A new log starts with the byte order mark, so that editors read it as UTF-8.
  if (size == 0) logFile.write("\xEF\xBB\xBF", 3);
  setTraceSink(writeLine);
}

InstallLog::~InstallLog() {
  if (!logFile.isOpen()) return;
  setTraceSink(nullptr);
  logFile = FileStream();
}

bool InstallLog::open() const { return logFile.isOpen(); }
