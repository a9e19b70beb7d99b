#include <gtest/gtest.h>

#include <string>

#include "base/names.h"

namespace {

struct NameCase {
  std::string name;
  bool safe;
};

TEST(NameRules, SingleFileNames) {
  const NameCase cases[] = {
      {"Aquarium.scr", true},
      {"a", true},
      {"a..b.txt", true},              // dots inside a name are harmless
      {".hidden", true},
      {"space inside.txt", true},
      {"\xC3\x84pfel.txt", true},      // letters beyond ASCII (UTF-8) pass
      {"\xC4pfel.txt", false},         // bytes that are no UTF-8 text
      {std::string(255, 'x'), true},
      {std::string(256, 'x'), false},
      {"", false},
      {".", false},
      {"..", false},
      {"a\\b", false},
      {"a/b", false},
      {"C:x", false},
      {"file.", false},                // Win32 strips the trailing dot
      {"file ", false},
      {std::string("a\0b", 3), false},
      {"tab\there", false},
      {"a<b", false}, {"a>b", false}, {"a\"b", false}, {"a|b", false}, {"a?b", false}, {"a*b", false},
      {"CON", false}, {"con", false}, {"Nul.txt", false}, {"nul.tar.gz", false}, {"NUL .txt", false},
      {"PRN", false}, {"AUX", false}, {"COM1", false}, {"com9.log", false}, {"LPT1", false},
      {"COM\xC2\xB9", false}, {"CONIN$", false}, {"conout$.x", false},
      {"CONSOLE", true}, {"COM10", true}, {"LPT", true}, {"xNUL", true}, {"NULx.txt", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isSafeItemFileName(c.name), c.safe);
  }
}

TEST(NameRules, RelativeEntryPaths) {
  const NameCase cases[] = {
      {"a.txt", true},
      {"images\\fish.png", true},
      {"a\\b\\c\\d.bin", true},
      {std::string(200, 'a') + "\\" + std::string(54, 'b'), true},   // 255 chars
      {std::string(200, 'a') + "\\" + std::string(55, 'b'), false},  // 256 chars
      {"", false},
      {"..\\evil.dll", false},
      {"a\\..\\..\\evil.dll", false},
      {"a\\.\\b", false},
      {"\\windows\\evil.dll", false},
      {"\\\\server\\share\\x", false},
      {"C:\\x", false},
      {"C:x", false},
      {"a/b", false},
      {"a\\\\b", false},
      {"a\\", false},
      {"a\\CON", false},
      {"dir.\\x", false},
      {"dir \\x", false},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isSafeEntryName(c.name), c.safe);
  }
}

TEST(NameRules, SaverNames) {
  const NameCase cases[] = {
      {"Aquarium", true},
      {std::string(64, 'S'), true},
      {std::string(65, 'S'), false},
      {"", false},
      {"Fish\\Tank", false},
      {"Fish/Tank", false},
      {"..", false},
      {"AUX", false},
      {"Fish.", false},
      // The short (8.3) name of another saver's folder or program.
      {"SAMPLE~1", false},
      {"sample~12.scr", false},
      {"Fish~", true},
      {"Fish~Tank", true},
      {"~1x", true},
      {"a.b~1.c", true},  // two dots: no short name has them
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(isValidSaverName(c.name), c.safe);
  }
}

}  // namespace
