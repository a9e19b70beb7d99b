// The diagnostic trace: what the installer shows the user (status texts,
// progress positions, dialogs, its windows) and the milestones of its
// sequences, as events.  It writes nothing unless the process was started
// with a trace channel (SAVER_INSTALLER_TRACE naming a named pipe), which
// only the test harness does.
//
// Each event goes to the channel as one message and the caller then waits
// for a one-byte acknowledgement, so a test sees every event in order, none
// can be missed however short-lived, and a test may act at an exact step
// before the installer goes on.  A broken channel switches the trace off.
//
// Wire format: the kind and then each field, every one as "<length>:<bytes>"
// (decimal length), so texts may hold any byte.
#pragma once

#include <string>
#include <vector>

constexpr char kTraceChannelVariable[] = "SAVER_INSTALLER_TRACE";

// True while a trace channel is open.
bool traceOn();
void traceEvent(const std::string& kind, const std::vector<std::string>& fields = {});
// The same, returning the test's acknowledgement byte ('k' for "go on"; 0
// without a channel): a test answers some events, such as a file operation
// it makes fail.
char traceEventAnswered(const std::string& kind, const std::vector<std::string>& fields);

// The message traceEvent sends (portable, so both ends share it).
std::string encodeTraceEvent(const std::string& kind, const std::vector<std::string>& fields);
// The reverse: false on a malformed message.
bool decodeTraceEvent(const std::string& message, std::string& kind, std::vector<std::string>& fields);
