// The sample screen saver's portable rules: its command line, its name, and
// which folder and uninstall entry it may remove.
#include <gtest/gtest.h>

#include <string>

#include "tools/sample-saver/saver_rules.h"

namespace {

struct ArgumentCase {
  const wchar_t* arguments;
  SaverMode mode;
  std::uint64_t window;
  bool quiet;
};

TEST(SampleSaverArguments, FormsWindowsAndUsersWrite) {
  const ArgumentCase cases[] = {
      {L"", SaverMode::Show, 0, false},
      {L"   ", SaverMode::Show, 0, false},
      {L"/s", SaverMode::Show, 0, false},
      {L"/S", SaverMode::Show, 0, false},
      {L"-s", SaverMode::Show, 0, false},
      {L" \t/s ", SaverMode::Show, 0, false},
      {L"/p 1234", SaverMode::Preview, 1234, false},
      {L"/P:1234", SaverMode::Preview, 1234, false},
      {L"-p   98765", SaverMode::Preview, 98765, false},
      {L"/p 18446744073709551615", SaverMode::Preview, 18446744073709551615ull, false},
      {L"/c", SaverMode::Settings, 0, false},
      {L"/c:1234", SaverMode::Settings, 1234, false},
      {L"-C:77", SaverMode::Settings, 77, false},
      {L"/c 77", SaverMode::Settings, 77, false},
      {L"/u", SaverMode::Uninstall, 0, false},
      {L"/U /q", SaverMode::Uninstall, 0, true},
      {L"/u -Q", SaverMode::Uninstall, 0, true},
      // Mistakes: never taken for another mode, and never a window of 0.
      {L"/p", SaverMode::Invalid, 0, false},
      {L"/p:", SaverMode::Invalid, 0, false},
      {L"/p 0", SaverMode::Invalid, 0, false},
      {L"/p 12ab", SaverMode::Invalid, 0, false},
      {L"/p -5", SaverMode::Invalid, 0, false},
      {L"/p 18446744073709551616", SaverMode::Invalid, 0, false},  // one past 64 bits
      {L"/c:", SaverMode::Invalid, 0, false},
      {L"/c:x", SaverMode::Invalid, 0, false},
      {L"/c x", SaverMode::Invalid, 0, false},
      {L"/s:1", SaverMode::Invalid, 0, false},
      {L"/sx", SaverMode::Invalid, 0, false},
      {L"/uq", SaverMode::Invalid, 0, false},
      {L"/u /x", SaverMode::Invalid, 0, false},
      {L"/u /q /q", SaverMode::Invalid, 0, false},
      {L"/s extra", SaverMode::Invalid, 0, false},
      {L"s", SaverMode::Invalid, 0, false},
      {L"/", SaverMode::Invalid, 0, false},
      {L"/x", SaverMode::Invalid, 0, false},
  };
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(toUtf8(c.arguments));
    SaverCommand command = parseSaverArguments(c.arguments);
    EXPECT_EQ(command.mode, c.mode);
    EXPECT_EQ(command.window, c.window);
    EXPECT_EQ(command.quiet, c.quiet);
  }
}

TEST(SampleSaverArguments, ProgramNameIsSkipped) {
  const std::wstring self = L"C:\\windows\\system32\\Sample Saver.scr";
  const struct {
    std::wstring line;
    std::wstring program;
    std::wstring arguments;
  } cases[] = {
      {L"\"C:\\windows\\system32\\Sample Saver.scr\" /p 42", self, L" /p 42"},
      // An uninstall entry's command, run unquoted as Windows runs it.
      {L"C:\\windows\\system32\\Sample Saver.scr /u", self, L" /u"},
      {L"c:\\WINDOWS\\SYSTEM32\\sample saver.SCR /u /q", self, L" /u /q"},
      {L"C:\\Windows\\Sysnative\\Sample Saver.scr /u", self, L" /u"},  // another path to the same file
      {L"C:\\a.scr b\\Sample Saver.scr /s", L"C:\\a.scr b\\Sample Saver.scr", L" /s"},
      {L"C:\\WINDOWS\\SYSTEM\\SAMPLE~1.SCR /U", self, L" /U"},
      {L"saver.exe /s", L"", L" /s"},
      {L"  saver.scr", L"", L""},
      {L"\"unclosed /s", L"", L""},
      {L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.line));
    EXPECT_EQ(std::wstring(argumentsOf(c.line, c.program)), c.arguments);
  }
  EXPECT_EQ(parseSaverArguments(argumentsOf(L"\"C:\\a b\\x.scr\" /c:5", L"")).window, 5u);
}

TEST(SampleSaverNames, NameComesFromTheScrFile) {
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\windows\\system32\\Sample Saver.scr"), L"Sample Saver");
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\WINDOWS\\SYSTEM32\\AQUARIUM.SCR"), L"AQUARIUM");
  EXPECT_EQ(saverNameFromProgramPath(L"Fish.Scr"), L"Fish");
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\x\\v1.2 saver.scr"), L"v1.2 saver");
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\x\\sample-saver.exe"), L"");
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\x.scr\\saver"), L"");
  EXPECT_EQ(saverNameFromProgramPath(L"C:\\x\\.scr"), L"");
  EXPECT_EQ(saverNameFromProgramPath(L""), L"");
}

TEST(SampleSaverNames, OnlySafeNamesBecomePathsToDelete) {
  const struct {
    std::wstring name;
    bool safe;
  } cases[] = {
      {L"Sample Saver", true},
      {L"Aquarium", true},
      {L"\u0141\u00f3d\u017a \u6c34\u65cf\u9928", true},  // letters outside any one code page
      {std::wstring(64, L'x'), true},
      {std::wstring(65, L'x'), false},
      {L"", false},
      {L".", false},
      {L"..", false},
      {L"..\\..\\Windows", false},
      {L"a\\b", false},
      {L"a/b", false},
      {L"C:", false},
      {L"Saver.", false},  // Win32 would strip the dot and reach "Saver"
      {L"Saver ", false},
      {L"NUL", false},
      {L"com1", false},
      {L"a*", false},
      {L"a?", false},
      {std::wstring(L"a\0b", 3), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    EXPECT_EQ(isSafeSaverName(c.name), c.safe);
  }
}

TEST(SampleSaverNames, Utf8) {
  EXPECT_EQ(toUtf8(L"Abc"), "Abc");
  EXPECT_EQ(toUtf8(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
  if constexpr (sizeof(wchar_t) == 2) {
    EXPECT_EQ(toUtf8(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(toUtf8(std::wstring{wchar_t(0xD83D), L'x'}), "\xEF\xBF\xBDx");  // lone high half
  } else {
    EXPECT_EQ(toUtf8(std::wstring{wchar_t(0x1F600)}), "\xF0\x9F\x98\x80");
  }
}

TEST(SampleSaverPlaces, FolderAndKey) {
  EXPECT_EQ(saverFolderPath(L"C:\\ProgramData", L"Sample Saver"), L"C:\\ProgramData\\Brindlefax\\Sample Saver\\");
  EXPECT_EQ(saverFolderPath(L"C:\\ProgramData\\", L"A"), L"C:\\ProgramData\\Brindlefax\\A\\");
  EXPECT_EQ(uninstallKeyPath(L"Sample Saver"),
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample Saver");
}

TEST(SampleSaverPlaces, OnlyTheInstallersEntryIsOurs) {
  const struct {
    const wchar_t* value;
    bool ours;
  } cases[] = {
      {L"C:\\windows\\system32\\Sample Saver.scr /u", true},
      {L"C:\\WINDOWS\\SYSTEM32\\SAMPLE SAVER.SCR /U", true},
      {L"\"C:\\windows\\system32\\Sample Saver.scr\" /u", true},
      {L"C:\\WINDOWS\\SYSTEM\\SAMPLE~1.SCR /U", true},  // the short form of older Windows
      {L"C:\\windows\\system32\\Other Saver.scr /u", false},
      {L"C:\\windows\\system32\\Sample Saver.scr", false},
      {L"C:\\windows\\system32\\Sample Saver.exe /u", false},
      {L"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}", false},
      {L"Sample Saver.scr /u", false},
      {L"C:\\x\\SAMPLE~1VERYLONG.SCR /u", false},
      {L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.value));
    EXPECT_EQ(isOwnUninstallString(c.value, L"Sample Saver"), c.ours);
  }
}

TEST(SampleSaverMouse, SmallMovementsAreIgnored) {
  EXPECT_FALSE(mouseMovedEnough(100, 100, 100, 100));
  EXPECT_FALSE(mouseMovedEnough(100, 100, 100 + kMouseSlackPixels, 100 - kMouseSlackPixels));
  EXPECT_TRUE(mouseMovedEnough(100, 100, 100 + kMouseSlackPixels + 1, 100));
  EXPECT_TRUE(mouseMovedEnough(100, 100, 100, 100 - kMouseSlackPixels - 1));
  EXPECT_TRUE(mouseMovedEnough(-1920, 0, 0, 0));  // a monitor left of the main one
}

}  // namespace
