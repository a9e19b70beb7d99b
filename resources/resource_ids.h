// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_MAINICON 1
#define IDD_ABORTBOX 200
#define IDC_ABORTBOX_ICON 201
#define IDC_ABORTBOX_TEXT 0xFFFF  // the id the system's message box uses for its text
