// The operating system's own text for an error number.
#pragma once

#include <string>

#include "base/error_codes.h"

// The system's message text for an error number, without trailing line
// breaks; empty when the system has none.
std::string systemErrorText(ErrorCode code);
