// The platform's tables of the code pages (declared in
// base/code_page_platform.h): Windows' own (MultiByteToWideChar and back),
// elsewhere iconv's, for the packager and the native tests.  Both the
// installer and the packager use this file, so it is built with either.
#include "base/code_page.h"
#include "base/code_page_platform.h"

#ifdef _WIN32

#include <windows.h>


namespace {

std::wstring asWide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

unsigned machineCodePage() { return GetACP(); }

std::optional<std::u16string> platformAnsiToUtf16(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return std::u16string();
  int inLength = static_cast<int>(bytes.size());
  // Windows 95 refuses MB_ERR_INVALID_CHARS with ERROR_INVALID_FLAGS: the
  // structural check of double-byte text has been made already.
  DWORD flags = MB_ERR_INVALID_CHARS;
  int n = MultiByteToWideChar(codePage, flags, bytes.data(), inLength, nullptr, 0);
  if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    n = MultiByteToWideChar(codePage, flags, bytes.data(), inLength, nullptr, 0);
  }
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(codePage, flags, bytes.data(), inLength, wide.data(), n) != n) return std::nullopt;
  return std::u16string(wide.begin(), wide.end());
}

std::optional<std::string> platformUtf16ToAnsi(std::u16string_view text, unsigned codePage, bool lossy) {
  if (text.empty()) return std::string();
  std::wstring wide = asWide(text);
  int inLength = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  // Best-fit mapping would turn "Ł" into "L": a different name.  The lossy
  // form puts '?' where the ANSI functions of Windows do.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  BOOL* used = lossy ? nullptr : &usedDefault;
  int n = WideCharToMultiByte(codePage, flags, wide.data(), inLength, nullptr, 0, nullptr, used);
  if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    n = WideCharToMultiByte(codePage, flags, wide.data(), inLength, nullptr, 0, nullptr, used);
  }
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(codePage, flags, wide.data(), inLength, bytes.data(), n, nullptr, used) != n || usedDefault)
    return std::nullopt;
  // Without best fit a character may still have come back as another one:
  // the round trip proves the bytes mean the text.
  if (!lossy && platformAnsiToUtf16(bytes, codePage) != std::u16string(text)) return std::nullopt;
  return bytes;
}

#else  // !_WIN32

#include <iconv.h>

#include <cerrno>
#include <string>


namespace {

std::string iconvName(unsigned codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    default: return "CP" + std::to_string(codePage);
  }
}

class Converter {
public:
  Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted; nullopt at the first unconvertible part.
  std::optional<std::string> run(std::string_view in) {
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
  }

private:
  iconv_t cd_;
};

}  // namespace

unsigned machineCodePage() { return 1252; }

std::optional<std::u16string> platformAnsiToUtf16(std::string_view bytes, unsigned codePage) {
  Converter c("UTF-16LE", iconvName(codePage));
  if (!c.ok()) return std::nullopt;
  std::optional<std::string> raw = c.run(bytes);
  if (!raw) return std::nullopt;
  std::u16string wide(raw->size() / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>((*raw)[2 * i]) |
                                    (static_cast<unsigned char>((*raw)[2 * i + 1]) << 8));
  return wide;
}

std::optional<std::string> platformUtf16ToAnsi(std::u16string_view text, unsigned codePage, bool lossy) {
  Converter c(iconvName(codePage), "UTF-16LE");
  if (!c.ok()) return std::nullopt;
  std::string out;
  // One character (or surrogate pair) at a time, so that a missing one can
  // become '?' when that is asked for.
  for (std::size_t i = 0; i < text.size();) {
    std::size_t units = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
    std::string raw;
    for (std::size_t k = i; k < i + units; ++k) {
      raw += static_cast<char>(text[k] & 0xFF);
      raw += static_cast<char>(text[k] >> 8);
    }
    std::optional<std::string> bytes = c.run(raw);
    if (bytes) {
      out += *bytes;
    } else if (lossy) {
      out += '?';
    } else {
      return std::nullopt;
    }
    i += units;
  }
  return out;
}

#endif
