// The packager's manifest: a JSON file that names everything an installer
// carries.  Paths are relative to the manifest's folder; names are UTF-8 and
// become code page 1252 text in the package.  Unknown keys are errors, so a
// misspelt key cannot silently drop a file.  Comments (// and /* */) are
// allowed.
//
//   {
//     "saverName": "Sample Saver",
//     "previewMode": "movie",              // bitmap, movie, jpeg, quiet, none
//     "preview": "preview.swf",            // a path, or {"file", "name", "compression"}
//     "license": "license.rtf",            // optional
//     "readMe": "readme.txt",              // optional
//     "flashInstaller": {"file": "fp10.exe", "version": 0},   // optional; 0 = 10.12, 1 = 9.124
//     "saver": "Sample Saver.scr",         // item 6, stored as <saverName>.scr
//     "items": {"7": "settings.ini", "9": {"file": "help.txt", "itemType": 1}, "10": "notes.txt"},
//     "dataFolder": "data",                // optional; files become data file entries
//     "compression": "auto",               // data files: store, implode or auto
//     "compressionRules": [{"match": "*.jpg", "compression": "store"}],
//     "saverRecord": "record.bin",         // optional 1240-byte record
//     "mainFromPreview": true,             // entry 1 is a copy of the preview movie
//     "mainFileName": "main.swf",          // its name in the saver folder
//     "offerControlPanel": true,
//     "implodeLibrary": "impborl.dll",     // optional; default beside the packager
//     "stub": "stub.exe"                   // optional; default beside the packager
//   }
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/saverpack/support.h"

namespace saverpack {

enum class Compression { Store, Implode, Auto };

enum class PreviewMode { Bitmap, Movie, Jpeg, Quiet, None };

// The package header's installerMode for a preview mode: 1, 2, 8, 4, 0.
std::uint8_t installerModeOf(PreviewMode mode);
const char* previewModeName(PreviewMode mode);
const char* compressionName(Compression c);

struct FileSpec {
  std::filesystem::path file;  // resolved against the manifest's folder
  std::string name;            // stored name (UTF-8); empty: the default name
  Compression compression = Compression::Store;
  std::int32_t itemType = 1;   // items 7, 9 and 10 only
};

struct CompressionRule {
  std::string pattern;  // UTF-8, '/' turned into '\\'; '*' and '?' wildcards
  Compression compression = Compression::Auto;
};

struct Manifest {
  std::filesystem::path path;  // the manifest itself, for messages
  // The code page the package's names are written in ("codePage", or the
  // command line's choice, which wins); names below are UTF-8 text that
  // this code page can hold.
  unsigned codePage = kDefaultNameCodePage;
  std::optional<unsigned> codePageOverride;
  std::string saverName;
  PreviewMode previewMode = PreviewMode::Movie;
  std::optional<FileSpec> preview;
  std::optional<FileSpec> license;
  std::optional<FileSpec> readMe;
  std::optional<FileSpec> flashInstaller;
  std::uint8_t flashInstallerVersion = 0;
  FileSpec saver;
  std::map<int, FileSpec> extraItems;  // by item index: 7, 9, 10
  std::optional<std::filesystem::path> dataFolder;
  std::string dataFileName = "saverdata.bin";
  Compression dataCompression = Compression::Auto;
  std::vector<CompressionRule> compressionRules;
  std::optional<std::filesystem::path> saverRecord;
  bool mainFromPreview = false;
  std::string mainFileName;  // empty: the preview item's name
  bool offerControlPanel = false;
  std::optional<std::filesystem::path> implodeLibrary;
  std::optional<std::filesystem::path> stub;
};

// Parses manifest text; `manifestPath` names it in messages and gives the
// folder relative paths start from.  On failure returns false and sets
// `error` to one line: "<manifest>: <key>: <problem>".  A given `codePage`
// replaces the manifest's.  Sets the packager's name code page.
bool parseManifest(std::string_view json, const std::filesystem::path& manifestPath, Manifest& out,
                   std::string& error, std::optional<unsigned> codePage = std::nullopt);
// Reads and parses a manifest file.
bool loadManifest(const std::filesystem::path& manifestPath, Manifest& out, std::string& error,
                  std::optional<unsigned> codePage = std::nullopt);

// Case-insensitive wildcard match of an entry name ('*' any run of
// characters, backslashes included; '?' one character).
bool matchesPattern(std::string_view pattern, std::string_view name);

// The compression a data file entry gets: the first matching rule, else
// the manifest's default.
Compression compressionFor(const Manifest& manifest, std::string_view entryName);

}  // namespace saverpack
