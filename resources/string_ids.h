// Identifiers of the string table entries (resources/strings.def).
#pragma once

enum StringId : unsigned {
#define STR(name, id, text) name = id,
#include "resources/strings.def"
#undef STR
};
