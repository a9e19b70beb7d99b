// Access to the string table (resources/strings.def).
//
// On Windows the texts come from the executable's STRINGTABLE resource
// (base/text_win32.cpp); natively they are compiled in from the same
// definition file (base/text_native.cpp), so tests see the shipped texts.
#pragma once

#include <string>

#include "resources/string_ids.h"

// The text of one string-table entry; empty for an id that has no entry.
std::string loadText(StringId id);
