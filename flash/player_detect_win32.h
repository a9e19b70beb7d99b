// Finding the installed Flash Player ActiveX control and running a Flash
// Player installer.
//
// The version comes first from the control's file (its registration under
// HKEY_CLASSES_ROOT names the file, whose version resource a.b.c.d gives
// major a and revision c); when that yields no major version, a probe
// control is created and asked for "$version".  A version a control
// reported is cached in processState() for the rest of the run.
//
// GUI thread only: the waits before each probe block it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/error_codes.h"

// The pause before every attempt to create a probe control, giving a freshly
// started installer time to register the control.
constexpr unsigned kFlashProbeWaitMs = 500;
// Attempts of the movie panel to create the control it plays the movie in.
constexpr int kFlashControlCreateAttempts = 10000;

// The two values above as the code uses them; tests shorten them.
struct FlashTimings {
  unsigned probeWaitMs = kFlashProbeWaitMs;
  int controlCreateAttempts = kFlashControlCreateAttempts;
};
FlashTimings& flashTimings();

// The registry key, under HKEY_LOCAL_MACHINE, whose default value is the
// control's file.  Only the machine's registration counts: an ordinary
// user may register any class for themselves (HKEY_CURRENT_USER), and an
// elevated program can be handed that one.
constexpr const char* kFlashInprocServerKey =
    "Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";

// installed := false, major := revision := 0; then the file's version; when
// that gives no major version, the control itself (attempts probes).
void getFlashPlayerVersion(int attempts, bool& installed, std::int32_t& major,
                           std::int32_t& revision);

// major := revision := 0; when the registration names an existing file:
// installed := true and major, revision from its version resource (0 when
// it has none).  installed is never set to false here.
void getFlashPlayerVersionInfoFromFileProperties(bool& installed, std::int32_t& major,
                                                 std::int32_t& revision);

// The control's file as the machine registered it: 0, or
// errFlashPlayerMissing when the key or its default value is missing or
// empty, or when the file does not lie in the system folder (or, on 64-bit
// Windows, the 32-bit one): a file only administrators can change.  Of the
// variables a registration may use, only %SystemRoot% and %windir% are
// understood, as the system's own Windows folder.
ErrorCode getFlashOCXFilePath(std::string& path);

// Creates the Shockwave Flash control from the file getFlashOCXFilePath
// names, loaded once by its full path and kept for the run, through its
// class factory.  CoCreateInstance would take a registration of the user's.
HRESULT createFlashControl(REFIID iid, void** object);

// The version a control reports.  A cached version is returned at once.
// Otherwise up to `attempts` times: wait, create a probe; stop at the first
// probe created.  0 with the version cached when the probe's "$version"
// parses; errFlashPlayerMissing when no probe could be created, or at once
// when the probe's answer is missing or unusable (nothing cached then).
ErrorCode getFlashPlayerVersionFromControl(int attempts, bool& installed, std::int32_t& major,
                                           std::int32_t& revision);

// Whether a control answers within `attempts` probes: 0 or errFlashPlayerMissing.
ErrorCode verifyFlashPlayerControl(int attempts);

// Starts workFolder + fileName through the shell and does not wait for it.
// Silent: hidden, with "/s" for the two installers known to take it and
// "/Q" for any other; not silent: shown normally, without parameters.
// 0, errFlashInstallerMissing when there is no such file, errOutOfMemory
// when the shell returned 0, or the shell's failure value 1..32.
ErrorCode runFlashPlayerInstaller(const std::string& fileName, bool silent);

// Runs the installer silently and waits up to 20 probes for the control to
// answer; when that fails and offerToUser, starts the installer again
// visibly for the user to complete (its result ignored).  Returns the first
// failure, or 0.
ErrorCode handleFlashActiveXControlUpdate(const std::string& fileName, bool offerToUser);
