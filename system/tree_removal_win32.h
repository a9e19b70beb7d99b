// Removing files and folder trees without ever acting through a link.
//
// Elevated, the installer deletes folders that an ordinary program may have
// reached into beforehand (an earlier saver folder with a list that let
// users write, a backup of one).  A walk that lists a folder and then
// deletes by path can be turned elsewhere between the two: a sub-folder
// renamed away and a junction put in its place sends the remaining
// deletions into the junction's target.  So each entry is opened relative
// to its folder's open handle, without following a link, and deleted
// through its own handle; a link is removed as itself and never entered,
// and an entry that is no longer the one listed is left alone.  Folders are
// held open while their contents go, so they cannot be exchanged either.
//
// On Windows 95, 98 and ME, which have neither links nor handle-relative
// calls, the same walk goes by path.
#pragma once

#include <windows.h>

#include <string>

// The first thing a removal had to leave: its path and the system's code.
struct RemovalFailure {
  std::string path;
  DWORD code = 0;
  bool folder = false;
};

// Removes what is at path (a trailing backslash is allowed): a file, a link,
// or a folder with everything in it.  Goes on past what cannot be removed.
// True when nothing is left there (also when there was nothing); otherwise
// `failure`, when given, names the first entry that stays.
bool removeTree(const std::string& path, RemovalFailure* failure = nullptr);

// Test seam: called for each folder after its entries were listed and
// before the first of them is opened (a test exchanges one there).  Returns
// the previous hook.
using TreeListedHook = void (*)(const std::string& folder);
TreeListedHook setTreeListedHook(TreeListedHook hook);
