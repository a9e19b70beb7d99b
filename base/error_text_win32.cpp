// The operating system's text for an error number (declared in
// base/error_text_win32.h).
#include "base/error_text_win32.h"

#include <windows.h>

#include "base/code_page.h"

std::string systemErrorText(ErrorCode code) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  // The trailing line breaks are cut before the string is made: trimming it
  // afterwards with pop_back makes GCC 12 warn -Wrestrict inside
  // char_traits.h (GCC bug 105651, a false positive).
  DWORD length = buffer ? n : 0;
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) --length;
  std::string text(buffer ? buffer : "", length);
  if (buffer) LocalFree(buffer);
  // The system's text is in its code page; the program's texts are UTF-8.
  return ansiToUtf8(text, GetACP()).value_or(text);
}
