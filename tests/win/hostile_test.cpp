// Damaged and hostile installers, run end to end in quiet mode under Wine.
//
// Every case of tests/win/support/hostile_generator.h is run with "/q",
// every dialog is answered and recorded, and then:
//   - the process ended by itself, with a product error code for a refusal
//     (never a crash status) or 0 for a case that installs;
//   - every dialog text is one the product can compose;
//   - drive C: (path, size and last-write time of every file) and the
//     uninstall keys changed only where the installer may write, and after
//     a refusal not at all: no saver folder, no program in the system
//     folder, no uninstall entry, no work folder;
//   - an install is complete: exactly the expected files with their sizes.
// All cases run in one test, which prints a summary and the failures.
// HOSTILE_FILTER=<text> in the environment runs only the cases whose name
// contains the text; HOSTILE_SAMPLE=<n> only n cases of each family, chosen
// by HOSTILE_SEED=<number> or by a fresh seed that is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "app/dialogs_win32.h"
#include "base/error_codes.h"
#include "base/messages.h"
#include "base/code_page.h"
#include "base/names.h"
#include "system/saver_naming.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/hostile_generator.h"
#include "tests/win/support/installer_harness.h"

namespace {

using hostile::HostileCase;
using hostile::Outcome;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// ---- drive snapshot ---------------------------------------------------------

struct EntryState {
  bool folder = false;
  std::int64_t size = 0;
  std::uint64_t writeTime = 0;
  bool operator==(const EntryState&) const = default;
};
// Lower-case full path -> state.  Folders are recorded without their
// last-write time: creating and removing a folder inside changes it.
using Snapshot = std::map<std::string, EntryState>;

class DriveWalker {
public:
  // Paths (lower case) whose whole subtree is left out.
  std::vector<std::string> skipped;
  // Folders Wine links to the Unix home folder: only their own entries are
  // recorded (the home folder holds a quarter of a million files).
  std::vector<std::string> shallow;

  Snapshot take(const std::string& root = "C:\\") const {
    Snapshot s;
    walk(root, s, false);
    return s;
  }

private:
  bool isSkipped(const std::string& path) const {
    for (const std::string& p : skipped)
      if (startsWith(path, p)) return true;
    return false;
  }

  void walk(const std::string& folder, Snapshot& out, bool entriesOnly) const {
    WIN32_FIND_DATAA fd;
    UniqueFind find(FindFirstFileA((folder + "*").c_str(), &fd));
    if (!find) return;
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = folder + name;
      std::string key = lower(full);
      if (isSkipped(key)) continue;
      EntryState e;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        e.folder = true;
        out[key] = e;
        bool link = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        bool shallowHere = std::find(shallow.begin(), shallow.end(), key) != shallow.end();
        if (!entriesOnly && !link) walk(full + "\\", out, shallowHere);
      } else {
        e.size = (static_cast<std::int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.writeTime = (static_cast<std::uint64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32) |
                      fd.ftLastWriteTime.dwLowDateTime;
        out[key] = e;
      }
    } while (FindNextFileA(find.get(), &fd));
  }
};

struct Change {
  enum Kind { Added, Removed, Changed } kind;
  std::string path;
};

std::vector<Change> diff(const Snapshot& before, const Snapshot& after, const std::set<std::string>& ignored) {
  std::vector<Change> changes;
  for (const auto& [path, state] : after) {
    if (ignored.count(path)) continue;
    auto it = before.find(path);
    if (it == before.end())
      changes.push_back({Change::Added, path});
    else if (!(it->second == state))
      changes.push_back({Change::Changed, path});
  }
  for (const auto& [path, state] : before)
    if (!ignored.count(path) && !after.count(path)) changes.push_back({Change::Removed, path});
  return changes;
}

std::string describe(const Change& c) {
  const char* what = c.kind == Change::Added ? "added " : c.kind == Change::Removed ? "removed " : "changed ";
  return what + c.path;
}

// ---- registry ---------------------------------------------------------------

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::set<std::string> uninstallEntries(HKEY root) {
  std::set<std::string> names;
  UniqueRegKey key;
  if (RegOpenKeyExA(root, kUninstallKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
  char name[512];
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    if (RegEnumKeyExA(key.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.insert(std::string(name, n));
  }
  return names;
}

// ---- dialog texts -------------------------------------------------------------

// The texts the product can show, built by calling the composition functions
// with markers where they insert a path, a system text, a saver name, an
// error code or a hexadecimal value; each marker becomes a capture that is
// checked after the match.
class ProductTexts {
public:
  ProductTexts(const std::vector<std::string>& pathPrefixes) {
    pathPattern_ = "(?:";
    for (const std::string& p : pathPrefixes) pathPattern_ += literal(p) + "[^\\x0d\\x0a]*|";
    pathPattern_ += "[^\\x5c\\x0d\\x0a]*)";  // a bare file name, or nothing

    for (ErrorCode code : {ErrorCode{5}, errFileBusy, errSaverNotReplaceable, errTempCopyFailed, errCorruptPackage})
      add("installError", installErrorMessage(code, kPath, kSystem));
    for (ErrorCode code : {errWindowsNTUnsupported, errFlashInstallFailed, errFlashPlayerMissing, kCodeMarker})
      add("startupError", startupErrorMessage(code));
    add("overwrite", overwriteQuestionMessage(kName));
    add("controlPanel", controlPanelQuestionMessage());
    add("dataFileInUse", dataFileInUseMessage());
    add("dataFileOpen", dataFileOpenErrorMessage(kPath, kCodeMarker));
    add("dataFileRead", dataFileReadErrorMessage(kSystem));
    add("closeFile", closeFileErrorMessage(kPath, kSystem));
    add("zip", zipErrorMessage(kSystem));
    add("corruptFile", corruptFileMessage());
    MessageSpec crc;
    crc.kind = DialogKind::None;  // a plain box titled with the application's title
    crc.buttons = DialogButtons::Ok;
    crc.text = crcTableMessageText(kHexMarker);
    add("crcTable", crc);
  }

  // Empty when the dialog is one of the product's; else why not.
  std::string check(const ui::DialogRecord& d, int exitCode) const {
    for (const Pattern& p : patterns_) {
      std::smatch m;
      if (!std::regex_match(d.text, m, p.re)) continue;
      std::string why;
      for (std::size_t g = 0; g < p.holes.size(); ++g) {
        std::string value = m[static_cast<int>(g + 1)].str();
        if (p.holes[g] == Hole::System && !isSystemText(value)) why = "not a system text: \"" + value + "\"";
        if (p.holes[g] == Hole::Code && value != std::to_string(exitCode))
          why = "code " + value + " is not the exit code " + std::to_string(exitCode);
      }
      if (p.kind != DialogKind::None && d.title != dialogTitle(p.kind)) why = "title \"" + d.title + "\"";
      if (!why.empty()) return p.label + " text, but " + why;
      return {};
    }
    return "unknown dialog \"" + d.title + "\": \"" + d.text + "\"";
  }

private:
  enum class Hole { Path, System, Name, Code, Hex };
  struct Pattern {
    std::string label;
    DialogKind kind;
    std::regex re;
    std::vector<Hole> holes;  // capture group g+1
  };

  static constexpr const char* kPath = "\x01P\x01";
  static constexpr const char* kSystem = "\x01S\x01";
  static constexpr const char* kName = "\x01N\x01";
  static constexpr ErrorCode kCodeMarker = 987654321;
  static constexpr std::uint32_t kHexMarker = 0xFEDCBA98;

  static std::string literal(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') {
        out += static_cast<char>(c);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
      }
    }
    return out;
  }

  void add(const std::string& label, const MessageSpec& spec) {
    const std::vector<std::pair<std::string, Hole>> markers = {
        {kPath, Hole::Path}, {kSystem, Hole::System}, {kName, Hole::Name},
        {std::to_string(kCodeMarker), Hole::Code}, {"FEDCBA98", Hole::Hex}};
    std::string text = spec.text, re;
    std::vector<Hole> holes;
    std::map<Hole, int> firstGroup;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t best = std::string::npos;
      const std::pair<std::string, Hole>* found = nullptr;
      for (const auto& m : markers) {
        std::size_t pos = text.find(m.first, at);
        if (pos < best) best = pos, found = &m;
      }
      re += literal(text.substr(at, best == std::string::npos ? std::string::npos : best - at));
      if (!found) break;
      Hole h = found->second;
      if (firstGroup.count(h)) {
        re += "\\" + std::to_string(firstGroup[h]);  // the same value again
      } else {
        holes.push_back(h);
        firstGroup[h] = static_cast<int>(holes.size());
        switch (h) {
          case Hole::Path: re += "(" + pathPattern_ + ")"; break;
          case Hole::System: re += "([\\s\\S]*)"; break;
          case Hole::Name: re += "([^\\x0d\\x0a]*)"; break;
          case Hole::Code: re += "(-?[0-9]+)"; break;
          case Hole::Hex: re += "([0-9A-F]{8})"; break;
        }
      }
      at = best + found->first.size();
    }
    patterns_.push_back({label, spec.kind, std::regex(re), holes});
  }

  // The operating system's messages, looked up once.
  bool isSystemText(const std::string& text) const {
    if (text.empty()) return true;
    if (systemTexts_.empty())
      for (ErrorCode code = 1; code < 16000; ++code) systemTexts_.insert(systemErrorText(code));
    return systemTexts_.count(text) != 0;
  }

  std::string pathPattern_;
  std::vector<Pattern> patterns_;
  mutable std::set<std::string> systemTexts_;
};

// ---- exit codes ---------------------------------------------------------------

bool isProductErrorCode(int code) {
  static const std::set<int> own = {
      errUnspecified, errOutOfMemory, errNoSuchMember, errSizeMismatch, errDataFileNotOpen, errFileMissing,
      errShortRead, errShortHeader, errFileBusy, errNoDecompressor, errSaverNotReplaceable,
      errFlashInstallerMissing, errFlashPlayerMissing, errFlashControlFailed, errNotSwfFile, errSwfVersionTooHigh,
      errSwfVersionTooLow, errFlashControlRelease, errFlashPlayerTooOld, errFlashInstallFailed, errUserAbort,
      errWindowsNTUnsupported, errTempCopyFailed, errItemAbsent, errCopyFailed, errUninstallRegisterFailed,
      errUninstallRemoveFailed, errCorruptPackage, errBadName, errChecksumMismatch, errNoFolder, errNoWorkFolder};
  // Positive: a system or file input/output error number passed through.
  return own.count(code) || (code > 0 && code < 16000);
}

std::string exitText(int code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
  return std::to_string(code) + " (" + hex + ")";
}

// ---- the run ------------------------------------------------------------------

// Only against a hang: a run that ends is never judged by its duration.
constexpr DWORD kHangGuardMs = 10 * 60000;

struct Folders {
  std::string system = e2e::systemFolder();
  std::string common = e2e::commonFolder();
  std::string workBase = e2e::localWorkBase();
};

// Files under a folder, relative path (lower case) -> size.
std::map<std::string, std::int64_t> filesUnder(const std::string& folder) {
  DriveWalker w;
  std::map<std::string, std::int64_t> files;
  std::string base = lower(folder);
  for (const auto& [path, state] : w.take(folder))
    if (!state.folder) files[path.substr(base.size())] = state.size;
  return files;
}

class HostileRun {
public:
  HostileRun(const std::string& scratch) : scratch_(scratch), texts_({folders_.workBase, folders_.common, folders_.system}) {
    walker_.skipped = {lower(scratch), lower(winfs::tempFolder() + "e2e_flash_journal.txt")};
    std::string profile = lower(std::getenv("USERPROFILE") ? std::getenv("USERPROFILE") : "C:\\users\\root");
    for (const char* linked : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos"})
      walker_.shallow.push_back(profile + "\\" + lower(linked));
    walker_.shallow.push_back(profile + "\\appdata\\roaming\\microsoft\\windows\\templates");
    // The installer's base folders exist after its first run anyway.
    winfs::makeFolders(folders_.common);
    winfs::makeFolders(folders_.workBase);
    // What changes between two walks while nothing of the test runs is not
    // an installer's doing.
    DWORD start = GetTickCount();
    baseline_ = walker_.take();
    walkMs_ = GetTickCount() - start;
    Snapshot idle = walker_.take();
    for (const Change& c : diff(baseline_, idle, {})) volatile_.insert(c.path);
    baselineKeys_ = {uninstallEntries(HKEY_LOCAL_MACHINE), uninstallEntries(HKEY_CURRENT_USER)};
    baselineWork_ = e2e::workFolders();
  }

  DWORD walkMs() const { return walkMs_; }
  std::size_t entries() const { return baseline_.size(); }
  const std::set<std::string>& volatilePaths() const { return volatile_; }

  // Empty when the case passed; else what went wrong.
  // Dialogs checked so far, and what the cases with a free outcome did.
  int dialogsChecked = 0;
  std::vector<std::string> notes;

  std::vector<std::string> run(const HostileCase& c, int index, DWORD& elapsedMs) {
    std::string exe = scratch_ + "h" + std::to_string(index) + ".exe";
    std::vector<std::string> problems;
    if (!winfs::writeFile(exe, c.installer)) return {"cannot write the installer"};
    e2e::RunOptions options;
    options.args = {"/q"};
    options.timeoutMs = kHangGuardMs;
    DWORD start = GetTickCount();
    e2e::RunResult r = e2e::runInstaller(exe, options);
    elapsedMs = GetTickCount() - start;
    bool started = r.exitCode != -100000;

    Snapshot after = walker_.take();
    std::vector<Change> changes = diff(baseline_, after, volatile_);
    std::set<std::string> keysLm = uninstallEntries(HKEY_LOCAL_MACHINE), keysCu = uninstallEntries(HKEY_CURRENT_USER);
    std::vector<std::string> work = e2e::workFolders();

    if (r.timedOut) problems.push_back("did not end within " + std::to_string(kHangGuardMs / 60000) + " min (killed)");
    bool installed = started && r.exitCode == 0;
    bool expectInstall = c.outcome == Outcome::Installs || (c.outcome == Outcome::Either && installed);

    if (c.outcome == Outcome::Either) notes.push_back(c.name + ": " + (installed ? "installed" : "refused, exit code " + exitText(r.exitCode)));
    if (!started && c.mayNotStart) notes.push_back(c.name + ": the system refused to start it");
    for (const ui::DialogRecord& d : r.dialogs) {
      ++dialogsChecked;
      std::string why = texts_.check(d, r.exitCode);
      if (!why.empty()) problems.push_back("dialog: " + why);
    }
    if (work != baselineWork_) problems.push_back("work folder left behind");

    if (expectInstall) {
      if (!installed) problems.push_back("expected to install, exit code " + exitText(r.exitCode));
      for (const ui::DialogRecord& d : r.dialogs)
        if (installed) problems.push_back("dialog during a successful install: \"" + d.text + "\"");
      checkInstalled(c, installed, changes, keysLm, keysCu, problems);
    } else {
      if (!started && !c.mayNotStart) problems.push_back("did not start");
      if (started && r.exitCode == 0) problems.push_back("reported success (exit code 0) for a damaged installer");
      if (started && r.exitCode != 0 && !isProductErrorCode(r.exitCode))
        problems.push_back("exit code " + exitText(r.exitCode) + " is no error code of the product");
      if (started && c.code != 0 && r.exitCode != c.code)
        problems.push_back("exit code " + exitText(r.exitCode) + ", expected " + std::to_string(c.code));
      for (const Change& ch : changes) problems.push_back("left on the drive: " + describe(ch));
      if (keysLm != baselineKeys_.first || keysCu != baselineKeys_.second)
        problems.push_back("uninstall entries changed");
    }
    cleanUp(changes, keysLm, keysCu, problems);
    DeleteFileA(exe.c_str());
    return problems;
  }

private:
  void checkInstalled(const HostileCase& c, bool installed, const std::vector<Change>& changes,
                      const std::set<std::string>& keysLm, const std::set<std::string>& keysCu,
                      std::vector<std::string>& problems) const {
    std::string saverFolder = folders_.common + c.saverName + "\\";
    // Where a completed install may have written.
    std::vector<std::string> allowed = {lower(saverFolder), lower(folders_.common + c.saverName),
                                        lower(folders_.workBase)};
    for (const auto& f : c.systemFiles) allowed.push_back(lower(folders_.system + f.path));
    for (const auto& f : c.commonFiles) allowed.push_back(lower(folders_.common + f.path));
    for (const Change& ch : changes) {
      bool ok = false;
      for (const std::string& a : allowed) ok |= ch.path == a || (a.back() == '\\' && startsWith(ch.path, a));
      if (!ok) problems.push_back("outside its folders: " + describe(ch));
    }
    if (!installed) return;

    std::map<std::string, std::int64_t> expected;
    for (const auto& f : c.saverFiles) expected[lower(f.path)] = f.size;
    std::map<std::string, std::int64_t> found = filesUnder(saverFolder);
    for (const auto& [path, size] : expected) {
      auto it = found.find(path);
      if (it == found.end())
        problems.push_back("missing " + path);
      else if (it->second != size)
        problems.push_back(path + " has " + std::to_string(it->second) + " bytes, expected " + std::to_string(size));
    }
    for (const auto& [path, size] : found)
      if (!expected.count(path)) problems.push_back("unexpected file " + path);
    for (const auto& f : c.systemFiles)
      if (winfs::fileSize(folders_.system + f.path) != f.size) problems.push_back("system folder: " + f.path + " wrong or missing");
    for (const auto& f : c.commonFiles)
      if (winfs::fileSize(folders_.common + f.path) != f.size) problems.push_back("common folder: " + f.path + " wrong or missing");
    HKEY root = keysLm.count(c.saverName) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (!keysLm.count(c.saverName) && !keysCu.count(c.saverName)) {
      problems.push_back("no uninstall entry");
    } else {
      if (e2e::uninstallValue(c.saverName, "DisplayName", root) != getSaverDisplayName(c.saverName))
        problems.push_back("uninstall DisplayName wrong");
      if (e2e::uninstallValue(c.saverName, "UninstallString", root) != folders_.system + c.saverName + ".scr /u")
        problems.push_back("uninstall UninstallString wrong");
    }
  }

  // Removes what the run added, so that every case starts from the same
  // machine; what cannot be undone is reported and becomes the new baseline.
  void cleanUp(const std::vector<Change>& changes, const std::set<std::string>& keysLm,
               const std::set<std::string>& keysCu, std::vector<std::string>& problems) {
    for (const auto& [root, now, before] :
         {std::tuple{HKEY_LOCAL_MACHINE, &keysLm, &baselineKeys_.first},
          std::tuple{HKEY_CURRENT_USER, &keysCu, &baselineKeys_.second}})
      for (const std::string& name : *now)
        if (!before->count(name)) RegDeleteKeyA(root, (std::string(kUninstallKey) + "\\" + name).c_str());
    if (changes.empty()) return;
    // Deepest first: files before the folders that hold them.
    std::vector<Change> added;
    for (const Change& ch : changes)
      if (ch.kind == Change::Added) added.push_back(ch);
    std::sort(added.begin(), added.end(), [](const Change& a, const Change& b) { return a.path > b.path; });
    for (const Change& ch : added) {
      SetFileAttributesA(ch.path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileA(ch.path.c_str())) RemoveDirectoryA(ch.path.c_str());
    }
    Snapshot now = walker_.take();
    std::vector<Change> left = diff(baseline_, now, volatile_);
    if (!left.empty()) {
      problems.push_back("the test could not undo " + std::to_string(left.size()) + " change(s), e.g. " +
                         describe(left.front()));
      baseline_ = now;
    }
  }

  std::string scratch_;
  Folders folders_;
  ProductTexts texts_;
  DriveWalker walker_;
  Snapshot baseline_;
  std::set<std::string> volatile_;
  std::pair<std::set<std::string>, std::set<std::string>> baselineKeys_;
  std::vector<std::string> baselineWork_;
  DWORD walkMs_ = 0;
};

// The matcher itself: real composed texts pass, altered ones do not.
TEST(HostileProductTexts, AcceptsComposedTextsOnly) {
  Folders f;
  ProductTexts texts({f.workBase, f.common, f.system});
  auto dialog = [](const std::string& title, const std::string& text) {
    ui::DialogRecord d;
    d.title = title;
    d.text = text;
    return d;
  };
  std::string temp = f.workBase + "ZNK3\\temp.dat";
  EXPECT_EQ(texts.check(dialog("Error", installErrorText(errCorruptPackage, temp, "")), -540), "");
  EXPECT_EQ(texts.check(dialog("Error", startupErrorMessage(errCorruptPackage).text), errCorruptPackage), "");
  EXPECT_EQ(texts.check(dialog("Error", dataFileReadErrorMessage(systemErrorText(5)).text), 5), "");
  EXPECT_EQ(texts.check(dialog("Error", installErrorText(errItemAbsent, "", "")), -531), "");
  // The code shown is not the exit code; a file name that differs the
  // second time; a path outside the installer's folders; a wrong title;
  // a system text the system does not have; a text of no one.
  EXPECT_NE(texts.check(dialog("Error", startupErrorMessage(errCorruptPackage).text), errBadName), "");
  EXPECT_NE(texts.check(dialog("Error", "Installation Error: " + temp + "\r\n\r\nProblem with file " + temp + "x. "), -540), "");
  EXPECT_NE(texts.check(dialog("Error", installErrorText(errCorruptPackage, "D:\\elsewhere\\temp.dat", "")), -540), "");
  EXPECT_NE(texts.check(dialog("Information", startupErrorMessage(errCorruptPackage).text), errCorruptPackage), "");
  EXPECT_NE(texts.check(dialog("Error", dataFileReadErrorMessage("made up").text), 5), "");
  EXPECT_NE(texts.check(dialog("Error", "Installer file is corrupted."), -540), "");
}

// At most `perFamily` cases of each family, chosen by the seed, in their
// original order (for runs that cannot afford every case each time).
std::vector<HostileCase> samplePerFamily(std::vector<HostileCase> cases, int perFamily, unsigned seed) {
  std::map<std::string, std::vector<std::size_t>> byFamily;
  for (std::size_t i = 0; i < cases.size(); ++i) byFamily[cases[i].family].push_back(i);
  std::mt19937 random(seed);
  std::vector<bool> keep(cases.size(), false);
  for (auto& [family, indices] : byFamily) {
    // The first perFamily places of a Fisher-Yates shuffle.
    for (std::size_t k = 0; k < indices.size() && k < static_cast<std::size_t>(perFamily); ++k) {
      std::size_t pick = k + random() % (indices.size() - k);
      std::swap(indices[k], indices[pick]);
      keep[indices[k]] = true;
    }
  }
  std::vector<HostileCase> kept;
  for (std::size_t i = 0; i < cases.size(); ++i)
    if (keep[i]) kept.push_back(std::move(cases[i]));
  return kept;
}

class HostileInstallerTest : public FolderFixture {};

TEST_F(HostileInstallerTest, EveryCaseIsRefusedCleanlyOrInstallsCompletely) {
  ASSERT_EQ(e2e::stubBytes().size(), std::size_t{INSTALLER_SIZE_IN_BYTES2});
  DWORD suiteStart = GetTickCount();
  std::vector<HostileCase> cases = hostile::generateHostileCases(e2e::stubBytes(), e2e::implode, GetACP());
  const char* filter = std::getenv("HOSTILE_FILTER");
  if (filter && *filter)
    std::erase_if(cases, [&](const HostileCase& c) { return c.name.find(filter) == std::string::npos; });
  if (const char* sample = std::getenv("HOSTILE_SAMPLE"); sample && std::atoi(sample) > 0) {
    const char* given = std::getenv("HOSTILE_SEED");
    unsigned seed = given && *given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                                    : static_cast<unsigned>(GetTickCount() ^ (GetCurrentProcessId() << 16));
    std::size_t all = cases.size();
    cases = samplePerFamily(std::move(cases), std::atoi(sample), seed);
    std::printf("hostile sample: %zu of %zu cases, at most %d per family, seed %u "
                "(HOSTILE_SAMPLE=%d HOSTILE_SEED=%u repeats it)\n",
                cases.size(), all, std::atoi(sample), seed, std::atoi(sample), seed);
  }
  ASSERT_FALSE(cases.empty());

  e2e::FlashStandIn flash;  // the player check passes at once
  for (const HostileCase& c : cases)
    if (std::optional<std::string> text = ansiToUtf8(c.saverName, GetACP()); text && isValidSaverName(*text))
      e2e::removeSaver(c.saverName, hostile::kProgramName);
  HostileRun run(rootDir());
  std::printf("drive snapshot: %zu entries in %lu ms; changing by themselves:", run.entries(),
              static_cast<unsigned long>(run.walkMs()));
  for (const std::string& p : run.volatilePaths()) std::printf(" %s", p.c_str());
  std::printf("%s\n", run.volatilePaths().empty() ? " none" : "");

  int passed = 0;
  std::vector<std::string> failures;
  std::map<std::string, std::pair<int, int>> perFamily;  // passed, failed
  DWORD slowest = 0;
  std::string slowestName;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    DWORD ms = 0;
    std::vector<std::string> problems = run.run(cases[i], static_cast<int>(i), ms);
    if (ms > slowest) slowest = ms, slowestName = cases[i].name;
    if (problems.empty()) {
      ++passed;
      ++perFamily[cases[i].family].first;
      continue;
    }
    ++perFamily[cases[i].family].second;
    std::string line = cases[i].name + ":";
    for (const std::string& p : problems) line += "\n      " + p;
    failures.push_back(line);
  }

  std::printf("hostile installers: %d passed, %zu failed\n", passed, failures.size());
  for (const auto& [family, count] : hostile::casesPerFamily(cases))
    std::printf("  %-12s %3d cases, %3d failed\n", family.c_str(), count, perFamily[family].second);
  std::printf("  slowest run %lu ms (%s); whole suite %lu s\n", static_cast<unsigned long>(slowest),
              slowestName.c_str(), static_cast<unsigned long>((GetTickCount() - suiteStart) / 1000));
  std::printf("  %d dialogs, each one of the product's texts or reported below\n", run.dialogsChecked);
  for (const std::string& n : run.notes) std::printf("  note: %s\n", n.c_str());
  for (const std::string& f : failures) std::printf("  FAILED %s\n", f.c_str());
  EXPECT_TRUE(failures.empty()) << failures.size() << " hostile installer case(s) failed";
}

}  // namespace
