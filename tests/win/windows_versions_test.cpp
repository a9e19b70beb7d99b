// The installs on each Windows the installer promises, with names in the
// code page the system runs in.  scripts/test runs this suite in 32-bit Wine
// prefixes that report Windows 98 and NT 4.0, each with code pages 1252 and
// 1251; it runs wherever the other tests run too.  What the version decides
// is taken from what the system reports, not assumed:
//   - Windows 95, 98, ME: the uninstall entry's command is the short (8.3)
//     path of the saver program, and the installer calls no W function
//     those systems do not implement (read from Wine's relay trace, which
//     the 98 and NT 4.0 runs provide: Wine itself would run them);
//   - Windows NT 4: a package carrying a Flash Player installer (version 9
//     or 10, both above 7) is refused at start-up with -455 and its message;
//   - every version: the folders are the system's (system directory, common
//     and local application data), the sample saver's uninstall command
//     removes the installation as Windows runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/code_page.h"
#include "base/error_codes.h"
#include "base/messages.h"
#include "app/installer_form_win32.h"
#include "system/os_version_win32.h"
#include "system/saver_naming.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"
#include "tests/win/support/relay_trace.h"
#include "tests/win/support/scheduled_deletion.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The names of a test, in UTF-8: a saver and two data files (one nested),
// in the script of the code page the system runs in.
struct Names {
  std::string saver, file, nested;
};

Names namesFor(unsigned codePage) {
  switch (codePage) {
    case 1252: return {"Café Crème", "crème brûlée.txt", "façade\\été.txt"};
    case 1251: return {"Аквариум", "рыбы.txt", "вода\\ёж.txt"};
    default: return {"Version Test Saver", "notes.txt", "sub\\deeper.txt"};
  }
}

std::string ansi(const std::string& utf8) { return utf8ToAnsiLossy(utf8, GetACP()); }

std::string utf8Of(const wchar_t* text, int length) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

const Bytes& saverProgram() {
  static const Bytes bytes = winfs::readFile(winfs::hostPath(TEST_BINARY_DIR "/sample-saver.exe"));
  return bytes;
}

struct Reported {
  OSVERSIONINFOA version{};
  WindowsVersionFlags flags;
  int code = 0;
  bool win9x() const { return flags.isWin95 || flags.isWin98 || flags.isWinME; }
  bool nt4() const { return code == kOsWinNT4; }
};

Reported reported() {
  Reported r;
  r.version.dwOSVersionInfoSize = sizeof r.version;
  GetVersionExA(&r.version);
  r.flags = getWindowsVersionFlags();
  r.code = GetOperatingSystem();
  return r;
}

const char* versionName(const Reported& r) {
  switch (r.code) {
    case kOs64Bit: return "64-bit Windows";
    case kOsWin95: return "Windows 95";
    case kOsWin98: return "Windows 98";
    case kOsWin98SE: return "Windows 98 Second Edition";
    case kOsWinME: return "Windows ME";
    case kOsWinNT4: return "Windows NT 4.0";
    case kOsWin2000: return "Windows 2000";
    case kOsWinXP: return "Windows XP";
    default: return "a later Windows";
  }
}

std::string shortPath(const std::string& path) {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

class WindowsVersionTest : public e2e::SaverTest {
protected:
  WindowsVersionTest()
      : SaverTest(saverAnsi_.c_str(), programAnsi_.c_str()) {}

  static void SetUpTestSuite() {
    Reported r = reported();
    std::printf("[ windows ] the system reports %s: version %lu.%lu, build %lu, platform %lu, \"%s\" "
                "(operating-system code %d); ANSI code page %u\n",
                versionName(r), r.version.dwMajorVersion, r.version.dwMinorVersion, r.version.dwBuildNumber & 0xFFFF,
                r.version.dwPlatformId, r.version.szCSDVersion, r.code, GetACP());
    std::printf("[ windows ] folders: system %s, common %s, work under %s\n", e2e::systemFolder().c_str(),
                e2e::commonFolder().c_str(), e2e::localWorkBase().c_str());
  }

  void SetUp() override {
    SaverTest::SetUp();
    ASSERT_GT(saverProgram().size(), 1000u) << "build the sample_saver target";
  }
  void TearDown() override {
    SaverTest::TearDown();
    e2e::forgetScheduledDeletions(programAnsi_);
  }

  // The sample saver with a picture and the code page's names in its data.
  PackageBuilder package(const std::string& tag = "first") const {
    DataFileBuilder data;
    data.add("picture.jpg", winfs::readFile(winfs::hostPath(TEST_FIXTURES_DIR "/previews/preview.jpg")))
        .add(ansi(names_.file), bytesOf("file " + tag))
        .add(ansi(names_.nested), bytesOf("nested " + tag))
        .add(tag + ".txt", bytesOf(tag));
    PackageBuilder b;
    b.mode(2).saverName(saverAnsi_).item(6, programAnsi_, 2, saverProgram()).dataFile(data);
    return b;
  }

  std::string writeInstaller(const PackageBuilder& b, const std::string& name = "VersionSetup.exe") {
    std::string path = rootDir() + name;
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }

  std::string program() const { return e2e::systemFolder() + programAnsi_; }
  std::string folder() const { return e2e::commonFolder() + saverAnsi_ + "\\"; }

  // What the uninstall entry's command must be on this system.
  std::string expectedUninstallString() const {
    if (!system_.win9x()) return program() + " /u";
    std::string shortened = shortPath(program());
    EXPECT_FALSE(shortened.empty());
    EXPECT_EQ(shortened.find(' '), std::string::npos) << shortened;
    return shortened + " /u";
  }

  void expectInstalled(const std::string& tag) {
    EXPECT_EQ(winfs::fileSize(program()), static_cast<std::int64_t>(saverProgram().size()));
    EXPECT_EQ(winfs::fileSize(folder() + "saver.dat"), 1240);
    EXPECT_EQ(winfs::readText(folder() + ansi(names_.file)), "file " + tag);
    EXPECT_EQ(winfs::readText(folder() + ansi(names_.nested)), "nested " + tag);
    EXPECT_EQ(winfs::readText(folder() + tag + ".txt"), tag);
    EXPECT_EQ(e2e::uninstallValue(saverAnsi_, "DisplayName"), ansi(getSaverDisplayName(names_.saver)));
    EXPECT_EQ(e2e::uninstallValue(saverAnsi_, "UninstallString"), expectedUninstallString());
    expectWorkFolderGone();
  }

  // The installer called only W functions this Windows implements (a 9x
  // system has stubs for the others).
  void expectCallsThisWindowsHas(const e2e::RelayTrace& trace, const std::string& who) {
    if (!e2e::RelayTrace::available()) return;
    std::map<std::string, int> calls = trace.calls();
    EXPECT_FALSE(calls.empty()) << "no calls of " << who << " in the relay trace";
    std::string wide;
    for (const auto& [function, count] : calls)
      if (e2e::isWideFunction(function) && !e2e::wideFunctionWorksOnWindows9x(function) &&
          // The C++ run-time library makes its mutexes' semaphores so; the
          // failure on 9x matters only when two threads contend for one.
          function != "KERNEL32.CreateSemaphoreW")
        wide += " " + function + " (" + std::to_string(count) + "x)";
    std::printf("[ windows ] %s called %zu functions of the system%s%s\n", who.c_str(), calls.size(),
                !system_.win9x() ? "" : wide.empty() ? ", no W function 9x lacks" : ", W functions 9x lacks:",
                system_.win9x() ? wide.c_str() : "");
    if (system_.win9x()) {
      EXPECT_EQ(wide, "") << who << " calls W functions that fail on " << versionName(system_);
    }
  }

  e2e::RunResult quietInstall(const std::string& setup, const e2e::RelayTrace* trace = nullptr) {
    e2e::RunOptions options;
    options.args = {"/q"};
    options.answer = ui::answerWithFirstOf({IDYES, IDOK});
    if (trace) options.environment = trace->environment();
    return e2e::runInstaller(setup, options);
  }

  // Through the launcher double: the window shown, its caption (UTF-8)
  // read, Install pressed; every question answered Yes (or OK).
  e2e::RunResult interactiveInstall(const std::string& setup, std::string* caption = nullptr) {
    e2e::RunOptions options;
    options.viaLauncher = true;
    options.answer = ui::answerWithFirstOf({IDYES, IDOK});
    e2e::InstallerSession session(setup, options);
    HWND form = session.waitForForm();
    EXPECT_NE(form, nullptr) << "no installer window";
    if (form) {
      wchar_t text[256] = {};
      int n = GetWindowTextW(form, text, 256);
      if (caption) *caption = utf8Of(text, n);
      EXPECT_TRUE(ui::pressButton(form, idInstallBtn));
    }
    return session.finish();
  }

  static inline const Names names_ = namesFor(GetACP());
  static inline const std::string saverAnsi_ = ansi(names_.saver);
  static inline const std::string programAnsi_ = saverAnsi_ + ".scr";
  const Reported system_ = reported();
  e2e::FlashStandIn flash_;  // the player check passes at once
};

TEST_F(WindowsVersionTest, QuietInstall) {
  std::string setup = writeInstaller(package());
  e2e::RelayTrace trace({"VersionSetup.exe", "impborl.dll"});
  e2e::RunResult run = quietInstall(setup, &trace);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  expectInstalled("first");
  // The work folder was this user's local application data.
  std::string work;
  for (const e2e::TraceEvent& e : run.events)
    if (e.kind == "work folder") work = e.field(0);
  std::string base = ansiToUtf8(e2e::localWorkBase(), GetACP()).value_or("");
  EXPECT_EQ(work.rfind(base + "ZNK", 0), 0u) << work << " is not under " << base;
  expectCallsThisWindowsHas(trace, "the installer");
}

TEST_F(WindowsVersionTest, InteractiveInstall) {
  std::string caption;
  e2e::RunResult run = interactiveInstall(writeInstaller(package().offerControlPanel(true)), &caption);
  EXPECT_EQ(caption, getInstallerCaption(names_.saver));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, controlPanelQuestionMessage().text);
  EXPECT_EQ(run.dialogs[0].answer, IDYES);
  expectInstalled("first");
  std::string expectedReport = "makeActiveSaver-" + programAnsi_ + std::string(2, '\0');
  bool reported = false;
  for (const e2e::LauncherReport& r : run.reports) reported |= r.bytes == expectedReport;
  EXPECT_TRUE(reported) << "no makeActiveSaver report naming the program in the code page";
}

TEST_F(WindowsVersionTest, UpgradeReplacesTheEarlierInstallation) {
  ASSERT_EQ(quietInstall(writeInstaller(package("first"))).exitCode, 0);
  e2e::RunResult run = interactiveInstall(writeInstaller(package("second").offerControlPanel(false), "VersionSetup2.exe"));
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, ansi(overwriteQuestionMessage(names_.saver).text));
  expectInstalled("second");
  EXPECT_FALSE(winfs::exists(folder() + "first.txt"));
  // Nothing of the earlier installation is kept aside.
  for (const std::string& f : {e2e::systemFolder(), e2e::commonFolder(), folder()}) {
    for (const std::string& name : winfs::listFolder(f)) {
      EXPECT_EQ(name.find(".previous-install"), std::string::npos) << f << name;
    }
  }
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + saverAnsi_ + ".install-journal"));
}

// The sample saver as Windows runs it: full screen until a key, then its
// uninstall entry's command with "/q" appended.
TEST_F(WindowsVersionTest, SampleSaverShowsAndUninstalls) {
  ASSERT_EQ(quietInstall(writeInstaller(package())).exitCode, 0);
  {
    e2e::RelayTrace trace({names_.saver + ".scr"});
    ui::ProcessRunner show;
    std::string command = "\"";  // (appended: GCC 12 warns wrongly about "..." + string)
    command.append(program()).append("\" /s");
    ASSERT_TRUE(show.startCommandLine(command, trace.environment()));
    // Idle: its window is made and it waits for input.
    ASSERT_EQ(WaitForInputIdle(show.handle(), 30000), 0u);
    ui::WindowQuery query;
    query.processId = show.processId();
    HWND window = ui::findWindow(query);
    ASSERT_NE(window, nullptr) << "no window of the saver";
    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 1);
    EXPECT_EQ(show.waitOrKill(60000), 0);
    expectCallsThisWindowsHas(trace, "the sample saver's show");
  }

  std::string command = e2e::uninstallValue(saverAnsi_, "UninstallString");
  ASSERT_EQ(command, expectedUninstallString());
  // The program is traced under the name Windows starts it by too.
  std::string started = command.substr(0, command.size() - 3);
  e2e::RelayTrace trace({names_.saver + ".scr", started.substr(started.find_last_of('\\') + 1)});
  ui::ProcessRunner uninstall;
  ASSERT_TRUE(uninstall.startCommandLine(command + " /q", trace.environment())) << command;
  EXPECT_EQ(uninstall.waitOrKill(60000), 0) << command;
  EXPECT_FALSE(winfs::exists(folder()));
  EXPECT_FALSE(e2e::uninstallEntryExists(saverAnsi_, HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(e2e::uninstallEntryExists(saverAnsi_, HKEY_CURRENT_USER));
  // A running program cannot delete its own file: Windows is asked to.
  EXPECT_TRUE(!winfs::exists(program()) || e2e::scheduledForDeletion(program()));
  expectCallsThisWindowsHas(trace, "the sample saver's uninstall");
}

// Windows NT 4 cannot run the Flash Player versions a package carries (9
// and 10): such a package is refused before anything is written; elsewhere
// the player found (the stand-in, version 10) is new enough and it installs.
TEST_F(WindowsVersionTest, PackageWithAPlayerInstallerOnNT4) {
  for (std::uint8_t index : {0, 1}) {
    SCOPED_TRACE("player installer index " + std::to_string(index));
    PackageBuilder b = package();
    b.flashInstaller("install_flash_player_active_x.exe", bytesOf("MZ player installer"), index);
    e2e::RunResult run = quietInstall(writeInstaller(b));
    EXPECT_FALSE(run.timedOut);
    if (system_.nt4()) {
      EXPECT_EQ(run.exitCode, errWindowsNTUnsupported);
      ASSERT_EQ(run.dialogs.size(), 1u);
      EXPECT_EQ(run.dialogs[0].text, startupErrorMessage(errWindowsNTUnsupported).text);
      EXPECT_EQ(run.dialogs[0].title, "Error");
      EXPECT_EQ(run.dialogs[0].answer, IDABORT);
      expectNothingOfTheSaver();
    } else {
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
      expectInstalled("first");
      removeEverything();
    }
    expectWorkFolderGone();
  }
}

}  // namespace
