// Journal records (declared in system/install_journal.h).
#include "system/install_journal.h"

#include <charconv>

namespace {

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::string> unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return std::nullopt;
    }
  }
  return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::optional<JournalRecord> parseRecord(std::string_view line) {
  std::vector<std::string_view> f = splitFields(line);
  std::vector<std::string> text;
  for (std::size_t i = 1; i < f.size(); ++i) {
    std::optional<std::string> field = unescape(f[i]);
    if (!field) return std::nullopt;
    text.push_back(*field);
  }
  JournalRecord r;
  if (f[0] == "aside" && text.size() == 3) {
    r.kind = JournalRecord::Kind::Aside;
    r.path = text[0];
    r.backup = text[1];
    const std::string& a = text[2];
    auto [end, ec] = std::from_chars(a.data(), a.data() + a.size(), r.attributes);
    if (ec != std::errc() || end != a.data() + a.size() || r.path.empty() || r.backup.empty()) return std::nullopt;
  } else if (f[0] == "created" && text.size() == 1 && !text[0].empty()) {
    r.kind = JournalRecord::Kind::Created;
    r.path = text[0];
  } else if (f[0] == "uninstall" && text.size() == 5 && (text[0] == "M" || text[0] == "U") &&
             (text[1] == "0" || text[1] == "1") && !text[2].empty()) {
    r.kind = JournalRecord::Kind::Uninstall;
    r.root = text[0][0];
    r.present = text[1] == "1";
    r.path = text[2];
    r.displayName = text[3];
    r.uninstallString = text[4];
  } else if (f[0] == "committed" && text.empty()) {
    r.kind = JournalRecord::Kind::Committed;
  } else {
    return std::nullopt;
  }
  return r;
}

}  // namespace

std::string journalLine(const JournalRecord& r) {
  switch (r.kind) {
    case JournalRecord::Kind::Aside:
      return "aside\t" + escape(r.path) + '\t' + escape(r.backup) + '\t' + std::to_string(r.attributes) + '\n';
    case JournalRecord::Kind::Created:
      return "created\t" + escape(r.path) + '\n';
    case JournalRecord::Kind::Uninstall:
      return std::string("uninstall\t") + (r.root == 'U' ? 'U' : 'M') + '\t' + (r.present ? '1' : '0') + '\t' +
             escape(r.path) + '\t' + escape(r.displayName) + '\t' + escape(r.uninstallString) + '\n';
    case JournalRecord::Kind::Committed:
      return "committed\n";
  }
  return std::string();
}

std::optional<std::vector<JournalRecord>> parseJournal(std::string_view text) {
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos || text.substr(0, end) != kJournalSignature) return std::nullopt;
  std::vector<JournalRecord> records;
  std::size_t start = end + 1;
  while (start < text.size()) {
    end = text.find('\n', start);
    if (end == std::string_view::npos) break;  // torn by the interruption
    std::optional<JournalRecord> r = parseRecord(text.substr(start, end - start));
    if (!r) return std::nullopt;
    records.push_back(*r);
    start = end + 1;
  }
  return records;
}

std::string backupPathFor(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path) + std::string(kBackupSuffix);
}
