// Removing trees without acting through links (declared in
// system/tree_removal_win32.h).
#include "system/tree_removal_win32.h"

#include <vector>

#include "base/diagnostic_trace.h"
#include "system/handles_win32.h"
#include "system/win_text_win32.h"

namespace {

constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// What a link or an exchanged entry that cannot be removed as itself gives.
constexpr DWORD kNotRemovable = ERROR_CANT_ACCESS_FILE;

TreeListedHook listedHook = nullptr;

bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool isFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class Removal {
public:
  explicit Removal(RemovalFailure* failure) : failure_(failure) {}

  bool fail(const std::string& path, DWORD code, bool folder) {
    if (!failed_ && failure_) *failure_ = RemovalFailure{path, code ? code : kNotRemovable, folder};
    failed_ = true;
    return false;
  }

  // Removes the object of an open handle.  `listed` is what the folder
  // listing (or, for the top, the path) said of it; `listedId` its file id
  // there (0: unknown).
  bool removeHeld(HANDLE handle, const std::string& path, DWORD listed, std::uint64_t listedId) {
    HandleFacts held;
    if (!winHandleFacts(handle, held)) return fail(path, GetLastError(), isFolder(listed));
    if (isLink(listed) || isLink(held.attributes)) {
      // Opened as itself, a link is removed like a file.  A link the system
      // opened through to its target (it cannot open it as itself) stays.
      if (isLink(held.attributes) && winDeleteByHandle(handle, path)) return true;
      return fail(path, isLink(held.attributes) ? GetLastError() : kNotRemovable, isFolder(listed));
    }
    // Exchanged after the listing (the name now leads somewhere else).
    if (listedId != 0 && held.id != listedId) return fail(path, kNotRemovable, isFolder(listed));
    if (isFolder(held.attributes) && !removeContents(handle, path)) {
      return false;  // what stays inside keeps the folder
    }
    if (!winDeleteByHandle(handle, path)) return fail(path, GetLastError(), isFolder(held.attributes));
    return true;
  }

private:
  bool removeContents(HANDLE folder, const std::string& path) {
    std::vector<HandleEntry> entries;
    if (!winListFolder(folder, entries)) return fail(path, GetLastError(), true);
    if (listedHook) listedHook(path);
    traceEvent("tree listed", {path});
    bool all = true;
    for (const HandleEntry& entry : entries) {
      std::string child = path + "\\" + entry.name;
      DWORD access = kRemoveAccess | (isFolder(entry.attributes) ? FILE_LIST_DIRECTORY : 0);
      UniqueFile handle(winOpenRelative(folder, entry.name, access, kShareAllButDelete));
      if (!handle) {
        DWORD error = GetLastError();
        if (gone(error)) continue;
        all = fail(child, error, isFolder(entry.attributes)) && all;
        continue;
      }
      // The child's handle closes here, before the folder is asked to go.
      if (!removeHeld(handle.get(), child, entry.attributes, entry.id)) all = false;
    }
    return all;
  }

  RemovalFailure* failure_;
  bool failed_ = false;
};

std::string withoutTrailingBackslash(std::string path) {
  while (path.size() > 1 && path.back() == '\\' && path[path.size() - 2] != ':') path.pop_back();
  return path;
}

// Windows 95, 98 and ME: no links, no handle-relative calls; by path.
bool removeByPath(const std::string& path, DWORD attributes, RemovalFailure* failure) {
  if (!isFolder(attributes)) {
    if (winDeleteFile(path)) return true;
    winSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
    if (winDeleteFile(path) || gone(GetLastError())) return true;
    if (failure && failure->path.empty()) *failure = RemovalFailure{path, GetLastError(), false};
    return false;
  }
  std::vector<FoundEntry> entries;
  FolderListing listing;
  for (bool more = listing.first(path + "\\*.*"); more; more = listing.next())
    if (listing.entry().name != "." && listing.entry().name != "..") entries.push_back(listing.entry());
  listing = FolderListing();
  if (listedHook) listedHook(path);
  bool all = true;
  for (const FoundEntry& entry : entries)
    if (!removeByPath(path + "\\" + entry.name, entry.attributes, failure)) all = false;
  if (!all) return false;
  winSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
  if (winRemoveDirectory(path) || gone(GetLastError())) return true;
  if (failure && failure->path.empty()) *failure = RemovalFailure{path, GetLastError(), true};
  return false;
}

}  // namespace

bool removeTree(const std::string& pathText, RemovalFailure* failure) {
  const std::string path = withoutTrailingBackslash(pathText);
  if (path.empty()) return true;
  DWORD attributes = winGetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!relativeCallsAvailable()) return removeByPath(path, attributes, failure);
  DWORD access = kRemoveAccess | (isFolder(attributes) ? FILE_LIST_DIRECTORY : 0) | SYNCHRONIZE;
  UniqueFile handle(winOpenNoFollow(path, access, kShareAllButDelete));
  Removal removal(failure);
  if (!handle) {
    DWORD error = GetLastError();
    return gone(error) || removal.fail(path, error, isFolder(attributes));
  }
  return removal.removeHeld(handle.get(), path, attributes, 0);
}

TreeListedHook setTreeListedHook(TreeListedHook hook) {
  TreeListedHook previous = listedHook;
  listedHook = hook;
  return previous;
}
