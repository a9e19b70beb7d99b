// Package names between their code page and UTF-8, and the name rules on
// the converted text.
#include <gtest/gtest.h>

#include "base/code_page.h"
#include "base/names.h"
#include "package/package_text.h"
#include "package/package_writer.h"
#include "package/validate.h"
#include "tests/native/code_page_cases.h"

namespace {

TEST(CodePage, BytesToTextAndBack) {
  for (const CodePageCase& c : kCodePageCases) {
    SCOPED_TRACE(std::to_string(c.codePage) + ": " + c.why);
    EXPECT_EQ(ansiToUtf8(c.bytes, c.codePage), c.text);
    if (c.text) {
      EXPECT_EQ(utf8ToAnsi(*c.text, c.codePage), c.bytes);
    }
  }
}

TEST(CodePage, TextTheCodePageCannotHold) {
  const std::string lukasz = "\xC5\x81ukasz";  // Ł is not in 1252, but in 1250
  EXPECT_EQ(utf8ToAnsi(lukasz, 1252), std::nullopt);
  EXPECT_EQ(utf8ToAnsi(lukasz, 1250), "\xA3ukasz");
  // No look-alike: the A functions' '?' only where that is asked for.
  EXPECT_EQ(utf8ToAnsiLossy(lukasz, 1252), "?ukasz");
  EXPECT_EQ(utf8ToAnsiLossy("C:\\\xE4\xB8\x8B\xE8\xBD\xBD\\", 1252), "C:\\??\\");
  EXPECT_EQ(utf8ToAnsi("\xC3\xA9", 932), std::nullopt);
  EXPECT_EQ(utf8ToAnsi("\xC3", 1252), std::nullopt);  // not UTF-8
}

TEST(CodePage, Utf8AndUtf16) {
  EXPECT_EQ(utf8ToUtf16("\xC5\x81\xE4\xB8\x8B\xF0\x9F\x98\x80"), u"\u0141\u4E0B\U0001F600");
  EXPECT_EQ(utf16ToUtf8(u"\u0141\u4E0B\U0001F600"), "\xC5\x81\xE4\xB8\x8B\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
  EXPECT_EQ(utf8ToUtf16("a\xC0\xAF"), u"a\uFFFD\uFFFD");  // overlong '/' is no slash
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // encoded surrogate
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
  EXPECT_EQ(utf16Length("\xE8\xA1\xA8\xF0\x9F\x98\x80"), 3u);
}

TEST(CodePage, LeadBytes) {
  EXPECT_TRUE(isLeadByte(932, 0x95));
  EXPECT_FALSE(isLeadByte(932, 0xB1));  // half-width katakana
  EXPECT_FALSE(isLeadByte(932, 0x5C));
  EXPECT_TRUE(isLeadByte(936, 0xFE));
  EXPECT_FALSE(isLeadByte(1252, 0x95));
}

// Names of a header as the installer reads them in each code page.
TEST(PackageNames, HeaderNamesAreCheckedAsText) {
  struct Case {
    unsigned codePage;
    std::string saver, item;
    bool decoded, valid;
    const char* why;
  };
  const Case cases[] = {
      {1252, "Caf\xE9 Cr\xE8me", "Caf\xE9 Cr\xE8me.scr", true, true, "Western"},
      {1251, "\xC0\xEA\xE2\xE0\xF0\xE8\xF3\xEC", "\xC0\xEA\xE2\xE0\xF0\xE8\xF3\xEC.scr", true, true, "Cyrillic"},
      {932, "\x95\x5C\x8E\xA6", "\x95\x5C\x8E\xA6.scr", true, true, "0x5C trail bytes are no separators"},
      {1252, "\x95\x5C\x8E\xA6", "x.scr", true, false, "in 1252 the same bytes hold a backslash"},
      {932, "\x95\x5C\x8E\xA6", "\x95\x5C\x95.scr", false, false, "a lead byte before the dot"},
      {932, "\x95\x5C\x95", "x.scr", false, false, "a saver name ending in a lead byte"},
      {932, "ok", "\x95", false, false, "an item name of a lone lead byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PackageBuilder b;
    b.saverName(c.saver).item(6, c.item, 2, {'M', 'Z'});
    std::vector<std::uint8_t> file = b.build();
    PackageHeader h = b.header();
    ASSERT_EQ(decodeHeaderNames(h, c.codePage), c.decoded);
    if (!c.decoded) continue;
    bool valid = validatePackageHeader(h, file.size()) == errOk && isValidSaverName(h.saverName);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(utf8ToAnsi(h.items[6].fileName, c.codePage), c.item);
  }
}

TEST(PackageNames, DataFileEntriesAreCheckedAsText) {
  auto dataFile = [](const std::string& name) {
    DataFileBuilder d;
    d.add(name, {'x'});
    return d.build();
  };
  // "表\a.txt" in 932: the folder is 表, whose second byte is 0x5C.
  EXPECT_EQ(validateDataFile(dataFile("\x95\x5C\\a.txt"), 932), errOk);
  EXPECT_EQ(validateDataFile(dataFile("\x95\x5C\\a.txt"), 1252), errBadName);  // "\\\\": an empty component
  EXPECT_EQ(validateDataFile(dataFile("a\\\x95"), 932), errBadName);
  EXPECT_EQ(validateDataFile(dataFile("\x95\x5C\x8E\xA6\\\x95\x5C.txt"), 932), errOk);
  EXPECT_EQ(validateDataFile(dataFile("..\\x"), 932), errBadName);

  std::vector<DataFileEntry> entries(2);
  entries[0].entryName = "\x95\x5C";
  entries[1].entryName = "\x8E";
  EXPECT_FALSE(decodeEntryNames(entries, 932));
}

TEST(PackageNames, EncodingForThePackager) {
  PackageHeader h;
  h.saverName = "\xE8\xA1\xA8\xE7\xA4\xBA";  // 表示
  h.items[6].fileName = "\xE8\xA1\xA8\xE7\xA4\xBA.scr";
  std::string field;
  PackageHeader japanese = h;
  ASSERT_TRUE(encodeHeaderNames(japanese, 932, field));
  EXPECT_EQ(japanese.saverName, "\x95\x5C\x8E\xA6");
  PackageHeader western = h;
  EXPECT_FALSE(encodeHeaderNames(western, 1252, field));
  EXPECT_EQ(field, "saverName");
  // 64 characters that take two bytes each do not fit the 64-byte field.
  PackageHeader tooLong;
  for (int i = 0; i < 40; ++i) tooLong.saverName += "\xE8\xA1\xA8";
  EXPECT_FALSE(encodeHeaderNames(tooLong, 932, field));
  std::vector<DataFileEntry> entries(1);
  entries[0].entryName = "\xC5\x81.txt";
  EXPECT_FALSE(encodeEntryNames(entries, 1252, field));
  EXPECT_EQ(field, "entries[1].entryName");
}

TEST(PackageNames, LengthCountsCharacters) {
  std::string kanji;
  for (int i = 0; i < 255; ++i) kanji += "\xE8\xA1\xA8";
  EXPECT_TRUE(isSafeItemFileName(kanji));  // 765 bytes, 255 characters
  EXPECT_FALSE(isSafeItemFileName(kanji + "\xE8\xA1\xA8"));
  std::string saver;
  for (int i = 0; i < 64; ++i) saver += "\xD0\x90";
  EXPECT_TRUE(isValidSaverName(saver));
  EXPECT_FALSE(isValidSaverName(saver + "a"));
  // The preview's renaming keeps whole characters.
  std::string preview = previewFileName(1, kanji + ".swf");
  EXPECT_TRUE(isSafeItemFileName(preview)) << preview.size();
  EXPECT_EQ(preview.substr(preview.size() - 4), ".BMP");
}

}  // namespace
