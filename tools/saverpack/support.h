// Small services the packager's commands share: reading whole files, writing
// an output through a temporary file, text conversion between the UTF-8 of
// manifests and file systems and the 8-bit ANSI of the package (in the code
// page the author chose), and the few facts about the running program it
// needs.  Names are UTF-8 inside the packager and become code page bytes
// only when they are written.
//
// Failures inside the packager are thrown as ToolError with a one-line
// message that names the file; the public functions of build.h, inspect.h
// and codec.h catch them and hand the message back as a value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace saverpack {

using Bytes = std::vector<std::uint8_t>;

struct ToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reports progress of a long step: a label, the units done and the total.
using ProgressFn = std::function<void(const std::string& label, std::uint64_t done, std::uint64_t total)>;

// A path for messages, in UTF-8.
std::string displayPath(const std::filesystem::path& path);
// A path from UTF-8 text (manifest values, command-line arguments).
std::filesystem::path pathFromUtf8(std::string_view text);

// The code page package names are written in and read back with (1252
// unless set); the code pages the packager knows.
constexpr unsigned kDefaultNameCodePage = 1252;
void setNameCodePage(unsigned codePage);
unsigned nameCodePage();
bool isKnownCodePage(unsigned codePage);

// UTF-8 to the package's 8-bit text in the name code page; std::nullopt
// when the text is not valid UTF-8 or has a character outside the code page.
std::optional<std::string> ansiFromUtf8(std::string_view utf8);
// Back again, for names taken from a package.  Text that is not valid in
// the code page is decoded byte by byte, with U+FFFD for what has no meaning.
std::string utf8FromAnsi(std::string_view ansi);
// Letter case folded the way Windows file systems compare names (ASCII and
// the letters of code page 1252), for collision checks.
std::string foldCaseAnsi(std::string_view ansi);
// The same for UTF-8 names: ASCII, Latin, Greek and Cyrillic letters.
std::string foldCaseName(std::string_view utf8);

// Why a stored name breaks the rules of base/names.h, for messages
// ("is a device name", ...); empty when the name is safe.  `relativePath`
// allows backslash-separated sub-folders (data file entries).
std::string nameProblem(std::string_view name, bool relativePath);

// The whole file, or ToolError "<path>: <reason>".
Bytes readWholeFile(const std::filesystem::path& path);
// The size of a regular file (symbolic links followed), or ToolError.
std::uint64_t regularFileSize(const std::filesystem::path& path);

// An output file written under a temporary name in the same folder and
// renamed over `target` by commit().  Until then the target is untouched;
// a TempOutput that is destroyed uncommitted (an error, an exception)
// deletes its temporary file, so a failure never leaves a partial output.
class TempOutput {
 public:
  explicit TempOutput(std::filesystem::path target);  // creates the file, or ToolError
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  void write(const void* data, std::size_t n);  // ToolError on failure
  void commit();                                // flush, close, rename; ToolError on failure
  const std::filesystem::path& tempPath() const { return temp_; }

 private:
  void discard() noexcept;
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Writes `data` to `target` through a TempOutput.
void writeFileAtomically(const std::filesystem::path& target, const Bytes& data);

// Reads a file at absolute offsets, with 64-bit positions on every platform.
class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path);  // ToolError when it cannot be opened
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t size() const { return size_; }
  // Reads exactly n bytes at `offset`; false when the file has fewer there
  // or a read fails.
  bool readAt(std::uint64_t offset, void* dst, std::size_t n);

 private:
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
};

// The running program's own path; empty when it cannot be found.
std::filesystem::path executablePath();
// True when standard error is a terminal (progress is shown only there).
bool stderrIsTerminal();

// Runs a program found on the PATH with these arguments (args[0] is its
// name) and waits for it; its standard output is discarded, its errors go to
// ours.  Returns its exit code, or -1 when it could not be started.
int runProgram(const std::vector<std::string>& args);
// An environment variable's value; std::nullopt when it is not set.
std::optional<std::string> environmentValue(const char* name);

}  // namespace saverpack
