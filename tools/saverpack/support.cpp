// Files, text conversion and output handling for the packager.
#include "tools/saverpack/support.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#include "base/names.h"

namespace saverpack {

namespace fs = std::filesystem;

namespace {

// Code page 1252 bytes 0x80..0x9F; 0 marks the five undefined ones.  Every
// other byte is the Unicode code point of the same value.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::optional<char> ansiFromCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  return std::nullopt;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

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

std::optional<std::string> ansiFromUtf8(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    std::size_t len;
    if (b < 0x80) { cp = b; len = 1; }
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; len = 4; }
    else return std::nullopt;
    if (i + len > utf8.size()) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms would let two spellings map to one name.
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len]) return std::nullopt;
    std::optional<char> a = ansiFromCodePoint(cp);
    if (!a) return std::nullopt;
    out += *a;
    i += len;
  }
  return out;
}

std::string utf8FromAnsi(std::string_view ansi) {
  std::string out;
  for (char ch : ansi) {
    auto b = static_cast<unsigned char>(ch);
    char32_t cp = b;
    if (b >= 0x80 && b < 0xA0) cp = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD;
    appendUtf8(out, cp);
  }
  return out;
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
  if (name.size() > 255) return "is " + std::to_string(name.size()) + " characters long, over the 255 allowed";
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
