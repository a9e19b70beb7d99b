// Manifest parsing.
#include "tools/saverpack/manifest.h"

#include <nlohmann/json.hpp>

#include "base/code_page.h"
#include "base/names.h"
#include "tools/saverpack/support.h"

namespace saverpack {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Every problem is thrown with the key it concerns; parseManifest adds the
// manifest's name.
ToolError keyError(const std::string& key, const std::string& problem) {
  return ToolError(key + ": " + problem);
}

class Parser {
 public:
  Parser(const fs::path& manifestPath, Manifest& out) : folder_(manifestPath.parent_path()), m_(out) {}

  void run(const json& root) {
    if (!root.is_object()) throw ToolError("the manifest must be a JSON object");
    // The code page first: every name is checked against it.
    if (auto it = root.find("codePage"); it != root.end()) m_.codePage = codePage("codePage", *it);
    if (m_.codePageOverride) m_.codePage = *m_.codePageOverride;
    setNameCodePage(m_.codePage);
    for (const auto& [key, value] : root.items())
      if (key != "codePage") field(key, value);
    if (!seenName_) throw keyError("saverName", "missing");
    if (!seenMode_) throw keyError("previewMode", "missing (bitmap, movie, jpeg, quiet or none)");
    if (!seenSaver_) throw keyError("saver", "missing: the screen saver program (.scr) is item 6");
  }

 private:
  void field(const std::string& key, const json& v) {
    if (key == "saverName") {
      m_.saverName = ansiText(key, v);
      if (!isValidSaverName(m_.saverName)) {
        // It names the saver's folder and its uninstall registry key.
        std::size_t length = utf16Length(m_.saverName);
        std::string why = length > 64
                              ? "is " + std::to_string(length) + " characters long, over the 64 allowed"
                              : nameProblem(m_.saverName, false);
        throw keyError(key, quoted(v) + " is not a valid saver name: it " + why);
      }
      seenName_ = true;
    } else if (key == "previewMode") {
      m_.previewMode = previewMode(key, v);
      seenMode_ = true;
    } else if (key == "preview") {
      m_.preview = fileSpec(key, v, Compression::Store);
    } else if (key == "license") {
      m_.license = fileSpec(key, v, Compression::Store);
    } else if (key == "readMe") {
      m_.readMe = fileSpec(key, v, Compression::Store);
    } else if (key == "flashInstaller") {
      m_.flashInstaller = fileSpec(key, v, Compression::Store, /*allowVersion=*/true);
    } else if (key == "saver") {
      m_.saver = fileSpec(key, v, Compression::Store);
      seenSaver_ = true;
    } else if (key == "items") {
      items(key, v);
    } else if (key == "dataFolder") {
      m_.dataFolder = path(key, v);
    } else if (key == "dataFileName") {
      m_.dataFileName = ansiText(key, v);
    } else if (key == "compression") {
      m_.dataCompression = compression(key, v);
    } else if (key == "compressionRules") {
      rules(key, v);
    } else if (key == "saverRecord") {
      m_.saverRecord = path(key, v);
    } else if (key == "mainFromPreview") {
      m_.mainFromPreview = boolean(key, v);
    } else if (key == "mainFileName") {
      m_.mainFileName = ansiText(key, v);
    } else if (key == "offerControlPanel") {
      m_.offerControlPanel = boolean(key, v);
    } else if (key == "implodeLibrary") {
      m_.implodeLibrary = path(key, v);
    } else if (key == "stub") {
      m_.stub = path(key, v);
    } else {
      throw keyError(key, "unknown key");
    }
  }

  static std::string quoted(const json& v) { return v.dump(); }

  static const std::string& text(const std::string& key, const json& v) {
    if (!v.is_string()) throw keyError(key, "must be a string");
    return v.get_ref<const std::string&>();
  }

  // A name as it stays inside the packager (UTF-8), once it is known that
  // the package's code page can hold it.
  static std::string ansiText(const std::string& key, const json& v) {
    const std::string& t = text(key, v);
    if (!ansiFromUtf8(t))
      throw keyError(key, quoted(v) + " has characters outside Windows code page " + std::to_string(nameCodePage()));
    return t;
  }

  static unsigned codePage(const std::string& key, const json& v) {
    if (!v.is_number_integer() || !isKnownCodePage(v.get<unsigned>()))
      throw keyError(key, "must be a Windows ANSI code page number (1250 to 1258, 874, 932, 936, 949 or 950)");
    return v.get<unsigned>();
  }

  static bool boolean(const std::string& key, const json& v) {
    if (!v.is_boolean()) throw keyError(key, "must be true or false");
    return v.get<bool>();
  }

  fs::path path(const std::string& key, const json& v) const {
    const std::string& t = text(key, v);
    if (t.empty()) throw keyError(key, "is an empty path");
    fs::path p = pathFromUtf8(t);
    return p.is_absolute() ? p : folder_ / p;
  }

  static PreviewMode previewMode(const std::string& key, const json& v) {
    const std::string& t = text(key, v);
    if (t == "bitmap") return PreviewMode::Bitmap;
    if (t == "movie") return PreviewMode::Movie;
    if (t == "jpeg") return PreviewMode::Jpeg;
    if (t == "quiet") return PreviewMode::Quiet;
    if (t == "none") return PreviewMode::None;
    throw keyError(key, quoted(v) + " is not one of bitmap, movie, jpeg, quiet, none");
  }

  static Compression compression(const std::string& key, const json& v) {
    const std::string& t = text(key, v);
    if (t == "store") return Compression::Store;
    if (t == "implode") return Compression::Implode;
    if (t == "auto") return Compression::Auto;
    throw keyError(key, quoted(v) + " is not one of store, implode, auto");
  }

  // A path string, or an object {"file", "name", "compression", and for
  // items 7/9/10 "itemType", for the Flash installer "version"}.
  FileSpec fileSpec(const std::string& key, const json& v, Compression defaultCompression,
                    bool allowVersion = false, bool allowItemType = false) {
    FileSpec spec;
    spec.compression = defaultCompression;
    if (v.is_string()) {
      spec.file = path(key, v);
      if (allowVersion) throw keyError(key, "needs an object with \"file\" and \"version\" (0 or 1)");
      return spec;
    }
    if (!v.is_object()) throw keyError(key, "must be a path or an object with \"file\"");
    bool seenFile = false, seenVersion = false;
    for (const auto& [k, val] : v.items()) {
      std::string sub = key + "." + k;
      if (k == "file") {
        spec.file = path(sub, val);
        seenFile = true;
      } else if (k == "name") {
        spec.name = ansiText(sub, val);
      } else if (k == "compression") {
        spec.compression = compression(sub, val);
      } else if (k == "itemType" && allowItemType) {
        if (!val.is_number_integer()) throw keyError(sub, "must be an integer");
        std::int64_t t = val.get<std::int64_t>();
        if (t < 1 || t > 10 || t == 8 || t == 9)
          throw keyError(sub, std::to_string(t) + " has no destination (use 1-7 or 10)");
        spec.itemType = static_cast<std::int32_t>(t);
      } else if (k == "version" && allowVersion) {
        if (!val.is_number_integer() || (val.get<std::int64_t>() != 0 && val.get<std::int64_t>() != 1))
          throw keyError(sub, "must be 0 (Flash Player 10.12) or 1 (Flash Player 9.124)");
        m_.flashInstallerVersion = static_cast<std::uint8_t>(val.get<std::int64_t>());
        seenVersion = true;
      } else {
        throw keyError(sub, "unknown key");
      }
    }
    if (!seenFile) throw keyError(key, "\"file\" is missing");
    if (allowVersion && !seenVersion) throw keyError(key, "\"version\" is missing (0 or 1)");
    return spec;
  }

  void items(const std::string& key, const json& v) {
    if (!v.is_object()) throw keyError(key, "must be an object with the keys \"7\", \"9\" and \"10\"");
    for (const auto& [k, val] : v.items()) {
      if (k != "7" && k != "9" && k != "10")
        throw keyError(key + "." + k, "unknown item (the manifest names items 7, 9 and 10 here)");
      m_.extraItems[std::stoi(k)] = fileSpec(key + "." + k, val, Compression::Store, false, true);
    }
  }

  void rules(const std::string& key, const json& v) {
    if (!v.is_array()) throw keyError(key, "must be an array of {\"match\", \"compression\"}");
    for (std::size_t i = 0; i < v.size(); ++i) {
      std::string sub = key + "[" + std::to_string(i) + "]";
      const json& r = v[i];
      if (!r.is_object()) throw keyError(sub, "must be an object {\"match\", \"compression\"}");
      CompressionRule rule;
      bool seenMatch = false, seenCompression = false;
      for (const auto& [k, val] : r.items()) {
        if (k == "match") {
          rule.pattern = ansiText(sub + ".match", val);
          for (char& c : rule.pattern)
            if (c == '/') c = '\\';
          seenMatch = true;
        } else if (k == "compression") {
          rule.compression = compression(sub + ".compression", val);
          seenCompression = true;
        } else {
          throw keyError(sub + "." + k, "unknown key");
        }
      }
      if (!seenMatch || !seenCompression) throw keyError(sub, "needs both \"match\" and \"compression\"");
      m_.compressionRules.push_back(std::move(rule));
    }
  }

  fs::path folder_;
  Manifest& m_;
  bool seenName_ = false, seenMode_ = false, seenSaver_ = false;
};

}  // namespace

std::uint8_t installerModeOf(PreviewMode mode) {
  switch (mode) {
    case PreviewMode::Bitmap: return 1;
    case PreviewMode::Movie: return 2;
    case PreviewMode::Jpeg: return 8;
    case PreviewMode::Quiet: return 4;
    case PreviewMode::None: return 0;
  }
  return 0;
}

const char* previewModeName(PreviewMode mode) {
  switch (mode) {
    case PreviewMode::Bitmap: return "bitmap";
    case PreviewMode::Movie: return "movie";
    case PreviewMode::Jpeg: return "jpeg";
    case PreviewMode::Quiet: return "quiet";
    case PreviewMode::None: return "none";
  }
  return "?";
}

const char* compressionName(Compression c) {
  switch (c) {
    case Compression::Store: return "store";
    case Compression::Implode: return "implode";
    case Compression::Auto: return "auto";
  }
  return "?";
}

bool parseManifest(std::string_view text, const fs::path& manifestPath, Manifest& out, std::string& error,
                   std::optional<unsigned> codePage) {
  Manifest m;
  m.path = manifestPath;
  m.codePageOverride = codePage;
  if (codePage && !isKnownCodePage(*codePage)) {
    error = "code page " + std::to_string(*codePage) + " is not a Windows ANSI code page the packager knows";
    return false;
  }
  try {
    json root = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/true);
    Parser(manifestPath, m).run(root);
  } catch (const json::exception& e) {
    // nlohmann's messages start with "[json.exception.parse_error.101] ".
    std::string what = e.what();
    std::size_t cut = what.find("] ");
    error = displayPath(manifestPath) + ": invalid JSON: " + (cut == std::string::npos ? what : what.substr(cut + 2));
    return false;
  } catch (const std::exception& e) {
    error = displayPath(manifestPath) + ": " + e.what();
    return false;
  }
  out = std::move(m);
  return true;
}

bool loadManifest(const fs::path& manifestPath, Manifest& out, std::string& error, std::optional<unsigned> codePage) {
  Bytes text;
  try {
    text = readWholeFile(manifestPath);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return parseManifest(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), manifestPath, out,
                       error, codePage);
}

// Iterative wildcard match with one backtracking point (the last '*').
bool matchesPattern(std::string_view pattern, std::string_view name) {
  std::string p = foldCaseName(pattern), n = foldCaseName(name);
  std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

Compression compressionFor(const Manifest& manifest, std::string_view entryName) {
  for (const CompressionRule& r : manifest.compressionRules)
    if (matchesPattern(r.pattern, entryName)) return r.compression;
  return manifest.dataCompression;
}

}  // namespace saverpack
