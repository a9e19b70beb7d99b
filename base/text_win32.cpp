// String-table texts from the executable's STRINGTABLE resource.
#include <windows.h>

#include "base/text.h"

std::string loadText(StringId id) {
  char buffer[4096];
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}
