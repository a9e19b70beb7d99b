// The lines of the installer's log ("/log=<path>"): one line per event of
// the diagnostic trace, each after a timestamp and the process id, so that
// the runs of several installers appended to one file stay apart.
//
// Texts keep their characters; only control characters are written as
// escapes (a line break inside a dialog's text as \r\n), so that an event
// never spans two lines.
#pragma once

#include <string>
#include <vector>

// What follows the timestamp for one trace event; empty for the events the
// log leaves out (progress positions, the tests' milestones).
std::string logLineFor(const std::string& kind, const std::vector<std::string>& fields);

// "2024-05-17 09:03:12.045 [1234] " for the given local time and process.
std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second, int milliseconds,
                          unsigned long processId);

// text with control characters escaped: \r, \n, \t, \0, other ones as \xHH.
std::string logText(const std::string& text);

// A signed exit code with its unsigned hexadecimal form, as deployment
// tools show it: "-402 (0xFFFFFE6E)"; "0" for success.
std::string exitCodeText(long code);
