#include "base/diagnostic_trace.h"

#include <cstddef>

std::string encodeTraceEvent(const std::string& kind, const std::vector<std::string>& fields) {
  std::string out = std::to_string(kind.size()) + ':' + kind;
  for (const std::string& f : fields) out += std::to_string(f.size()) + ':' + f;
  return out;
}

bool decodeTraceEvent(const std::string& message, std::string& kind, std::vector<std::string>& fields) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < message.size()) {
    std::size_t length = 0, digits = 0;
    while (at < message.size() && message[at] >= '0' && message[at] <= '9' && digits < 9) {
      length = length * 10 + static_cast<std::size_t>(message[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || at >= message.size() || message[at] != ':') return false;
    ++at;
    if (length > message.size() - at) return false;
    parts.push_back(message.substr(at, length));
    at += length;
  }
  if (parts.empty()) return false;
  kind = parts.front();
  fields.assign(parts.begin() + 1, parts.end());
  return true;
}
