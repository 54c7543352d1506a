// The service's entries in the Windows event log.
#include "paging_gateway/service/event_log.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "paging_gateway/platform/system_error.h"
#include "paging_gateway/service/command_line.h"
#include "messages/messages.h"  // made from service/messages.mc

namespace {

const std::string SOURCE_KEY =
    std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + SERVICE_NAME;

}  // namespace

void LogEvent(EventKind kind, const std::string& text) {
    HANDLE source = RegisterEventSourceA(nullptr, SERVICE_NAME);
    if (source == nullptr) return;
    const char* strings[] = {text.c_str()};
    const struct {
        WORD type;
        DWORD message;
    } entries[] = {{EVENTLOG_INFORMATION_TYPE, MSG_GATEWAY_INFORMATION},
                   {EVENTLOG_WARNING_TYPE, MSG_GATEWAY_WARNING},
                   {EVENTLOG_ERROR_TYPE, MSG_GATEWAY_ERROR}};
    const auto& entry = entries[static_cast<int>(kind)];
    ReportEventA(source, entry.type, 0, entry.message, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

bool RegisterEventLogSource(const std::string& exe, std::string& error) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SOURCE_KEY.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        result = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe.c_str()),
                                static_cast<DWORD>(exe.size() + 1));
        if (result == ERROR_SUCCESS)
            result = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                    sizeof types);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        error = "cannot register the event log source: " + SystemError();
        return false;
    }
    return true;
}

void RemoveEventLogSource() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, SOURCE_KEY.c_str()); }
