// The installer's command line: splitting it into parameters and reading the
// switches: "/q" (quiet install), "/qn" (quiet, and no dialog either),
// "/log=<path>" (a log of the run) and "/l=<handle>" (the launcher window).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits a command line as the Microsoft C runtime does for argv: blanks and
// tabs separate arguments; double quotes group (and are removed); 2n
// backslashes before a quote give n backslashes and the quote groups, 2n+1
// give n backslashes and a literal quote; "" inside a quoted part is a
// literal quote; other backslashes are literal.  The first element is the
// program path, which follows the simpler rule for it (quotes toggle, no
// backslash escapes).  A null or empty command line gives no elements.
std::vector<std::string> splitCommandLine(const char* cmdLine);

// splitCommandLine without the program path: the parameters only.
std::vector<std::string> commandLineParameters(const char* cmdLine);

// "/q" or "/Q" and nothing else ("-q", "/quiet" and "/qx" are not the switch).
bool isQuietSwitch(const std::string& param);
int countQuietSwitches(const std::vector<std::string>& params);

// "/qn" in any letter case and nothing else: a quiet install that shows no
// dialog at all (each is answered by its default).
bool isUnattendedSwitch(const std::string& param);
bool hasUnattendedSwitch(const std::vector<std::string>& params);

// The path of the first parameter that begins with "/log=" (in any letter
// case), as written after the "="; empty when there is none.
std::string logPathParameter(const std::vector<std::string>& params);

// The switches, as the packager describes them to a package's author.
struct InstallerSwitch {
  const char* form;
  const char* meaning;
};
inline constexpr InstallerSwitch kInstallerSwitches[] = {
    {"/q", "quiet: no window; dialogs (errors, no Flash Player) are still shown"},
    {"/qn", "unattended: no window and no dialog; each dialog is answered by its default and logged"},
    {"/log=<path>", "appends a UTF-8 log of the run to <path> (the folder must exist)"},
    {"/l=<window>", "reports progress to the launcher's window (decimal handle)"},
};

// The launcher's window handle from the first parameter that begins with
// "/l=" (lower-case l only).  Every "/l=" in that parameter, in any letter
// case, is removed and the rest read as a decimal number.  0 (no launcher)
// when there is no such parameter, or the rest is not a decimal number, is
// negative or exceeds the signed 32-bit range.
std::uint32_t parseLauncherWindow(const std::vector<std::string>& params);
