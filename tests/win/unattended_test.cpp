// Unattended installs ("/qn") and the log ("/log=<path>"), end to end under
// wine64.  No dialog answerer runs for a "/qn" run: a dialog the installer
// showed would stay until the harness's time limit ended the run, so every
// such run that ends by itself showed none.  Only the "/q" runs they are
// compared with have their dialogs answered.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "base/messages.h"
#include "resources/version.h"
#include "system/file_stream_win32.h"
#include "system/folders_win32.h"
#include "system/install_log.h"
#include "system/win_text_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/hostile_generator.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string cstr(const std::string& s) { return s + std::string(1, '\0'); }

// The lines of a log after their timestamp and process id; each line must
// have both.  Empty when there is no log.
Lines readLog(const std::string& path, std::string* raw = nullptr) {
  FileStream file;
  std::uint64_t size = 0;
  if (file.openRead(path) != errOk || file.size(size) != errOk) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  if (file.readExact(text.data(), text.size()) != errOk) return {};
  if (raw) *raw = text;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] )");
  Lines lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 2;
    std::smatch m;
    if (!std::regex_search(line, m, prefix)) {
      ADD_FAILURE() << "a log line without timestamp and process: " << line;
      continue;
    }
    lines.push_back(m.suffix());
  }
  return lines;
}

bool has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int countStarting(const Lines& lines, const std::string& start) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind(start, 0) == 0;
  }));
}

std::string joined(const Lines& lines) {
  std::string all;
  for (const std::string& l : lines) all += "\n  " + l;
  return all;
}

// The line an unanswered dialog leaves in the log.
std::string answeredByDefault(const MessageSpec& spec, const char* button) {
  return logLineFor("dialog default", {dialogTitle(spec.kind), spec.text, button});
}

// A run with nobody at the screen: "/qn" (and whatever else is given), the
// log asked for, and no dialog answerer.
e2e::RunOptions unattended(const std::string& log, std::vector<std::string> args = {"/qn"}) {
  e2e::RunOptions options;
  options.args = std::move(args);
  if (!log.empty()) options.args.push_back("/log=" + log);
  options.answer = {};
  return options;
}

// The end every unattended run must reach: by itself, no dialog shown.
void expectEndedByItself(const e2e::RunResult& run) {
  EXPECT_FALSE(run.timedOut) << "a dialog or a wait held the run until the time limit";
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs.front().text;
  EXPECT_FALSE(run.windowShown());
}

// Every file below a folder: path -> size and last write time.
using FileStates = std::map<std::string, std::pair<std::uint64_t, std::uint64_t>>;
void addFilesUnder(const std::string& folder, FileStates& files) {
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((folder + "*").c_str(), &fd));
  if (!find) return;
  do {
    std::string name = fd.cFileName, full = folder + name;
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      addFilesUnder(full + "\\", files);
      continue;
    }
    files[full] = {(std::uint64_t{fd.nFileSizeHigh} << 32) | fd.nFileSizeLow,
                   (std::uint64_t{fd.ftLastWriteTime.dwHighDateTime} << 32) | fd.ftLastWriteTime.dwLowDateTime};
  } while (FindNextFileA(find.get(), &fd));
}
FileStates filesUnder(const std::string& folder) {
  FileStates files;
  addFilesUnder(folder, files);
  return files;
}

class UnattendedTest : public e2e::SaverTest {
protected:
  UnattendedTest() : SaverTest(kSaver, kProgram) {}

  static DataFileBuilder data(const std::string& tag = "") {
    DataFileBuilder d;
    d.add("main.swf", bytesOf("FWS\x09movie" + tag))
        .add("sub\\deeper\\notes.txt", bytesOf("nested file" + tag))
        .addImploded("big.txt", bytesOf(std::string(4000, 'a') + tag), e2e::implode);
    return d;
  }
  static PackageBuilder package(const DataFileBuilder& d = data(), const std::string& program = "MZ saver") {
    PackageBuilder b;
    b.mode(4).saverName(kSaver).item(6, kProgram, 2, bytesOf(program)).readMe("readme.txt", bytesOf("read me"))
        .dataFile(d);
    return b;
  }
  std::string installer(const PackageBuilder& b, const std::string& name = "Setup.exe") const {
    std::string path = rootDir() + name;
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }
  void removeEverything() override {
    SaverTest::removeEverything();
    winfs::setReadOnly(e2e::systemFolder() + kHelper, false);
    DeleteFileA((e2e::systemFolder() + kHelper).c_str());
    DeleteFileA((e2e::commonFolder() + kShared).c_str());
  }
  std::string logPath() const { return rootDir() + "install.log"; }
  std::string saverFolder() const { return e2e::commonFolder() + kSaver + "\\"; }

  static constexpr const char* kSaver = "Unattended Saver";
  static constexpr const char* kProgram = "Unattended Saver.scr";
  static constexpr const char* kHelper = "unattended helper.dll";  // items outside the saver folder
  static constexpr const char* kShared = "unattended shared.dll";
};

TEST_F(UnattendedTest, FreshInstallReportsLikeQuietAndLogsTheRun) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.offerControlPanel(true);
  std::string path = installer(b);
  e2e::RunOptions options = unattended(logPath());
  options.viaLauncher = true;
  e2e::RunResult run = e2e::runInstaller(path, options);

  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ saver");
  EXPECT_EQ(winfs::readText(saverFolder() + "sub\\deeper\\notes.txt"), "nested file");
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
  // The launcher sees a "/q" run: the same reports, no control panel request.
  std::vector<std::string> reports;
  for (const auto& r : run.reports) reports.push_back(r.closed ? "<closed>" : r.bytes);
  EXPECT_EQ(reports, (std::vector<std::string>{cstr("read installer heard file"), cstr("quiet installer"),
                                               cstr(cstr(std::string("makeActiveSaver-") + kProgram)), "<closed>"}));

  Lines log = readLog(logPath());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().rfind("installer " INSTALLER_VERSION_TEXT " started; command line: ", 0), 0u) << log.front();
  EXPECT_NE(log.front().find("/qn"), std::string::npos);
  EXPECT_EQ(log.back(), "exit code 0");
  EXPECT_EQ(countStarting(log, "operating system code "), 1);
  EXPECT_EQ(countStarting(log, "folders: windows "), 1);
  EXPECT_TRUE(has(log, "command line parameter: /qn")) << joined(log);
  for (const char* step : {"initInstallerFolders", "copyInstallerToTempFile", "readInstallerHeader",
                           "prepareSaverFolder", "extractInstallItems", "expandDataFile", "writeSaverDataFile",
                           "copyLicenseAndReadMe"}) {
    EXPECT_TRUE(has(log, std::string("enter ") + step)) << step;
    EXPECT_TRUE(has(log, std::string("leave ") + step + ": 0")) << step;
  }
  EXPECT_TRUE(has(log, "read-me not opened: unattended run"));
  EXPECT_TRUE(has(log, logLineFor("uninstall entry", {"HKEY_LOCAL_MACHINE", "Software\\Microsoft\\Windows\\"
                                                      "CurrentVersion\\Uninstall\\Unattended Saver", kSaver,
                                                      e2e::systemFolder() + kProgram + " /u", "0"})))
      << joined(log);
  EXPECT_TRUE(has(log, "launcher report \"quiet installer\": sent")) << joined(log);
  EXPECT_TRUE(has(log, "launcher closing message 0x501: posted"));
  EXPECT_TRUE(has(log, "install sequence ended: 0"));
  EXPECT_EQ(countStarting(log, "dialog"), 0);
}

// The log's file lines are its account of the disk: after a successful run
// every file the install wrote is named, and nothing else.
TEST_F(UnattendedTest, LogNamesEveryFileTheInstallWroteAndNothingElse) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.item(7, kHelper, 2, bytesOf("MZ helper")).item(9, kShared, 3, bytesOf("shared"));
  std::string path = installer(b);
  auto watched = [] {
    FileStates all = filesUnder(e2e::commonFolder());
    all.merge(filesUnder(e2e::systemFolder()));
    return all;
  };
  FileStates before = watched();
  e2e::RunResult run = e2e::runInstaller(path, unattended(logPath()));
  FileStates after = watched();
  expectEndedByItself(run);
  ASSERT_EQ(run.exitCode, 0);

  std::set<std::string> written;  // files that are new or changed
  for (const auto& [file, state] : after) {
    auto it = before.find(file);
    if (it == before.end() || it->second != state) written.insert(file);
  }
  ASSERT_TRUE(written.count(saverFolder() + "big.txt"));
  ASSERT_TRUE(written.count(e2e::systemFolder() + kHelper));
  ASSERT_TRUE(written.count(e2e::commonFolder() + kShared));
  // The log's file lines replayed: what they leave is what the run wrote.
  std::set<std::string> named;
  auto after_ = [](const std::string& line, const std::string& prefix, std::string& rest) {
    if (line.rfind(prefix, 0) != 0) return false;
    rest = line.substr(prefix.size());
    return true;
  };
  auto unquoted = [](const std::string& text) { return text.size() >= 2 ? text.substr(1, text.size() - 2) : text; };
  for (const std::string& line : readLog(logPath())) {
    std::string rest;
    if (after_(line, "file written ", rest)) {
      named.insert(unquoted(rest));
    } else if (after_(line, "file deleted ", rest)) {
      named.erase(unquoted(rest));
    } else if (after_(line, "copied ", rest) || after_(line, "renamed ", rest)) {
      size_t to = rest.find("\" to \"");
      ASSERT_NE(to, std::string::npos) << line;
      named.erase(unquoted(rest.substr(0, to + 1)));
      named.insert(unquoted(rest.substr(to + 5)));
    }
  }
  auto watchedPath = [](const std::string& file) {
    for (const std::string& folder : {e2e::commonFolder(), e2e::systemFolder()})
      if (_strnicmp(file.c_str(), folder.c_str(), folder.size()) == 0) return true;
    return false;
  };
  for (const std::string& file : written) EXPECT_TRUE(named.count(file)) << "written but not in the log: " << file;
  for (const std::string& name : named)
    if (watchedPath(name) && !winfs::isFolder(name)) {
      EXPECT_TRUE(written.count(name)) << "in the log but not written: " << name;
    }
}

TEST_F(UnattendedTest, UpgradeReplacesTheEarlierInstallationWithNothingLeft) {
  e2e::FlashStandIn flash;
  DataFileBuilder older = data();
  older.add("only in the older.txt", bytesOf("old"));
  ASSERT_EQ(e2e::runInstaller(installer(package(older), "Old.exe"), unattended("")).exitCode, 0);
  ASSERT_TRUE(winfs::exists(saverFolder() + "only in the older.txt"));

  e2e::RunResult run =
      e2e::runInstaller(installer(package(data(" v2"), "MZ saver v2"), "New.exe"), unattended(logPath()));
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ saver v2");
  EXPECT_EQ(winfs::readText(saverFolder() + "sub\\deeper\\notes.txt"), "nested file v2");
  EXPECT_FALSE(winfs::exists(saverFolder() + "only in the older.txt"));
  for (const std::string& folder : {e2e::commonFolder(), e2e::systemFolder()})
    for (const std::string& name : winfs::listFolder(folder))
      EXPECT_EQ(name.find(".previous-install"), std::string::npos) << folder << name;
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + kSaver + ".install-journal"));
  expectWorkFolderGone();

  Lines log = readLog(logPath());
  std::string bare = e2e::commonFolder() + kSaver;
  EXPECT_TRUE(has(log, "set aside " + bare + " as " + bare + ".previous-install")) << joined(log);
  EXPECT_TRUE(has(log, "set aside " + e2e::systemFolder() + kProgram + " as " + e2e::systemFolder() + kProgram +
                           ".previous-install"))
      << joined(log);
  EXPECT_TRUE(has(log, "install committed: the set-aside earlier installation goes"));
  // Kept for the record of a real run (the build folder outlives the test).
  CopyFileA(logPath().c_str(), winfs::hostPath(TEST_BINARY_DIR "/unattended-upgrade.log").c_str(), FALSE);
}

// A package made for a window, a license, the control panel offer and a
// read-me: with "/qn" none of it waits for a person.
TEST_F(UnattendedTest, PackageThatWouldShowItsWindow) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.mode(2).offerControlPanel(true).license("license.rtf", bytesOf("{\\rtf1 terms}"));
  e2e::RunOptions options = unattended(logPath());
  options.viaLauncher = true;
  e2e::RunResult run = e2e::runInstaller(installer(b), options);
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::readText(saverFolder() + "readme.txt"), "read me");
  for (const auto& r : run.reports) EXPECT_NE(r.bytes, cstr("openScreenSaverControlPanel"));
  Lines log = readLog(logPath());
  EXPECT_TRUE(has(log, "read-me not opened: unattended run"));
  EXPECT_EQ(countStarting(log, "enter playMovie"), 0);
  EXPECT_EQ(log.back(), "exit code 0");
}

// No player and none carried: "/q" shows -402 and waits; "/qn" logs it and
// ends with the same code, before anything is installed.  "/q" with "/qn"
// is "/qn", and each of them is reported to the launcher as "/q" is.
TEST_F(UnattendedTest, NoFlashPlayerEndsWithItsCodeAndTheMessageInTheLog) {
  e2e::RunOptions options = unattended(logPath(), {"/q", "/QN"});
  options.viaLauncher = true;
  e2e::RunResult run = e2e::runInstaller(installer(package()), options);
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, errFlashPlayerMissing);
  expectNothingOfTheSaver();
  expectWorkFolderGone();
  int quietReports = 0;
  for (const auto& r : run.reports) quietReports += r.bytes == cstr("quiet installer");
  EXPECT_EQ(quietReports, 2);
  Lines log = readLog(logPath());
  EXPECT_TRUE(has(log, answeredByDefault(startupErrorMessage(errFlashPlayerMissing), "OK"))) << joined(log);
  EXPECT_TRUE(has(log, "no Flash Player installed"));
  EXPECT_EQ(log.back(), "exit code -402 (0xFFFFFE6E)");
}

// A carried player installer that installs nothing: -416 as with "/q", and
// the player installer is not started a second time for a user to complete.
TEST_F(UnattendedTest, FailedPlayerInstallationIsNotOfferedToAUser) {
  PackageBuilder b = package();
  ASSERT_TRUE(e2e::carryBrokenPlayerInstaller(b));
  e2e::RunResult run = e2e::runInstaller(installer(b), unattended(logPath()));
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, errFlashInstallFailed);
  expectNothingOfTheSaver();
  Lines log = readLog(logPath());
  EXPECT_TRUE(has(log, answeredByDefault(startupErrorMessage(errFlashInstallFailed), "OK"))) << joined(log);
  EXPECT_EQ(countStarting(log, "Flash Player installer started silently: "), 1) << joined(log);
  EXPECT_EQ(countStarting(log, "Flash Player installer started"), 1) << joined(log);
  // The silent run of the player installer may still hold its folder.
  for (const std::string& name : e2e::workFolders())
    if (std::find(workFoldersBefore_.begin(), workFoldersBefore_.end(), name) == workFoldersBefore_.end())
      winfs::removeTree(e2e::localWorkBase() + name + "\\");
}

// A damaged installer: the two dialogs "/q" shows are in the log, the code is the same.
TEST_F(UnattendedTest, DamagedInstallerEndsWithItsCodeAndBothMessagesInTheLog) {
  e2e::FlashStandIn flash;
  std::string bare = rootDir() + "Bare.exe";
  ASSERT_TRUE(winfs::writeFile(bare, e2e::stubBytes()));
  e2e::RunResult run = e2e::runInstaller(bare, unattended(logPath()));
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, errShortHeader);
  Lines log = readLog(logPath());
  ASSERT_EQ(countStarting(log, "dialog not shown (unattended), \"Error\": \"Installation Error: "), 1) << joined(log);
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& l) {
                           return l.find("temp.dat") != std::string::npos && l.rfind("dialog not shown", 0) == 0;
                         }),
            log.end());
  EXPECT_TRUE(has(log, answeredByDefault(startupErrorMessage(errShortHeader), "Abort")));
  expectWorkFolderGone();

  // With "/q" the same dialogs are shown, and the log has them with the button pressed.
  e2e::RunOptions quiet;
  quiet.args = {"/q", "/log=" + logPath()};
  DeleteFileA(logPath().c_str());
  e2e::RunResult shown = e2e::runInstaller(bare, quiet);
  EXPECT_EQ(shown.exitCode, errShortHeader);
  ASSERT_EQ(shown.dialogs.size(), 2u);
  log = readLog(logPath());
  EXPECT_TRUE(has(log, logLineFor("dialog", {"", "Error", startupErrorMessage(errShortHeader).text, "3", "&Abort"})))
      << joined(log);
  EXPECT_EQ(countStarting(log, "dialog answered: Abort"), 2);

  // A changed byte under the integrity trailer.
  Bytes damaged = e2e::buildInstaller(package());
  damaged[INSTALLER_SIZE_IN_BYTES2 + 8] ^= 0x55;
  std::string path = rootDir() + "Damaged.exe";
  ASSERT_TRUE(winfs::writeFile(path, damaged));
  run = e2e::runInstaller(path, unattended(logPath()));
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, errChecksumMismatch);
  log = readLog(logPath());
  EXPECT_TRUE(has(log, answeredByDefault(startupErrorMessage(errChecksumMismatch), "Abort"))) << joined(log);
  EXPECT_EQ(countStarting(log, "installer " INSTALLER_VERSION_TEXT " started"), 2);  // appended to
  expectNothingOfTheSaver();
}

// Another installer of the same saver holds its journal: the run stops with
// "file busy" (-32, retry later) and the earlier installation stays.
TEST_F(UnattendedTest, BusyFileEndsWithRetryLaterAndLeavesTheEarlierInstallation) {
  e2e::FlashStandIn flash;
  ASSERT_EQ(e2e::runInstaller(installer(package(), "Old.exe"), unattended("")).exitCode, 0);
  std::string before = winfs::fingerprint(saverFolder());
  std::string journal = e2e::commonFolder() + kSaver + ".install-journal";
  ASSERT_TRUE(winfs::writeFile(journal, "saver install journal 1\n"));
  UniqueFile held(CreateFileA(journal.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  e2e::RunResult run = e2e::runInstaller(installer(package(data(" v2"), "MZ saver v2")), unattended(logPath()));
  held.reset();
  DeleteFileA(journal.c_str());
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, errFileBusy);
  EXPECT_EQ(winfs::fingerprint(saverFolder()), before);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ saver");
  Lines log = readLog(logPath());
  EXPECT_TRUE(has(log, "leave prepareSaverFolder: -32")) << joined(log);
  EXPECT_EQ(log.back(), "exit code -32 (0xFFFFFFE0)");
  expectWorkFolderGone();
}

// The log's path: letters outside the code page, a path that cannot be a
// file, and a link planted where it is to be written.  The install never
// depends on the log.
TEST_F(UnattendedTest, LogPathsOutsideTheCodePageAndOnesThatCannotBeWritten) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  const std::string downloads = "C:\\\xE4\xB8\x8B\xE8\xBD\xBD\\";  // C:\下载\ .
  createFolderPath(downloads);
  ASSERT_TRUE(folderExists(downloads));
  const std::string wideLog = downloads + "\xE5\xAE\x89\xE8\xA3\x85.log";  // 安装.log
  e2e::RunResult run = e2e::runInstaller(path, unattended(wideLog));
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, 0);
  std::string raw;
  Lines log = readLog(wideLog, &raw);
  EXPECT_EQ(raw.rfind("\xEF\xBB\xBF", 0), 0u);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.front().find("/log=" + wideLog), std::string::npos) << log.front();
  EXPECT_EQ(log.back(), "exit code 0");
  deleteFolderTree(downloads);

  struct Case {
    const char* name;
    std::string log;
  } cases[] = {
      {"folder missing", rootDir() + "no such folder\\install.log"},
      {"a folder", rootDir()},
      {"hard link", rootDir() + "linked.log"},
  };
  const std::string target = rootDir() + "not a log.txt";
  ASSERT_TRUE(winfs::writeFile(target, "precious"));
  ASSERT_TRUE(CreateHardLinkA(cases[2].log.c_str(), target.c_str(), nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::RunResult r = e2e::runInstaller(path, unattended(c.log));
    expectEndedByItself(r);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
    EXPECT_FALSE(winfs::exists(rootDir() + "no such folder"));
  }
  EXPECT_EQ(winfs::readText(target), "precious");
  expectWorkFolderGone();
}

// Points the user's "Local AppData" shell folder elsewhere while it lives,
// both where the shell reads it and where it caches it.
class LocalAppDataElsewhere {
public:
  explicit LocalAppDataElsewhere(const std::string& folder) {
    for (Value& v : values_) {
      UniqueRegKey key;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, v.key, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) continue;
      char data[MAX_PATH * 2] = {};
      DWORD size = sizeof data - 1;
      v.saved = RegQueryValueExA(key.get(), kName, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) ==
                ERROR_SUCCESS;
      v.data.assign(data, size);
      RegSetValueExA(key.get(), kName, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>(folder.size() + 1));
    }
  }
  ~LocalAppDataElsewhere() {
    for (Value& v : values_) {
      UniqueRegKey key;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, v.key, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) continue;
      if (v.saved)
        RegSetValueExA(key.get(), kName, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                       static_cast<DWORD>(v.data.size()));
      else
        RegDeleteValueA(key.get(), kName);
    }
  }
  LocalAppDataElsewhere(const LocalAppDataElsewhere&) = delete;
  LocalAppDataElsewhere& operator=(const LocalAppDataElsewhere&) = delete;

private:
  static constexpr const char* kName = "Local AppData";
  struct Value {
    const char* key;
    bool saved = false;
    DWORD type = REG_SZ;
    std::string data;
  };
  Value values_[2] = {{"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", false, REG_SZ, {}},
                      {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false, REG_SZ, {}}};
};

// Run as SYSTEM, the installer gets SYSTEM's profile from the shell: the work
// folder is made where the shell says (here a stand-in for
// ...\config\systemprofile\AppData\Local) and removed again.
TEST_F(UnattendedTest, WorkFolderFollowsTheProfileTheShellGives) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  const std::string local = rootDir() + "systemprofile\\AppData\\Local";
  ASSERT_TRUE(winfs::makeFolders(local));
  e2e::RunResult run;
  {
    LocalAppDataElsewhere elsewhere(local);
    run = e2e::runInstaller(path, unattended(logPath()));
  }
  expectEndedByItself(run);
  EXPECT_EQ(run.exitCode, 0);
  Lines log = readLog(logPath());
  auto folders =
      std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("folders: ", 0) == 0; });
  ASSERT_NE(folders, log.end());
  EXPECT_NE(folders->find(", work " + local + "\\Brindlefax\\ZNK1\\"), std::string::npos) << *folders;
  EXPECT_EQ(winfs::listFolder(local + "\\Brindlefax\\"), std::vector<std::string>{});
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
}

// A sample of the hostile generator's families: "/qn" ends with the code
// "/q" gives, and every dialog "/q" showed is in the log with its answer.
TEST_F(UnattendedTest, HostileInstallersEndAsUnderQuietWithTheirMessagesLogged) {
  e2e::FlashStandIn flash;
  std::vector<hostile::HostileCase> cases = hostile::generateHostileCases(e2e::stubBytes(), e2e::implode, GetACP());
  std::set<std::string> families;
  int compared = 0;
  for (const hostile::HostileCase& c : cases) {
    if (!families.insert(c.family).second) continue;  // the first case of each family
    SCOPED_TRACE(c.name);
    std::string path = rootDir() + "hostile.exe";
    ASSERT_TRUE(winfs::writeFile(path, c.installer));
    auto clean = [&c] {
      e2e::removeSaver(hostile::kSaverName, hostile::kProgramName);
      for (const auto& f : c.systemFiles) DeleteFileA((e2e::systemFolder() + f.path).c_str());
      for (const auto& f : c.commonFiles) DeleteFileA((e2e::commonFolder() + f.path).c_str());
    };
    clean();
    e2e::RunOptions quiet;
    quiet.args = {"/q"};
    e2e::RunResult shown = e2e::runInstaller(path, quiet);
    clean();
    DeleteFileA(logPath().c_str());
    e2e::RunResult run = e2e::runInstaller(path, unattended(logPath()));
    clean();
    if (c.mayNotStart && (shown.exitCode == -100000 || run.exitCode == -100000)) continue;
    ++compared;
    ASSERT_FALSE(shown.timedOut);
    expectEndedByItself(run);
    EXPECT_EQ(run.exitCode, shown.exitCode);
    Lines log = readLog(logPath());
    for (const ui::DialogRecord& d : shown.dialogs) {
      // The recorded dialog was read back in the code page; the log is UTF-8.
      std::string start = logLineFor("dialog default", {fromAnsiText(d.title.data(), d.title.size()),
                                                        fromAnsiText(d.text.data(), d.text.size()), ""});
      EXPECT_EQ(countStarting(log, start), 1) << d.text << joined(log);
    }
    EXPECT_EQ(countStarting(log, "dialog not shown"), static_cast<int>(shown.dialogs.size())) << joined(log);
  }
  std::printf("[ info ] %d hostile families compared under /q and /qn\n", compared);
  EXPECT_GE(compared, 5);
  expectWorkFolderGone();
}

}  // namespace
