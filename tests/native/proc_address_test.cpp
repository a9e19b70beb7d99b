// Functions looked up at run time must get their type from the SDK's own
// declaration (procAddress<decltype(&::Name)>): a hand-written pointer type
// without WINAPI compiles silently and breaks only the i686 build, which no
// Windows test runs.  This reads every product source for the two ways such
// a type could slip in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kFolders[] = {"base", "system", "package", "flash", "app"};
const char* const kHelper = "system/system_library_win32.h";

std::vector<std::string> untypedLookups(const fs::path& root) {
  static const std::regex rawLookup(R"(\bGetProcAddress\s*\()");
  static const std::regex helperUse(R"(\bprocAddress\s*<)");
  static const std::regex typedUse(R"(\bprocAddress\s*<\s*decltype\s*\(\s*&\s*::\s*\w+\s*\)\s*>)");
  std::vector<std::string> found;
  for (const char* folder : kFolders) {
    if (!fs::exists(root / folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (!entry.is_regular_file()) continue;
      std::string file = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      std::string s = text.str();
      if (s.find("rocAddress") == std::string::npos) continue;  // std::regex is slow on whole files
      if (file != kHelper && std::regex_search(s, rawLookup)) found.push_back(file + ": GetProcAddress");
      auto uses = std::distance(std::sregex_iterator(s.begin(), s.end(), helperUse), std::sregex_iterator());
      auto typed = std::distance(std::sregex_iterator(s.begin(), s.end(), typedUse), std::sregex_iterator());
      if (file != kHelper && uses != typed) found.push_back(file + ": procAddress without decltype(&::...)");
    }
  }
  return found;
}

}  // namespace

TEST(ProcAddress, LookupsAreTypedFromTheirDeclarations) {
  std::vector<std::string> found = untypedLookups(SOURCE_ROOT_DIR);
  for (const std::string& f : found) ADD_FAILURE() << f;
  EXPECT_TRUE(found.empty());
}

TEST(ProcAddress, TheCheckSeesHandWrittenTypes) {
  fs::path root = fs::temp_directory_path() / "proc_address_probe";
  fs::remove_all(root);
  fs::create_directories(root / "app");
  fs::create_directories(root / "system");
  std::ofstream(root / "app" / "ok_win32.cpp")
      << "auto f = procAddress<decltype(&::IsWow64Process)>(k, \"IsWow64Process\");\n"
      << "auto g = procAddress< decltype( & ::SetDllDirectoryA ) >(k, \"SetDllDirectoryA\");\n";
  std::ofstream(root / "app" / "raw_win32.cpp")
      << "auto f = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, \"X\")));\n";
  std::ofstream(root / "app" / "hand_win32.cpp") << "auto f = procAddress<BOOL (*)(HANDLE, PBOOL)>(k, \"X\");\n";
  std::ofstream(root / "system" / "system_library_win32.h") << "return GetProcAddress(module, name);\n";
  std::vector<std::string> found = untypedLookups(root);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"app/hand_win32.cpp: procAddress without decltype(&::...)",
                                             "app/raw_win32.cpp: GetProcAddress"}));
  fs::remove_all(root);
}
