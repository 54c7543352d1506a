// Registers the gateway with Windows' service manager, and removes it.
#include "paging_gateway/service/service_install.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "paging_gateway/platform/system_error.h"
#include "paging_gateway/service/command_line.h"
#include "paging_gateway/service/data_folder.h"
#include "paging_gateway/service/environment_file.h"
#include "paging_gateway/service/event_log.h"

namespace {

constexpr const char SERVICE_ACCOUNT[] = "NT AUTHORITY\\LocalService";
constexpr const char DESCRIPTION[] =
    "Takes mervasTX's messages and relays them to a paging network.";
constexpr DWORD STOP_WAIT_MILLISECONDS = 5 * 60 * 1000;  // a delivery under way may take a few time-outs

class Handle {
public:
    explicit Handle(SC_HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    operator SC_HANDLE() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// The reason a service-manager call failed, in the words a user can act on.
int Refused(const char* what, std::ostream& err) {
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        err << "paging_gateway: " << what << " needs administrator rights: open a Command Prompt with \"Run as "
            << "administrator\" (right-click it in the Start menu) and type the command again\n";
    } else {
        err << "paging_gateway: " << what << " failed: " << SystemError() << "\n";
    }
    return 1;
}

// LocalService cannot read a user's own folders (Desktop, Downloads...), so a service there would never start.
bool InUsersFolder(const std::string& exe) {
    char profile[MAX_PATH] = "";
    const DWORD length = GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
    if (length == 0 || length >= sizeof profile || exe.size() <= length) return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, exe.c_str(), static_cast<int>(length), profile,
                          static_cast<int>(length)) == CSTR_EQUAL &&
           (exe[length] == '\\' || exe[length] == '/');
}

std::string ThisProgram() {
    char path[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

// The logins set in this console go to the service's credentials file, which only it and administrators read.
bool KeepCredentials(const std::string& folder, std::ostream& out, std::ostream& err) {
    Variables variables;
    for (const char* name : CREDENTIAL_VARIABLES)
        if (const char* value = std::getenv(name)) variables.emplace_back(name, value);
    if (variables.empty()) return true;
    std::string text, error;
    const std::string path = ServiceCredentialsFile(folder);
    if (!EnvironmentFileText(variables, text, error) || !WriteCredentialsFile(path, text, error)) {
        err << "paging_gateway: " << error << "\n";
        return false;
    }
    out << "paging_gateway: the service reads";
    for (const auto& variable : variables) out << " " << variable.first;
    out << " from " << path << "\n";
    return true;
}

void Describe(SC_HANDLE service) {
    SERVICE_DESCRIPTIONA description{const_cast<char*>(DESCRIPTION)};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
    // Started again a minute after a crash, twice; then left stopped until someone looks.
    SC_ACTION actions[] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSA failure{24 * 60 * 60, nullptr, nullptr, 3, actions};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

bool WaitUntilStopped(SC_HANDLE service) {
    const DWORD start = GetTickCount();
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (GetTickCount() - start > STOP_WAIT_MILLISECONDS) return false;
        Sleep(250);
    }
    return true;
}

}  // namespace

int InstallService(const std::vector<std::string>& options, std::ostream& out, std::ostream& err) {
    std::string error;
    if (!CheckServiceOptions(options, error)) {
        err << "paging_gateway: " << error << "\n";
        return 1;
    }
    Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (manager == nullptr) return Refused("installing the service", err);
    if (Handle(OpenServiceA(manager, SERVICE_NAME, SERVICE_QUERY_STATUS)) != nullptr) {
        err << "paging_gateway: the service " << SERVICE_NAME << " is installed already; "
            << "paging_gateway --uninstall-service removes it\n";
        return 1;
    }

    const std::string folder = ServiceDataFolder();
    const std::string exe = ThisProgram();
    if (folder.empty() || exe.empty()) {
        err << "paging_gateway: Windows does not say where " << (folder.empty() ? "ProgramData is" : "I am") << "\n";
        return 1;
    }
    if (InUsersFolder(exe)) {
        err << "paging_gateway: the service could not read " << exe << " in your own user folder; move the "
            << "program's folder somewhere else first (for instance to C:\\mervasTX) and install from there\n";
        return 1;
    }
    if (!PrepareServiceDataFolder(folder, error)) {
        err << "paging_gateway: " << error << "\n";
        return 1;
    }
    if (!KeepCredentials(folder, out, err)) return 1;

    const std::string commandLine = ServiceCommandLine(exe, options, ServiceSpoolFolder(folder));
    Handle service(CreateServiceA(manager, SERVICE_NAME, SERVICE_DISPLAY_NAME, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  commandLine.c_str(), nullptr, nullptr, nullptr, SERVICE_ACCOUNT, ""));
    if (service == nullptr) return Refused("installing the service", err);
    Describe(service);
    if (!RegisterEventLogSource(exe, error)) err << "paging_gateway: " << error << "\n";

    out << "paging_gateway: installed the service " << SERVICE_NAME << " (\"" << SERVICE_DISPLAY_NAME << "\"), "
        << "started with Windows from now on:\n  " << commandLine << "\n"
        << "Its log: " << ServiceLogFile(folder) << "\n"
        << "Start it now with: net start " << SERVICE_NAME << "\n";
    return 0;
}

int UninstallService(std::ostream& out, std::ostream& err) {
    Handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager == nullptr) return Refused("removing the service", err);
    Handle service(OpenServiceA(manager, SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service == nullptr) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            err << "paging_gateway: the service " << SERVICE_NAME << " is not installed\n";
            return 1;
        }
        return Refused("removing the service", err);
    }
    // Also when a stop is already under way: the delivery it waits for may take a while.
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        out << "paging_gateway: stopping the service...\n" << std::flush;
        if (!WaitUntilStopped(service)) err << "paging_gateway: the service has not stopped yet\n";
    }
    if (!DeleteService(service)) return Refused("removing the service", err);
    RemoveEventLogSource();
    const std::string folder = ServiceDataFolder();
    out << "paging_gateway: removed the service " << SERVICE_NAME << "; its log and any pages still waiting stay in "
        << folder << "\n";
    return 0;
}
