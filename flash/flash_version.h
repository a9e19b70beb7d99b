// Flash Player version logic that needs no Windows: parsing the control's
// "$version" text, the versions of the installers a package may carry, and
// the decisions taken on them at start-up and before a movie is played.
#pragma once

#include <cstdint>
#include <string>

#include "base/error_codes.h"

// Parses the control's "$version" answer, a platform word and four numbers,
// e.g. "WIN 10,0,45,2".  Tokens end at a comma, a blank or a control
// character, and a run of such separators counts as one, so no token is
// empty.  A token that begins with a double quote runs to the next double
// quote (or the end of the text) and loses its quotes.  major is token 1 and
// revision token 3, counting from 0; both must be plain decimal digits that
// fit in int32 (no sign: a version number is never negative), and the other
// tokens are not examined.  Returns false for fewer than four tokens or an
// unusable number; major and revision are written only on success.
bool parseFlashVersionString(const std::string& text, std::int32_t& major, std::int32_t& revision);

// The version a carried Flash Player installer provides, by the package
// header's flashAXInstallerVersion.  False for an index outside the table,
// which only a corrupt package can hold.
bool requiredFlashVersion(int index, std::int32_t& major, std::int32_t& revision);

// errWindowsNTUnsupported when the carried installer (requiredMajor 8 or
// more) cannot run on Windows NT 4 or earlier (osCode kOsWinNT4); else 0.
// requiredMajor is 0 when no installer is carried, which always passes.
ErrorCode verifyFlashAXInstallerCanRunOnThisMachine(int osCode, std::int32_t requiredMajor);

enum class FlashDecision {
    None,               // the installed player is used
    MajorUpdate,        // run the carried installer
    MinorUpdate,        // run the carried installer
    CleanInstall,       // run the carried installer
    TellUserToDownload  // no player and none carried: errFlashPlayerMissing
};

// What to do about the installed player (installed, major, revision) given
// the carried installer's version.  A newer installed player is never
// replaced, and a revision of 0 (unknown) never asks for a minor update.
// Without a carried installer an installed player is always used as it is.
FlashDecision decideFlashUpdate(bool installed, std::int32_t major, std::int32_t revision,
                                bool hasInstaller, std::int32_t reqMajor, std::int32_t reqRevision);

// Whether the installed player can play a movie of the given SWF version:
// errFlashInstallerMissing (-401) without a player, errFlashPlayerTooOld
// when the movie is newer than the player's major version, else 0.
ErrorCode playerCheckForMovie(bool installed, std::int32_t major, std::uint8_t swfVersion);
