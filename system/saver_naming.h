// The names under which the screen saver is shown: the installer window's
// caption and the uninstall entry's display name.
#pragma once

#include <string>

// Whether part occurs in text, ignoring the case of the letters A to Z only
// (no code page is involved, so bytes above 127 compare exactly).  An empty
// part never matches.
bool containsText(const std::string& text, const std::string& part);

// "Install: " + name when the name already says it is a screen saver,
// otherwise "Install Screen Saver: " + name (words from the string table).
std::string getInstallerCaption(const std::string& name);

// The name itself when it already says it is a screen saver, otherwise
// name + " Screen Saver".
std::string getSaverDisplayName(const std::string& name);
