// Package names between their code page and UTF-8 (declared in
// package/package_text.h).
#include "package/package_text.h"

#include <optional>

#include "base/code_page.h"

namespace {

bool decodeInPlace(std::string& text, unsigned codePage) {
  std::optional<std::string> decoded = ansiToUtf8(text, codePage);
  if (!decoded) return false;
  text = std::move(*decoded);
  return true;
}

bool encodeInPlace(std::string& text, unsigned codePage, std::size_t fieldSize) {
  std::optional<std::string> encoded = utf8ToAnsi(text, codePage);
  if (!encoded || encoded->size() > fieldSize) return false;
  text = std::move(*encoded);
  return true;
}

}  // namespace

bool decodeHeaderNames(PackageHeader& header, unsigned codePage) {
  if (!decodeInPlace(header.saverName, codePage)) return false;
  for (PackageItem& item : header.items)
    if (!decodeInPlace(item.fileName, codePage)) return false;
  return true;
}

bool decodeEntryNames(std::span<DataFileEntry> entries, unsigned codePage) {
  for (DataFileEntry& entry : entries)
    if (!decodeInPlace(entry.entryName, codePage)) return false;
  return true;
}

bool encodeHeaderNames(PackageHeader& header, unsigned codePage, std::string& field) {
  if (!encodeInPlace(header.saverName, codePage, kSaverNameSize)) {
    field = "saverName";
    return false;
  }
  for (std::size_t i = 0; i < header.items.size(); ++i) {
    if (!encodeInPlace(header.items[i].fileName, codePage, kMaxItemNameLength)) {
      field = "items[" + std::to_string(i) + "].fileName";
      return false;
    }
  }
  return true;
}

bool encodeEntryNames(std::span<DataFileEntry> entries, unsigned codePage, std::string& field) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!encodeInPlace(entries[i].entryName, codePage, kEntryNameFieldSize - 1)) {
      field = "entries[" + std::to_string(i + 1) + "].entryName";
      return false;
    }
  }
  return true;
}
