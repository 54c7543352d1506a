// The service's entries in the Windows event log (Application): start, stop, what kept it from running, and
// each notice (a page failed or late, a route down or up) as a warning.
#pragma once

#include <string>

enum class EventKind { Information, Warning, Error };

void LogEvent(EventKind kind, const std::string& text);

// Registers the service as an event source whose message file is `exe`; false, with the reason, on failure.
bool RegisterEventLogSource(const std::string& exe, std::string& error);
void RemoveEventLogSource();
