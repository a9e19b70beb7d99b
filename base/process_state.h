// The process-wide values of the installer, gathered in one place.
//
// Filled once at start-up on the GUI thread (folders, operating-system code,
// package header and paths) and read everywhere afterwards; the flags change
// only on the GUI thread, so nothing here needs a lock.
#pragma once

#include <cstdint>
#include <string>

#include "base/package_format.h"

// Folders of the run, each a full path (UTF-8) ending with a backslash.
struct InstallerFolders {
  std::string windowsFolder;    // the system's Windows folder
  std::string systemFolder;     // the system directory as this process sees it
  std::string sysnativeFolder;  // Windows folder + Sysnative\ (read only on 64-bit Windows)
  std::string commonFolder;     // common application data + "Brindlefax\"
  std::string exeFolder;        // folder of the running installer
  std::string workFolder;       // this run's private numbered folder
};

// Paths derived from the installer and its package header.
struct PackagePaths {
  std::string exePath;       // full path of the running installer
  std::string tempDatPath;   // workFolder + "temp.dat": every package read goes here
  std::string saverName;     // header saverName up to the first NUL
  std::string saverFolder;   // commonFolder + saverName + "\"
  std::string dataFilePath;  // workFolder + item 8's name
};

struct ProcessState {
  InstallerFolders folders;
  PackagePaths paths;
  PackageHeader header;           // the in-memory copy, for the whole run
  int operatingSystemCode = -1;   // 7: 64-bit Windows, 4: NT 4 or earlier
  bool isInstalling = false;      // an install started by the Install button runs
  bool cancelRequested = false;   // the user asked to cancel the running install
  bool unattended = false;        // "/qn": no dialog is shown, each takes its default answer
  std::uint32_t launcherWindow = 0;     // the launcher's window handle, 0 = none
  std::int32_t cachedFlashMajor = -1;   // version the Flash control reported; -1 = none yet
  std::int32_t cachedFlashRevision = -1;

  // The destination folders of package items, for itemDestination().
  InstallFolders installFolders() const {
    return {folders.workFolder, paths.saverFolder, folders.systemFolder, folders.sysnativeFolder,
            folders.commonFolder};
  }
};

ProcessState& processState();
