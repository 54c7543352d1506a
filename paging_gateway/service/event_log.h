// The service's entries in the Windows event log (Application): start, stop and what kept it from running.
#pragma once

#include <string>

enum class EventKind { Information, Error };

void LogEvent(EventKind kind, const std::string& text);

// Registers the service as an event source whose message file is `exe`; false, with the reason, on failure.
bool RegisterEventLogSource(const std::string& exe, std::string& error);
void RemoveEventLogSource();
