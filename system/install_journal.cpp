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

std::optional<std::size_t> parseCount(std::string_view text) {
  std::size_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
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
  } else if (f[0] == "undone" && text.size() == 1) {
    std::optional<std::size_t> target = parseCount(text[0]);
    if (!target) return std::nullopt;
    r.kind = JournalRecord::Kind::Undone;
    r.target = *target;
  } else if (f[0] == "finished" && text.empty()) {
    r.kind = JournalRecord::Kind::Finished;
  } else {
    return std::nullopt;
  }
  return r;
}

std::string_view withoutTrailingBackslash(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

bool inScope(std::string_view path, const JournalScope& scope) {
  if (!scope.saverFolder.empty() &&
      (samePath(path, withoutTrailingBackslash(scope.saverFolder)) || isPlainPathBelow(path, scope.saverFolder)))
    return true;
  for (const std::string& file : scope.files)
    if (!file.empty() && samePath(path, file)) return true;
  return false;
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
    case JournalRecord::Kind::Undone:
      return "undone\t" + std::to_string(r.target) + '\n';
    case JournalRecord::Kind::Finished:
      return "finished\n";
  }
  return std::string();
}

std::optional<ParsedJournal> parseJournal(std::string_view text) {
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    bool zeros = text.find_first_not_of('\0') == std::string_view::npos;
    if (zeros || kJournalSignature.substr(0, text.size()) == text) return ParsedJournal{};
    return std::nullopt;
  }
  ParsedJournal parsed;
  std::string_view signature = text.substr(0, end);
  if (signature == kJournalSignatureV1)
    parsed.legacy = true;
  else if (signature != kJournalSignature)
    return std::nullopt;
  std::size_t start = end + 1;
  while (start < text.size()) {
    end = text.find('\n', start);
    if (end == std::string_view::npos) break;  // torn by the interruption
    std::optional<JournalRecord> r = parseRecord(text.substr(start, end - start));
    if (!r) return std::nullopt;
    parsed.records.push_back(*r);
    start = end + 1;
  }
  return parsed;
}

JournalProgress journalProgress(const std::vector<JournalRecord>& records) {
  JournalProgress p;
  p.undone.assign(records.size(), false);
  for (const JournalRecord& r : records) {
    if (r.kind == JournalRecord::Kind::Committed) p.committed = true;
    if (r.kind == JournalRecord::Kind::Finished) p.finished = true;
    if (r.kind == JournalRecord::Kind::Undone && r.target < records.size()) p.undone[r.target] = true;
  }
  return p;
}

std::string backupPathFor(std::string_view path, int number) {
  std::string backup(withoutTrailingBackslash(path));
  backup.append(kBackupSuffix);
  if (number > 1) backup.append("-").append(std::to_string(number));
  return backup;
}

bool isBackupPathOf(std::string_view backup, std::string_view path) {
  for (int n = 1; n <= kMaxBackupNumber; ++n)
    if (backup == backupPathFor(path, n)) return true;
  return false;
}

JournalScope saverJournalScope(const std::string& saverName, const std::string& commonFolder,
                               const std::string& windowsFolder, const std::vector<std::string>& programFolders) {
  JournalScope scope;
  scope.saverName = saverName;
  if (!commonFolder.empty()) scope.saverFolder = commonFolder + saverName + "\\";
  for (const std::string& folder : programFolders)
    if (!folder.empty()) scope.files.push_back(folder + saverName + ".scr");
  if (!windowsFolder.empty()) scope.files.push_back(windowsFolder + saverName);
  return scope;
}

std::string journalScopeProblem(const std::vector<JournalRecord>& records, const JournalScope& scope) {
  using Kind = JournalRecord::Kind;
  std::vector<bool> undone(records.size(), false);
  bool committed = false;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const JournalRecord& r = records[i];
    const std::string at = "record " + std::to_string(i + 1) + ": ";
    if (i > 0 && records[i - 1].kind == Kind::Finished) return at + "a record after \"finished\"";
    switch (r.kind) {
      case Kind::Aside:
        if (committed) return at + "a change after \"committed\"";
        if (!inScope(r.path, scope)) return at + "not a path of this saver: " + r.path;
        if (!isBackupPathOf(r.backup, r.path)) return at + "not a backup name of its path: " + r.backup;
        break;
      case Kind::Created:
        if (committed) return at + "a change after \"committed\"";
        if (!inScope(r.path, scope)) return at + "not a path of this saver: " + r.path;
        break;
      case Kind::Uninstall:
        if (committed) return at + "a change after \"committed\"";
        if (r.path != scope.saverName) return at + "the uninstall entry of another program: " + r.path;
        break;
      case Kind::Committed:
        if (committed) return at + "committed twice";
        committed = true;
        break;
      case Kind::Undone:
        if (committed) return at + "an undo after \"committed\"";
        if (r.target >= i) return at + "undoes a later record";
        if (records[r.target].kind != Kind::Aside && records[r.target].kind != Kind::Created &&
            records[r.target].kind != Kind::Uninstall)
          return at + "undoes a record that changed nothing";
        if (undone[r.target]) return at + "undoes a record twice";
        undone[r.target] = true;
        break;
      case Kind::Finished:
        break;
    }
  }
  return std::string();
}
