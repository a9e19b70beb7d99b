// Portable description of a modal message dialog: what to show, not how.
// The Windows side maps kind to title and icon and buttons to the button row.
#pragma once

#include <string>

// Kind decides title and icon: Error "Error", Information "Information",
// Confirm "Confirm" (question icon).  None: no dialog at all.  Plain: a box
// titled with the application title, no icon, OK only.
enum class DialogKind { None, Error, Information, Confirm, Plain };

// Button rows: a single "&Abort", a single "OK", "&Yes"/"&No", "OK"/"Cancel".
enum class DialogButtons { Abort, Ok, YesNo, OkCancel };

struct MessageSpec {
    bool show = false;
    DialogKind kind = DialogKind::None;
    DialogButtons buttons = DialogButtons::Ok;
    std::string text;
};
