// The installer's version: the version record and the log's first line.
#pragma once

#define INSTALLER_VERSION_NUMBERS 3,8,4,0
#define INSTALLER_VERSION_TEXT "3.8.4.0"
