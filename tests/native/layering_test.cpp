// Every product folder may include only itself and the folders below it:
//   resources < base < system < package < flash < app
// The test reads the include lines of every source, so an include that
// points up a layer fails here before it can grow into a circle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::map<std::string, int> kLayer = {
    {"resources", 0}, {"base", 1}, {"system", 2}, {"package", 3}, {"flash", 4}, {"app", 5}};

struct Violation {
  std::string file;
  std::string include;
};

std::vector<Violation> upwardIncludes(const fs::path& root) {
  static const std::regex includeLine(R"(^\s*#\s*include\s*"([a-z_]+)/[^"]+")");
  std::vector<Violation> found;
  for (const auto& [folder, layer] : kLayer) {
    if (!fs::exists(root / folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path());
      std::string line;
      std::smatch m;
      while (std::getline(in, line)) {
        if (!std::regex_search(line, m, includeLine)) continue;
        auto target = kLayer.find(m[1].str());
        // Includes of folders outside the product (tools, tests) are just as wrong.
        if (target == kLayer.end() || target->second > layer)
          found.push_back({fs::relative(entry.path(), root).string(), line});
      }
    }
  }
  return found;
}

}  // namespace

TEST(Layering, NoFolderIncludesALayerAboveIt) {
  std::vector<Violation> found = upwardIncludes(SOURCE_ROOT_DIR);
  for (const Violation& v : found) ADD_FAILURE() << v.file << ": " << v.include;
  EXPECT_TRUE(found.empty());
}

TEST(Layering, TheCheckSeesAnUpwardInclude) {
  fs::path root = fs::temp_directory_path() / "layering_probe";
  fs::remove_all(root);
  fs::create_directories(root / "system");
  std::ofstream(root / "system" / "x.h") << "#pragma once\n#include \"base/ok.h\"\n#include \"app/bad.h\"\n";
  std::vector<Violation> found = upwardIncludes(root);
  fs::remove_all(root);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].file, "system/x.h");
}
