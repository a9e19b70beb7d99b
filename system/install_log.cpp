// Log lines (declared in system/install_log.h).
#include "system/install_log.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "system/install_journal.h"

namespace {

// Appended piece by piece: "\"" + s + "\"" draws a false -Wrestrict from g++ 12.
std::string quoted(const std::string& text) {
  std::string out(1, '"');
  out += logText(text);
  out += '"';
  return out;
}

std::string field(const std::vector<std::string>& fields, std::size_t i) {
  return i < fields.size() ? fields[i] : std::string();
}

// A button caption as the user reads it ("&Abort" shows as "Abort").
std::string caption(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

std::string rootName(char root) { return root == 'U' ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

// A journal record as what happened on the disk.
std::string journalText(const std::string& line) {
  std::optional<std::vector<JournalRecord>> records =
      parseJournal(std::string(kJournalSignature) + "\n" + line + "\n");
  if (!records || records->size() != 1) return "journal: " + logText(line);
  const JournalRecord& r = records->front();
  switch (r.kind) {
    case JournalRecord::Kind::Created: return "created " + logText(r.path);
    case JournalRecord::Kind::Aside:
      return "set aside " + logText(r.path) + " as " + logText(r.backup);
    case JournalRecord::Kind::Uninstall:
      return "uninstall entry before the install, " + rootName(r.root) + ": " +
             (r.present ? "DisplayName " + quoted(r.displayName) + ", UninstallString " + quoted(r.uninstallString)
                        : std::string("none"));
    case JournalRecord::Kind::Committed: return "install committed: the set-aside earlier installation goes";
  }
  return "journal: " + logText(line);
}

// The operating-system codes as the installer tells them apart.
std::string osName(const std::string& code) {
  static const char* const names[] = {"Windows 95", "Windows 98", "Windows 98 SE", "Windows ME",
                                      "Windows NT 4", "Windows 2000", "Windows XP",
                                      "64-bit Windows, the installer a 32-bit program"};
  char* end = nullptr;
  long n = std::strtol(code.c_str(), &end, 10);
  if (end != code.c_str() && *end == '\0' && n >= 0 && n < 8) return names[n];
  return "a Windows the installer does not tell apart";
}

std::string dialogShown(const std::vector<std::string>& fields) {
  // handle, title, text, then (id, caption) for each button
  std::string line = "dialog shown, " + quoted(field(fields, 1)) + ": " + quoted(field(fields, 2)) + " [";
  for (std::size_t i = 4; i < fields.size(); i += 2) line += (i > 4 ? ", " : "") + caption(logText(fields[i]));
  return line + "]";
}

}  // namespace

std::string logText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", u);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string exitCodeText(long code) {
  if (code >= 0) return std::to_string(code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
  return std::to_string(code) + " (" + hex + ")";
}

std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second, int milliseconds,
                          unsigned long processId) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%lu] ", year, month, day, hour, minute,
                second, milliseconds, processId);
  return text;
}

std::string logLineFor(const std::string& kind, const std::vector<std::string>& f) {
  // Every field escaped (quoted() escapes too): none may break the line.
  auto t = [&f](std::size_t i) { return logText(field(f, i)); };
  auto q = [&f](std::size_t i) { return quoted(field(f, i)); };
  if (kind == "start") return "installer " + t(0) + " started; command line: " + t(1);
  if (kind == "operating system") return "operating system code " + t(0) + " (" + osName(field(f, 0)) + ", version " + t(1) + ")";
  if (kind == "folders")
    return "folders: windows " + t(0) + ", system " + t(1) + ", sysnative " + t(2) + ", common " + t(3) +
           ", installer " + t(4) + ", work " + t(5);
  if (kind == "enter") return "enter " + t(0);
  if (kind == "leave") return "leave " + t(0) + (f.size() > 1 ? ": " + t(1) : std::string());
  if (kind == "text") return t(0);
  if (kind == "status") return "status " + q(0);
  if (kind == "preparing") return "preparing window " + q(0);
  if (kind == "window") return "installer window shown";
  if (kind == "dialog") return dialogShown(f);
  if (kind == "dialog closed") return "dialog answered: " + caption(t(0));
  if (kind == "dialog default")
    return "dialog not shown (unattended), " + q(0) + ": " + q(1) + "; answered by default: " + t(2);
  if (kind == "journal") return journalText(field(f, 0));
  if (kind == "uninstall entry")
    return "uninstall entry " + t(0) + "\\" + t(1) + ": DisplayName " + q(2) + ", UninstallString " + q(3) +
           "; result " + t(4);
  if (kind == "launcher") return "launcher report " + q(0) + ": " + t(1);
  if (kind == "launcher closed") return "launcher closing message 0x501: " + t(0);
  if (kind == "install end") return "install sequence ended: " + t(0);
  if (kind == "exit") return "exit code " + exitCodeText(std::strtol(field(f, 0).c_str(), nullptr, 10));
  if (kind == "progress" || kind == "work folder") return std::string();
  std::string line = logText(kind);
  for (std::size_t i = 0; i < f.size(); ++i) line += (i ? ", " : ": ") + logText(f[i]);
  return line;
}
