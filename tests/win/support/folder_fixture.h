// Fresh Windows-side folders for each test, and small file helpers.
//
// FolderFixture creates a unique root under the temp folder with four
// subfolders standing for the folders the installer works with (system,
// common application data, local application data, work), and removes the
// whole tree afterwards, clearing read-only attributes first (DeleteFileA
// fails with 5 on a read-only file, even as root under Wine).  Every path is
// an ANSI std::string ending with a backslash, like the installer's own
// folder variables.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "system/handles_win32.h"

namespace winfs {

using Bytes = std::vector<std::uint8_t>;

// Creates path's parent folders as needed; false on any failure.
bool writeFile(const std::string& path, const Bytes& data);
bool writeFile(const std::string& path, const std::string& data);
// Empty when the file cannot be read (check exists() to tell an empty file).
Bytes readFile(const std::string& path);
std::string readText(const std::string& path);
bool exists(const std::string& path);        // a file or a folder
bool isFolder(const std::string& path);
// -1 when the file does not exist.
std::int64_t fileSize(const std::string& path);
// Creates the folder and every missing parent (path may end with '\').
bool makeFolders(const std::string& path);
// Deletes a folder tree, clearing read-only attributes; retries briefly, as
// a file another process has just closed can stay locked for a moment.
bool removeTree(const std::string& path);
bool setReadOnly(const std::string& path, bool readOnly);
// Names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::string> listFolder(const std::string& folder);
// "/work/x" (a path on the Linux side) as Wine sees it: "Z:\work\x".
std::string hostPath(const std::string& unixPath);
// The temp folder, ending with a backslash.
std::string tempFolder();
// Copies file into the system folder under `relative` (its folders made as
// needed), unless an equal copy is there already (it may be loaded); the
// copy's path.  For stand-ins the installer takes only from there.
std::string systemCopyOf(const std::string& file, const std::string& relative);
// Attributes, names and contents (CRC-32) of a file or of everything under
// a folder, as one text; "-" when there is nothing: equal texts mean equal
// trees.
std::string fingerprint(const std::string& path);
// Opens an existing file without sharing, as another program holding it
// would: deleting, replacing or opening it then fails with 32 (sharing
// violation) until the handle is closed.
UniqueFile holdOpen(const std::string& path);

}  // namespace winfs

class FolderFixture : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& rootDir() const { return root_; }
  const std::string& systemDir() const { return system_; }
  const std::string& commonDir() const { return common_; }
  const std::string& localAppDataDir() const { return localAppData_; }
  const std::string& workDir() const { return work_; }

private:
  std::string root_, system_, common_, localAppData_, work_;
};
