// Libraries of system names planted where a program that loads libraries by
// bare name would pick them up: beside the installer, in its current
// folder, in a folder on PATH, in its work folder and in that folder's
// parent.  Wine prefers its builtin libraries whatever lies beside a
// program, so each run names the planted ones native-first in
// WINEDLLOVERRIDES, which makes Wine search for them as Windows does.  The
// planted copies (tests/fixtures/planted_dll) write a marker when loaded.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"
#include "app/installer_form_win32.h"
#include "system/handles_win32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The names the installer might look for: those it loads at run time
// (comctl32, riched20, version, shfolder), the rich-edit and theme
// libraries of other systems, and the implode library it once loaded.
const std::vector<std::string> kPlanted = {"version.dll", "shfolder.dll", "riched20.dll",
                                           "riched32.dll", "msftedit.dll", "comctl32.dll",
                                           "uxtheme.dll",  "dwmapi.dll",   "impborl.dll"};

// Sets an environment variable of this process (inherited by the programs
// it starts) and restores the old value.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    had_ = n > 0 && n < sizeof buffer;
    if (had_) old_.assign(buffer, n);
    SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedEnv() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Wine's load order for one program: every planted name native first.
class ScopedNativeFirst {
public:
  explicit ScopedNativeFirst(const std::string& programName)
      : key_("Software\\Wine\\AppDefaults\\" + programName) {
    UniqueRegKey overrides;
    RegCreateKeyExA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                    overrides.put(), nullptr);
    static const char kOrder[] = "native,builtin";
    for (const std::string& name : kPlanted)
      RegSetValueExA(overrides.get(), name.substr(0, name.size() - 4).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
  }
  ~ScopedNativeFirst() {
    RegDeleteKeyA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
  }
  ScopedNativeFirst(const ScopedNativeFirst&) = delete;
  ScopedNativeFirst& operator=(const ScopedNativeFirst&) = delete;

private:
  std::string key_;
};

// The current folder of this process, inherited by the programs it starts.
class ScopedCurrentFolder {
public:
  explicit ScopedCurrentFolder(const std::string& folder) {
    char buffer[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof buffer, buffer);
    old_ = buffer;
    SetCurrentDirectoryA(folder.c_str());
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryA(old_.c_str()); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
  std::string old_;
};

std::string plantedSource(const std::string& name) { return e2e::fixturePath("planted/" + name); }

bool plantInto(const std::string& folder) {
  bool ok = winfs::makeFolders(folder);
  for (const std::string& name : kPlanted) ok = CopyFileA(plantedSource(name).c_str(), (folder + name).c_str(), FALSE) && ok;
  return ok;
}

void unplantFrom(const std::string& folder) {
  for (const std::string& name : kPlanted) DeleteFileA((folder + name).c_str());
}

class PlantedLibraryTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    ASSERT_EQ(e2e::stubBytes().size(), 691200u);
    e2e::removeSaver(kSaver, kProgram);
    markers_ = rootDir() + "markers\\";
    ASSERT_TRUE(winfs::makeFolders(markers_));
    for (const std::string& name : kPlanted) ASSERT_TRUE(winfs::exists(plantedSource(name))) << name;
  }
  void TearDown() override {
    unplantFrom(e2e::localWorkBase());
    e2e::removeSaver(kSaver, kProgram);
    FolderFixture::TearDown();
  }

  // Every marker written, one "<library> <program>" line each.
  std::string markers() const {
    std::string all;
    for (const std::string& name : winfs::listFolder(markers_)) all += winfs::readText(markers_ + name);
    return all;
  }

  static constexpr const char* kSaver = "Planted Test Saver";
  static constexpr const char* kProgram = "Planted Test Saver.scr";
  std::string markers_;
};

// The control: a program that imports version.dll and loads a library by
// bare name does load the planted copies beside it, so a marker-free
// installer run means something.
TEST_F(PlantedLibraryTest, CarelessProgramLoadsThePlantedCopies) {
  std::string folder = rootDir() + "careless\\";
  ASSERT_TRUE(plantInto(folder));
  std::string probe = folder + "planted_probe.exe";
  ASSERT_TRUE(CopyFileA(e2e::fixturePath("planted_probe.exe").c_str(), probe.c_str(), FALSE));
  ScopedNativeFirst overrides("planted_probe.exe");
  ScopedEnv markerDir("PLANTED_MARKER_DIR", markers_);

  struct Case {
    const char* argument;  // loaded by bare name; empty: only the static import
    const char* marker;
  } cases[] = {{"", "version.dll"}, {"riched20.dll", "riched20.dll"}, {"comctl32.dll", "comctl32.dll"},
               {"shfolder.dll", "shfolder.dll"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    winfs::removeTree(markers_);
    winfs::makeFolders(markers_);
    ui::ProcessRunner runner;
    std::vector<std::string> args;
    if (*c.argument) args.push_back(c.argument);
    ASSERT_TRUE(runner.start(probe, args));
    EXPECT_EQ(runner.waitOrKill(20000), 0);
    std::string seen = markers();
    std::string lower = seen;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    std::string expected = folder + c.marker;
    std::transform(expected.begin(), expected.end(), expected.begin(), [](unsigned char ch) { return std::tolower(ch); });
    EXPECT_NE(lower.find(expected), std::string::npos) << seen;
  }
}

// A whole interactive install (license, movie preview, stored and imploded
// members) with the copies planted everywhere loads none of them.  The work
// folder does not exist before the run (an existing ZNK<n> would be skipped),
// so copies are dropped into it when the installer reports it, before it
// goes on (its trace waits for the test).
//
// One load cannot be avoided under Wine: its own user32 imports version.dll,
// and Wine resolves a builtin's imports by the program's search order, so
// the copy beside the installer is loaded before the installer's first
// instruction.  That marker is set aside.  The broken copy also sends
// Wine's user32 down another theming path on which comctl32 delay-loads
// uxtheme.dll by bare name, past SetDefaultDllDirectories: that is the load
// the installer must have made from the system folder beforehand.  (Under
// Wine a bare-name request for version.dll would find the copy already
// loaded, so only the code's use of full paths guards that library.)
TEST_F(PlantedLibraryTest, InstallerLoadsNoPlantedLibrary) {
  e2e::FlashStandIn flash;
  const std::string downloads = rootDir() + "downloads\\", current = rootDir() + "current\\",
                    onPath = rootDir() + "on path\\";
  for (const std::string& folder : {downloads, current, onPath, e2e::localWorkBase()})
    ASSERT_TRUE(plantInto(folder)) << folder;

  DataFileBuilder data;
  data.add("main.swf", bytesOf("FWS\x09movie"))
      .addImploded("big.txt", bytesOf(std::string(5000, 'a') + "the quick brown fox"), e2e::implode)
      .addCopy("copy of main.swf");
  PackageBuilder b;
  b.mode(2).saverName(kSaver).offerControlPanel(false).item(6, kProgram, 2, bytesOf("MZ saver"))
      .license("license.rtf", bytesOf("{\\rtf1\\ansi {\\b License} terms}"))
      .dataFile(data);
  std::string installer = downloads + "Setup.exe";
  ASSERT_TRUE(winfs::writeFile(installer, e2e::buildInstaller(b)));

  char oldPath[32768] = {};
  GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
  ScopedEnv path("PATH", onPath.substr(0, onPath.size() - 1) + ";" + oldPath);
  ScopedNativeFirst overrides("Setup.exe");
  ScopedEnv markerDir("PLANTED_MARKER_DIR", markers_);
  ScopedCurrentFolder cwd(current);

  // Planted as soon as the work folder exists, while the installer waits.
  std::string workFolder;
  e2e::RunOptions options;
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind != "work folder") return;
    workFolder = e.field(0);
    plantInto(workFolder);
  };
  e2e::InstallerSession session(installer, options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  EXPECT_FALSE(workFolder.empty()) << "the work folder never appeared";
  EXPECT_TRUE(ui::pressButton(form, idInstallBtn));
  e2e::RunResult run = session.finish();

  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  EXPECT_EQ(winfs::fileSize(e2e::commonFolder() + kSaver + "\\saver.dat"), 1240);  // it did install
  std::string seen = markers();
  std::string wineOwn = downloads + "version.dll " + installer + "\n";
  if (std::size_t at = seen.find(wineOwn); at != std::string::npos) seen.erase(at, wineOwn.size());
  EXPECT_EQ(seen, "");
}

}  // namespace
