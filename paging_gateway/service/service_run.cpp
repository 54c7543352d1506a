// The gateway under Windows' service manager: status reported, stop honoured, output to the log and the event log.
#include "paging_gateway/service/service_run.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

#include "paging_gateway/options.h"
#include "paging_gateway/run_gateway.h"
#include "paging_gateway/service/command_line.h"
#include "paging_gateway/service/data_folder.h"
#include "paging_gateway/service/environment_file.h"
#include "paging_gateway/service/event_log.h"
#include "paging_gateway/service/log_file.h"
#include "paging_gateway/platform/files.h"

namespace {

constexpr std::uintmax_t LOG_LIMIT_BYTES = 1024 * 1024;
constexpr int LOG_FILES_KEPT = 4;
constexpr DWORD START_WAIT_HINT = 15000;
constexpr DWORD STOP_WAIT_HINT = 5000;  // renewed every second while a delivery under way finishes

struct ServiceState {
    std::vector<std::string> options;
    SERVICE_STATUS_HANDLE handle = nullptr;
    std::mutex mutex;
    SERVICE_STATUS status{};
    std::atomic<bool> stop{false};
    int exitCode = 0;
};

ServiceState* state = nullptr;  // the service manager's callbacks take no context of ours

void Report(DWORD current, DWORD waitHint = 0, DWORD serviceExitCode = 0) {
    std::lock_guard<std::mutex> lock(state->mutex);
    SERVICE_STATUS& status = state->status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = current;
    status.dwControlsAccepted = current == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = serviceExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    status.dwServiceSpecificExitCode = serviceExitCode;
    status.dwWaitHint = waitHint;
    const bool pending = current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    SetServiceStatus(state->handle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, STOP_WAIT_HINT);
            state->stop = true;
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Sets the logins from the credentials file, if there is one, before the options read them.
bool LoadCredentials(const std::string& folder, std::string& error) {
    std::string text;
    const std::string path = ServiceCredentialsFile(folder);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    Variables variables;
    if (!ReadSmallFile(path, 64 * 1024, text, error) || !ParseEnvironmentFile(text, variables, error)) {
        error = path + ": " + error;
        return false;
    }
    for (const auto& variable : variables) _putenv_s(variable.first.c_str(), variable.second.c_str());
    return true;
}

// Keeps the service manager told that the stop is under way while the last delivery finishes.
class StopHeartbeat {
public:
    StopHeartbeat()
        : thread_([this] {
              while (!done_) {
                  std::this_thread::sleep_for(std::chrono::seconds(1));
                  if (state->stop && !done_) Report(SERVICE_STOP_PENDING, STOP_WAIT_HINT);
              }
          }) {}
    ~StopHeartbeat() {
        done_ = true;
        thread_.join();
    }
    StopHeartbeat(const StopHeartbeat&) = delete;
    StopHeartbeat& operator=(const StopHeartbeat&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

int Fail(int code, const std::string& reason, LogFile* log) {
    if (log != nullptr) log->Err() << "paging_gateway: " << reason << "\n";
    LogEvent(EventKind::Error, "The mervasTX paging gateway could not start: " + reason);
    return code;
}

int Serve() {
    const std::string folder = ServiceDataFolder();
    if (folder.empty()) return Fail(1, "Windows does not say where ProgramData is", nullptr);
    LogFile log(ServiceLogFile(folder), LOG_LIMIT_BYTES, LOG_FILES_KEPT);
    if (!log.IsOpen()) LogEvent(EventKind::Error, "The mervasTX paging gateway cannot write " + ServiceLogFile(folder));

    std::string error;
    if (!LoadCredentials(folder, error)) return Fail(2, error, &log);
    std::vector<const char*> argv{"paging_gateway"};
    for (const std::string& option : state->options) argv.push_back(option.c_str());
    GatewayOptions options;
    if (!ReadGatewayOptions(static_cast<int>(argv.size()), argv.data(), options, error)) return Fail(2, error, &log);

    // Nobody watches a service's console: each notice is a warning in the event log too.
    options.notices.warn = [](const std::string& text) {
        LogEvent(EventKind::Warning, "mervasTX paging gateway: " + text);
    };
    log.Err() << "paging_gateway: started by the service manager\n";
    StopHeartbeat heartbeat;
    const int code = RunGateway(options, log.Out(), log.Err(), state->stop, [&options] {
        Report(SERVICE_RUNNING);
        LogEvent(EventKind::Information, "The mervasTX paging gateway is listening on " + options.address + ":" +
                                             std::to_string(options.port) + ".");
    });
    if (code != 0) {
        LogEvent(EventKind::Error, "The mervasTX paging gateway could not start:\n" + log.RecentErrors());
        return code;
    }
    log.Err() << "paging_gateway: stopped\n";
    LogEvent(EventKind::Information, "The mervasTX paging gateway has stopped; pages not yet relayed stay in " +
                                         ServiceSpoolFolder(folder) + ".");
    return 0;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    state->handle = RegisterServiceCtrlHandlerExA(SERVICE_NAME, OnControl, nullptr);
    if (state->handle == nullptr) return;
    Report(SERVICE_START_PENDING, START_WAIT_HINT);
    state->exitCode = Serve();
    Report(SERVICE_STOPPED, 0, static_cast<DWORD>(state->exitCode));
}

}  // namespace

int RunService(const std::vector<std::string>& options) {
    static ServiceState service;
    service.options = options;
    state = &service;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(SERVICE_NAME), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        std::cerr << "paging_gateway: --service is for Windows' service manager; to run the gateway as a "
                     "service, install it with --install-service\n";
        return 1;
    }
    return service.exitCode;
}
