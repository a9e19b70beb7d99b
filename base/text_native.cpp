// loadText for native builds: the texts of resources/strings.def compiled in.
#include "base/text.h"

std::string loadText(StringId id)
{
    switch (id) {
#define STR(name, id, text) \
    case name:              \
        return text;
#include "resources/strings.def"
#undef STR
    }
    return {};
}
