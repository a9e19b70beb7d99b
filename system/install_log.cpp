// Log lines (declared in system/install_log.h).
#include "system/install_log.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "system/install_journal.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Most events are a fixed sentence with their fields put in: $N is field N,
// %N field N in double quotes (both escaped).  An empty sentence leaves the
// event out of the log.
struct Sentence {
  const char* kind;
  const char* pattern;
};
constexpr Sentence kSentences[] = {
    {"start", "installer $0 started; command line: $1"},
    {"operating system", "operating system code $0, Windows $1.$2 $3"},
    {"folders", "folders: windows $0, system $1, sysnative $2, common $3, installer $4, work $5"},
    {"enter", "enter $0"},
    {"text", "$0"},
    {"status", "status %0"},
    {"preparing", "preparing window %0"},
    {"window", "installer window shown"},
    {"dialog closed", "dialog answered: $0"},
    {"dialog default", "dialog not shown (unattended), %0: %1; answered by default: $2"},
    {"uninstall entry", "uninstall entry $0\\$1: DisplayName %2, UninstallString %3; result $4"},
    {"launcher", "launcher report %0: $1"},
    {"launcher closed", "launcher closing message 0x501: $0"},
    {"player installer", "Flash Player installer started $1: $0 $2"},
    {"install end", "install sequence ended: $0"},
    {"progress", ""},
    {"work folder", ""},
};

void append(std::string& out, const std::string& text, bool quote) {
  if (quote) out += '"';
  out += logText(text);
  if (quote) out += '"';
}

// The sentence with fields[0..count) put in; a missing field is empty.
std::string fill(const char* pattern, const std::string* const* fields, std::size_t count) {
  static const std::string none;
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    std::size_t i = static_cast<std::size_t>(p[1] - '0');
    if ((*p == '$' || *p == '%') && i < 10) {
      append(out, i < count ? *fields[i] : none, *p == '%');
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

std::string fill(const char* pattern, std::initializer_list<const std::string*> fields) {
  return fill(pattern, fields.begin(), fields.size());
}

std::string fill(const char* pattern, const std::vector<std::string>& fields) {
  std::vector<const std::string*> pointers;
  for (const std::string& f : fields) pointers.push_back(&f);
  return fill(pattern, pointers.data(), pointers.size());
}

// A journal record as what happened on the disk.
std::string journalText(const std::string& line) {
  std::optional<ParsedJournal> parsed = parseJournal(std::string(kJournalSignature) + "\n" + line + "\n");
  if (!parsed || parsed->records.size() != 1) return fill("journal: $0", {&line});
  const JournalRecord& r = parsed->records.front();
  switch (r.kind) {
    case JournalRecord::Kind::Created: return fill("created $0", {&r.path});
    case JournalRecord::Kind::Aside: return fill("set aside $0 as $1", {&r.path, &r.backup});
    case JournalRecord::Kind::Uninstall:
      return std::string("uninstall entry before the install, ") +
             (r.root == 'U' ? "HKEY_CURRENT_USER: " : "HKEY_LOCAL_MACHINE: ") +
             (r.present ? fill("DisplayName %0, UninstallString %1", {&r.displayName, &r.uninstallString}) : "none");
    case JournalRecord::Kind::Committed: return "install committed: the set-aside earlier installation goes";
    case JournalRecord::Kind::Undone: return "undone: journal record " + std::to_string(r.target);
    case JournalRecord::Kind::Finished: return "journal finished";
  }
  return fill("journal: $0", {&line});
}

// A file operation: what was done, the path, the destination of a rename or
// copy.
std::string fileText(const std::vector<std::string>& f) {
  static constexpr Sentence kFileSentences[] = {
      {"create", "file written %1"}, {"mkdir", "folder created %1"},  {"rename", "renamed %1 to %2"},
      {"copy", "copied %1 to %2"},   {"delete", "file deleted %1"}, {"rmdir", "folder removed %1"},
  };
  for (const Sentence& s : kFileSentences)
    if (!f.empty() && f[0] == s.kind) return fill(s.pattern, f);
  return fill("file operation $0 %1", f);
}

// handle, title, text, then (id, caption) for each button; a caption shows
// without its '&' ("&Abort" reads "Abort").
std::string dialogShown(const std::vector<std::string>& fields) {
  std::string line = fill("dialog shown, %1: %2 [", fields);
  for (std::size_t i = 4; i < fields.size(); i += 2) {
    if (i > 4) line += ", ";
    for (char c : logText(fields[i]))
      if (c != '&') line += c;
  }
  line += ']';
  return line;
}

// Decimal digits of value into out, at least `width` of them.
void appendNumber(std::string& out, unsigned long value, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 || n < width);
  while (n > 0) out += digits[--n];
}

}  // namespace

std::string logText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    const char* escape = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\0' ? "\\0" : nullptr;
    if (escape) {
      out += escape;
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHexDigits[u >> 4];
      out += kHexDigits[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string exitCodeText(long code) {
  std::string out = std::to_string(code);
  if (code >= 0) return out;
  auto bits = static_cast<std::uint32_t>(code);
  out += " (0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(bits >> shift) & 15];
  out += ')';
  return out;
}

std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second, int milliseconds,
                          unsigned long processId) {
  // "yyyy-mm-dd hh:mm:ss.mmm [pid] "
  const int parts[] = {year, month, day, hour, minute, second, milliseconds};
  const char separators[] = " -- ::.";  // before each part but the first
  std::string out;
  for (int i = 0; i < 7; ++i) {
    if (i > 0) out += separators[i];
    appendNumber(out, static_cast<unsigned long>(parts[i]), i == 0 ? 4 : i == 6 ? 3 : 2);
  }
  out += " [";
  appendNumber(out, processId, 1);
  out += "] ";
  return out;
}

std::string logLineFor(const std::string& kind, const std::vector<std::string>& f) {
  for (const Sentence& s : kSentences)
    if (kind == s.kind) return fill(s.pattern, f);
  if (kind == "leave") return fill(f.size() > 1 ? "leave $0: $1" : "leave $0", f);
  if (kind == "flash player")
    return f.empty() ? "no Flash Player installed" : fill("Flash Player $0 revision $1 installed", f);
  if (kind == "dialog") return dialogShown(f);
  if (kind == "file") return fileText(f);
  if (kind == "journal") return journalText(f.empty() ? std::string() : f[0]);
  if (kind == "exit") {
    long code = 0;
    if (!f.empty()) std::from_chars(f[0].data(), f[0].data() + f[0].size(), code);
    return "exit code " + exitCodeText(code);
  }
  // A kind this log does not know yet: its name and fields as they are.
  std::string line = logText(kind);
  for (std::size_t i = 0; i < f.size(); ++i) {
    line += i ? ", " : ": ";
    line += logText(f[i]);
  }
  return line;
}
