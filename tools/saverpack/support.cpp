// Files, text conversion and output handling for the packager.
#include "tools/saverpack/support.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#include "base/code_page.h"
#include "base/names.h"

namespace saverpack {

namespace fs = std::filesystem;

namespace {

std::FILE* openFile(const fs::path& path, bool write) {
#ifdef _WIN32
  return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
  return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

int seekTo(std::FILE* f, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), SEEK_SET);
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

std::string errnoText(int err) { return std::strerror(err); }

std::string componentProblem(std::string_view c) {
  if (c.empty()) return "has an empty path component (a leading, trailing or doubled backslash)";
  for (char ch : c) {
    auto u = static_cast<unsigned char>(ch);
    if (u < 32) return "contains the control character " + std::to_string(u);
    if (std::strchr("<>:\"/\\|?*", ch)) return std::string("contains the character '") + ch + "'";
  }
  if (c == "." || c == "..") return "has a '.' or '..' component";
  if (c.back() == '.' || c.back() == ' ') return "ends with a dot or a space, which Windows drops";
  if (!isSafeItemFileName(c)) return "is a reserved device name (CON, NUL, COM1, ...)";
  return {};
}

// Temporary files that must go if the program is interrupted.
const fs::path* volatile gPendingTemp = nullptr;

void removePendingTemp(int sig) {
  if (const fs::path* p = gPendingTemp) {
#ifdef _WIN32
    _wremove(p->c_str());
#else
    std::remove(p->c_str());
#endif
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

std::string displayPath(const fs::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

fs::path pathFromUtf8(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

namespace {
unsigned gNameCodePage = kDefaultNameCodePage;
}  // namespace

void setNameCodePage(unsigned codePage) { gNameCodePage = codePage; }
unsigned nameCodePage() { return gNameCodePage; }

bool isKnownCodePage(unsigned codePage) {
  for (unsigned known : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u})
    if (codePage == known) return true;
  return false;
}

std::optional<std::string> ansiFromUtf8(std::string_view utf8) { return utf8ToAnsi(utf8, gNameCodePage); }

std::string utf8FromAnsi(std::string_view ansi) {
  if (std::optional<std::string> text = ansiToUtf8(ansi, gNameCodePage)) return *text;
  // Not text in the code page: ASCII kept, every other byte shown as U+FFFD.
  std::u16string wide;
  for (char ch : ansi) {
    auto b = static_cast<unsigned char>(ch);
    wide += b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
  }
  return utf16ToUtf8(wide);
}

std::string foldCaseName(std::string_view utf8) {
  std::u16string wide = utf8ToUtf16(utf8);
  for (char16_t& c : wide) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) c = static_cast<char16_t>(c - 32);
    else if (c == 0xFF) c = 0x178;
    else if (c >= 0x100 && c <= 0x17F && (c & 1) == ((c >= 0x139 && c <= 0x148) || c >= 0x179 ? 0 : 1))
      c = static_cast<char16_t>(c - 1);  // Latin Extended-A pairs
    else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) c = static_cast<char16_t>(c - 32);
    else if (c >= 0x430 && c <= 0x44F) c = static_cast<char16_t>(c - 32);
    else if (c >= 0x450 && c <= 0x45F) c = static_cast<char16_t>(c - 80);
  }
  return utf16ToUtf8(wide);
}

std::string foldCaseAnsi(std::string_view ansi) {
  std::string out(ansi);
  for (char& ch : out) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
    else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) b = static_cast<unsigned char>(b - 32);
    else if (b == 0x9A || b == 0x9C || b == 0x9E) b = static_cast<unsigned char>(b - 16);
    else if (b == 0xFF) b = 0x9F;
    ch = static_cast<char>(b);
  }
  return out;
}

std::string nameProblem(std::string_view name, bool relativePath) {
  if (relativePath ? isSafeEntryName(name) : isSafeItemFileName(name)) return {};
  if (name.empty()) return "is empty";
  if (utf16Length(name) > 255) return "is " + std::to_string(utf16Length(name)) + " characters long, over the 255 allowed";
  if (!relativePath) {
    std::string p = componentProblem(name);
    return p.empty() ? "is not a safe file name" : p;
  }
  for (std::size_t start = 0;;) {
    std::size_t end = name.find('\\', start);
    std::string p = componentProblem(name.substr(start, end == std::string_view::npos ? end : end - start));
    if (!p.empty()) return p;
    if (end == std::string_view::npos) return "is not a safe relative path";
    start = end + 1;
  }
}

std::uint64_t regularFileSize(const fs::path& path) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) throw ToolError(displayPath(path) + ": no such file");
  if (!fs::is_regular_file(st)) throw ToolError(displayPath(path) + ": not a regular file");
  std::uint64_t size = fs::file_size(path, ec);
  if (ec) throw ToolError(displayPath(path) + ": " + ec.message());
  return size;
}

Bytes readWholeFile(const fs::path& path) {
  std::uint64_t size = regularFileSize(path);
  if (size > SIZE_MAX / 2) throw ToolError(displayPath(path) + ": too large to read");
  std::FILE* f = openFile(path, false);
  if (!f) throw ToolError(displayPath(path) + ": " + errnoText(errno));
  Bytes data(static_cast<std::size_t>(size));
  std::size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), f);
  bool extra = std::fgetc(f) != EOF;  // the file grew while it was read
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed || got != data.size() || extra)
    throw ToolError(displayPath(path) + ": could not be read completely (changed while reading?)");
  return data;
}

// ---- TempOutput -------------------------------------------------------------

TempOutput::TempOutput(fs::path target) : target_(std::move(target)) {
  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    throw ToolError(displayPath(target_) + ": the folder " + displayPath(folder) + " does not exist");
  // A name of our own that no other file has: never overwrite a stranger.
  for (int n = 0; n < 1000 && !file_; ++n) {
    fs::path candidate = target_;
    candidate += ".saverpack-" + std::to_string(n) + ".tmp";
    if (fs::exists(candidate, ec)) continue;
    temp_ = candidate;
    file_ = openFile(temp_, true);
    if (!file_) throw ToolError(displayPath(temp_) + ": " + errnoText(errno));
  }
  if (!file_) throw ToolError(displayPath(target_) + ": no free temporary file name next to it");
  gPendingTemp = &temp_;
  std::signal(SIGINT, removePendingTemp);
  std::signal(SIGTERM, removePendingTemp);
}

TempOutput::~TempOutput() { discard(); }

void TempOutput::discard() noexcept {
  if (gPendingTemp == &temp_) gPendingTemp = nullptr;
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!committed_ && !temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
}

void TempOutput::write(const void* data, std::size_t n) {
  if (n == 0) return;
  if (!file_ || std::fwrite(data, 1, n, file_) != n)
    throw ToolError(displayPath(temp_) + ": write failed: " + errnoText(errno));
}

void TempOutput::commit() {
  if (!file_) throw ToolError(displayPath(temp_) + ": already closed");
  int flushed = std::fflush(file_);
  int err = errno;
  int closed = std::fclose(file_);
  file_ = nullptr;
  if (flushed != 0 || closed != 0) throw ToolError(displayPath(temp_) + ": write failed: " + errnoText(err));
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) throw ToolError(displayPath(target_) + ": could not be replaced: " + ec.message());
  committed_ = true;
  if (gPendingTemp == &temp_) gPendingTemp = nullptr;
}

void writeFileAtomically(const fs::path& target, const Bytes& data) {
  TempOutput out(target);
  out.write(data.data(), data.size());
  out.commit();
}

// ---- InputFile --------------------------------------------------------------

InputFile::InputFile(const fs::path& path) {
  size_ = regularFileSize(path);
  file_ = openFile(path, false);
  if (!file_) throw ToolError(displayPath(path) + ": " + errnoText(errno));
}

InputFile::~InputFile() {
  if (file_) std::fclose(file_);
}

bool InputFile::readAt(std::uint64_t offset, void* dst, std::size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  if (seekTo(file_, offset) != 0) return false;
  return std::fread(dst, 1, n, file_) == n;
}

}  // namespace saverpack
