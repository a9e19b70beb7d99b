// Whole-installer runs for the end-to-end tests (see installer_harness.h).
#include "tests/win/support/installer_harness.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/installer_form_win32.h"
#include "base/diagnostic_trace.h"
#include "system/handles_win32.h"
#include "tests/fixtures/flash_standin/flash_standin_settings.h"
#include "tests/fixtures/screenshot.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/unix_link.h"
#include "tools/implode/implode.h"

namespace e2e {
namespace {

std::string specialFolder(int csidl) {
  char path[MAX_PATH + 1] = {};
  SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
  std::string s(path);
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

std::vector<LauncherReport> parseLauncherLog(const std::string& text) {
  std::vector<LauncherReport> reports;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    char hex[70000] = {};
    int sender = 0;
    unsigned long data = 0, cb = 0;
    if (std::sscanf(line.c_str(), "copydata %d %lu %lu %69999s", &sender, &data, &cb, hex) >= 3) {
      LauncherReport r;
      r.senderGiven = sender != 0;
      r.cbData = cb;
      r.bytes = fromHex(hex);
      reports.push_back(r);
    } else if (line.rfind("closed", 0) == 0) {
      LauncherReport r;
      r.closed = true;
      reports.push_back(r);
    }
  }
  return reports;
}

const char kInprocKey[] = STANDIN_CLSID_KEY "\\InprocServer32";

void setString(HKEY root, const char* key, const char* name, const std::string& value) {
  UniqueRegKey k;
  RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(), nullptr);
  RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

}  // namespace

std::vector<std::string> RunResult::dialogTexts() const {
  std::vector<std::string> texts;
  for (const auto& d : dialogs) texts.push_back(d.text);
  return texts;
}

const std::vector<std::uint8_t>& stubBytes() {
  static const std::vector<std::uint8_t> bytes = winfs::readFile(winfs::hostPath(TEST_BINARY_DIR "/stub.exe"));
  return bytes;
}

std::string fixturePath(const std::string& name) { return winfs::hostPath(TEST_BINARY_DIR "/fixtures/" + name); }

bool carryBrokenPlayerInstaller(PackageBuilder& b) {
  std::vector<std::uint8_t> standin = winfs::readFile(fixturePath("flash_installer_standin.exe"));
  if (standin.empty()) return false;
  b.flashInstaller("broken_player_setup.exe", standin, 0);
  b.editHeader([](PackageHeader& h) { h.items[2].itemType = 7; });
  return true;
}

std::vector<std::uint8_t> implode(const std::vector<std::uint8_t>& data) {
  return implodeBuffer(data.data(), data.size());
}

std::vector<std::uint8_t> buildInstaller(const PackageBuilder& builder, bool trailer) {
  return builder.build(stubBytes(), BuildOptions{trailer});
}

std::vector<std::string> RunResult::statuses() const {
  std::vector<std::string> texts;
  for (const TraceEvent& e : events)
    if (e.kind == "status" && (texts.empty() || texts.back() != e.field(0))) texts.push_back(e.field(0));
  return texts;
}

int RunResult::highestProgress() const {
  int highest = 0;
  for (const TraceEvent& e : events)
    if (e.kind == "progress" && e.number() > highest) highest = e.number();
  return highest;
}

bool RunResult::windowShown() const {
  for (const TraceEvent& e : events)
    if (e.kind == "window") return true;
  return false;
}

bool RunResult::installEnded(int* result) const {
  bool ended = false;
  for (const TraceEvent& e : events) {
    if (e.kind != "install end") continue;
    ended = true;
    if (result) *result = e.number();
  }
  return ended;
}

namespace {

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK matchControlId(HWND w, LPARAM lp) {
  auto* search = reinterpret_cast<ControlSearch*>(lp);
  if (GetDlgCtrlID(w) != search->id) return TRUE;
  search->found = w;
  return FALSE;
}

}  // namespace

HWND formControl(HWND form, int id) {
  ControlSearch search{id, nullptr};
  EnumChildWindows(form, matchControlId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

InstallerSession::InstallerSession(const std::string& path, const RunOptions& options)
    : path_(path), launcherLog_(path + ".launcher.log"), options_(options) {
  DeleteFileA(launcherLog_.c_str());
  TraceAnswer answer = [this](const TraceEvent& e) {
    return e.kind == "file" && options_.fileAnswer ? options_.fileAnswer(e) : 'k';
  };
  trace_ = std::make_unique<TraceListener>([this](const TraceEvent& e) { onEvent(e); }, answer);
  if (!trace_->listening()) return;
  std::vector<std::string> args = options.args;
  // The channel reaches the installer through the environment (the
  // launcher passes its own on); only this start sees it, and the
  // variables the options ask for.
  std::vector<std::pair<std::string, std::string>> variables = options.environment;
  variables.emplace_back(kTraceChannelVariable, trace_->channelName());
  if (options.traceFiles || options.fileAnswer) variables.emplace_back("SAVER_INSTALLER_TRACE_FILES", "1");
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto& [name, value] : variables) {
    char old[4096];
    DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    saved.emplace_back(name, n > 0 && n < sizeof old ? std::optional<std::string>(old) : std::nullopt);
    SetEnvironmentVariableA(name.c_str(), value.c_str());
  }
  if (options.viaLauncher) {
    args.insert(args.begin(), {launcherLog_, path});
    started_ = runner_.start(fixturePath("launcher_double.exe"), args);
  } else {
    started_ = runner_.start(path, args);
  }
  for (auto it = saved.rbegin(); it != saved.rend(); ++it)
    SetEnvironmentVariableA(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
}

InstallerSession::~InstallerSession() {
  if (started_ && runner_.running()) runner_.kill();
  trace_->stop();
}

void InstallerSession::onEvent(const TraceEvent& e) {
  if (options_.onEvent) options_.onEvent(e);
  if (e.kind != "dialog") return;
  // The installer waits until this returns; the posted click is taken up
  // by the dialog's own loop once it runs.
  ui::DialogRecord r = e.dialog();
  r.shownAtMs = GetTickCount();
  r.answer = options_.answer ? options_.answer(r) : 0;
  if (r.answer) {
    HWND button = GetDlgItem(e.window(), r.answer);
    if (!button || !PostMessageA(button, BM_CLICK, 0, 0)) r.answer = 0;
  }
  ui::Lock guard(lock_);
  dialogs_.push_back(std::move(r));
}

HWND InstallerSession::waitForForm(DWORD timeoutMs) const {
  TraceEvent shown;
  if (!started_ || !trace_->waitFor([](const TraceEvent& e) { return e.kind == "window"; }, runner_.handle(),
                                    timeoutMs, &shown))
    return nullptr;
  return shown.window();
}

bool InstallerSession::waitForInstallEnd(int* result, DWORD timeoutMs) const {
  TraceEvent end;
  if (!started_ || !trace_->waitFor([](const TraceEvent& e) { return e.kind == "install end"; }, runner_.handle(),
                                    timeoutMs, &end))
    return false;
  if (result) *result = end.number();
  return true;
}

RunResult InstallerSession::finish() {
  RunResult result;
  if (!started_) {
    result.exitCode = -100000;
    return result;
  }
  result.exitCode = runner_.waitOrKill(options_.timeoutMs);
  result.timedOut = runner_.timedOut();
  trace_->stop();
  result.events = trace_->events();
  {
    ui::Lock guard(lock_);
    result.dialogs = dialogs_;
  }
  if (options_.viaLauncher) result.reports = parseLauncherLog(winfs::readText(launcherLog_));
  return result;
}

TraceHandler pressCancelAt(std::function<bool(const TraceEvent&)> when, bool* pressed) {
  *pressed = false;
  auto cancel = std::make_shared<HWND>(nullptr);
  return [when = std::move(when), pressed, cancel](const TraceEvent& e) {
    if (e.kind == "window") *cancel = formControl(e.window(), idCancelBtn);
    if (!*pressed && *cancel && when(e)) *pressed = PostMessageA(*cancel, BM_CLICK, 0, 0) != FALSE;
  };
}

std::function<bool(const TraceEvent&)> atProgress(int step) {
  return [step](const TraceEvent& e) { return e.kind == "progress" && e.number() == step; };
}

std::function<bool(const TraceEvent&)> atStatus(const std::string& text) {
  return [text](const TraceEvent& e) { return e.kind == "status" && e.field(0) == text; };
}

RunResult runInstaller(const std::string& path, const RunOptions& options) {
  InstallerSession session(path, options);
  return session.finish();
}

std::string systemFolder() {
  char path[MAX_PATH + 1] = {};
  GetSystemDirectoryA(path, MAX_PATH);
  return std::string(path) + "\\";
}

std::string commonFolder() { return specialFolder(CSIDL_COMMON_APPDATA) + "Brindlefax\\"; }

std::string localWorkBase() { return specialFolder(CSIDL_LOCAL_APPDATA) + "Brindlefax\\"; }

bool uninstallEntryExists(const std::string& saverName, HKEY root) {
  UniqueRegKey key;
  std::string path = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + saverName;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::string uninstallValue(const std::string& saverName, const std::string& value, HKEY root) {
  UniqueRegKey key;
  std::string path = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + saverName;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1, type = 0;
  if (RegQueryValueExA(key.get(), value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return {};
  return buffer;
}

void removeSaver(const std::string& saverName, const std::string& programName) {
  winfs::removeTree(commonFolder() + saverName + "\\");
  // Its journal, and one a test planted or the installer set aside.
  for (const std::string& name : winfs::listFolder(commonFolder()))
    if (name.rfind(saverName + ".", 0) == 0) winfs::removeTree(commonFolder() + name);
  winfs::setReadOnly(systemFolder() + programName, false);
  DeleteFileA((systemFolder() + programName).c_str());
  std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + saverName;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

std::vector<std::string> workFolders() {
  std::vector<std::string> names;
  for (const std::string& n : winfs::listFolder(localWorkBase()))
    if (n.rfind("ZNK", 0) == 0) names.push_back(n);
  return names;
}

bool screenshot(const std::string& name) { return fixture::screenshot(TEST_BINARY_DIR "/screenshots/" + name); }

FlashStandIn::FlashStandIn(const std::string& version) {
  // In the system folder, the only place the installer takes it from.
  setString(HKEY_CLASSES_ROOT, kInprocKey, nullptr,
            winfs::systemCopyOf(fixturePath("flash_standin.dll"), "Macromed\\Flash\\flash_standin.ocx"));
  setString(HKEY_CLASSES_ROOT, kInprocKey, "ThreadingModel", "Apartment");
  setString(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY, "Version", version);
  setString(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY, "Journal", winfs::tempFolder() + "e2e_flash_journal.txt");
  DeleteFileA((winfs::tempFolder() + "e2e_flash_journal.txt").c_str());
}

FlashStandIn::~FlashStandIn() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kInprocKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, STANDIN_CLSID_KEY);
  RegDeleteKeyA(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY);
}

std::string FlashStandIn::journal() const { return winfs::readText(winfs::tempFolder() + "e2e_flash_journal.txt"); }

}  // namespace e2e

namespace e2e {
void FlashStandIn::clearJournal() const { DeleteFileA((winfs::tempFolder() + "e2e_flash_journal.txt").c_str()); }
}  // namespace e2e

namespace e2e {

void SaverTest::SetUp() {
  FolderFixture::SetUp();
  ASSERT_EQ(stubBytes().size(), 691200u);
  removeEverything();
  workFoldersBefore_ = workFolders();
}

void SaverTest::TearDown() {
  removeEverything();
  FolderFixture::TearDown();
}

void SaverTest::removeEverything() { removeSaver(saver_, program_); }

std::string SaverTest::installer(const PackageBuilder& b, const std::string& name) {
  std::string path = rootDir() + name;
  EXPECT_TRUE(winfs::writeFile(path, buildInstaller(b)));
  return path;
}

RunResult SaverTest::runQuiet(const std::string& path, bool viaLauncher) {
  RunOptions options;
  options.args = {"/q"};
  options.viaLauncher = viaLauncher;
  return runInstaller(path, options);
}

void SaverTest::expectNothingOfTheSaver() const {
  EXPECT_FALSE(winfs::exists(commonFolder() + saver_ + "\\"));
  EXPECT_FALSE(winfs::exists(systemFolder() + program_));
  EXPECT_FALSE(uninstallEntryExists(saver_));
}

void SaverTest::expectWorkFolderGone() const { EXPECT_EQ(workFolders(), workFoldersBefore_); }

std::string SaverTest::newWorkFolder() const {
  std::vector<std::string> added;
  for (const std::string& name : workFolders())
    if (std::find(workFoldersBefore_.begin(), workFoldersBefore_.end(), name) == workFoldersBefore_.end())
      added.push_back(name);
  return added.size() == 1 ? localWorkBase() + added[0] + "\\" : std::string();
}

}  // namespace e2e
