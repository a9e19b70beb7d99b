// The diagnostic trace: what the installer shows the user (status texts,
// progress positions, dialogs, its windows), the milestones of its
// sequences and each step's start and result, as events.  It writes nothing
// unless the process was started with a trace channel (SAVER_INSTALLER_TRACE
// naming a named pipe), which only the test harness does, or a log was asked
// for ("/log=<path>"), which receives every event as a sink.
//
// Each event goes to the channel as one message and the caller then waits
// for a one-byte acknowledgement, so a test sees every event in order, none
// can be missed however short-lived, and a test may act at an exact step
// before the installer goes on.  A broken channel switches the trace off.
//
// Wire format: the kind and then each field, every one as "<length>:<bytes>"
// (decimal length), so texts may hold any byte.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

constexpr char kTraceChannelVariable[] = "SAVER_INSTALLER_TRACE";

// True while a trace channel is open or a sink is set.
bool traceOn();
void traceEvent(const std::string& kind, const std::vector<std::string>& fields);
// The same for fields written in place (nothing copied unless traced).
void traceEvent(std::string_view kind, std::initializer_list<std::string_view> fields = {});
// Sends an event and returns the test's acknowledgement byte ('k' for "go
// on"; 0 without a channel): a test answers some events, such as a file
// operation it makes fail.
char traceEventAnswered(const std::string& kind, const std::vector<std::string>& fields);

// A receiver of every event besides the channel (the installer's log).  One
// at most; nullptr removes it.
using TraceSink = void (*)(const std::string& kind, const std::vector<std::string>& fields);
void setTraceSink(TraceSink sink);

// The trace points around one step: "enter" with its name, then "leave"
// with its name and, for a step that returns one, its result.
void traceEnter(const char* name);
void traceLeave(const char* name);
void traceLeave(const char* name, long result);
template <typename Step>
auto tracedStep(const char* name, Step&& step) {
  traceEnter(name);
  if constexpr (std::is_void_v<decltype(step())>) {
    step();
    traceLeave(name);
  } else {
    auto result = step();
    traceLeave(name, result);
    return result;
  }
}

// The message traceEvent sends (portable, so both ends share it).
std::string encodeTraceEvent(const std::string& kind, const std::vector<std::string>& fields);
// The reverse: false on a malformed message.
bool decodeTraceEvent(const std::string& message, std::string& kind, std::vector<std::string>& fields);
