// Registers the gateway with Windows' service manager, and removes it.
#include "paging_gateway/service/service_install.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "paging_gateway/config/config_file.h"
#include "paging_gateway/config/config_text.h"
#include "paging_gateway/options.h"
#include "paging_gateway/platform/command_line_quote.h"
#include "paging_gateway/platform/files.h"
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

// The logins set in this console, or else those the settings already there hold, or an older install's
// credentials file; a service does not see the installing user's environment.
ConfigLogins LoginsToKeep(const std::string& folder) {
    Variables kept;
    std::string text, error;
    const std::string older = ServiceCredentialsFile(folder);
    if (FileExists(older) && ReadSmallFile(older, 64 * 1024, text, error)) ParseEnvironmentFile(text, kept, error);
    ConfigFile current;
    const std::string path = ServiceConfigFile(folder);
    if (FileExists(path) && ReadSmallFile(path, 1024 * 1024, text, error)) ParseConfigText(text, path, current, error);
    std::string currentUser;
    for (const ConfigSetting& setting : current.settings)
        if (setting.option == "--smtp-user") currentUser = setting.value;
    auto value = [&kept](const char* name, const std::string& inFile) {
        if (const char* set = std::getenv(name)) return std::string(set);
        if (!inFile.empty()) return inFile;
        for (const auto& variable : kept)
            if (variable.first == name) return variable.second;
        return std::string();
    };
    ConfigLogins logins;
    logins.smtpUser = value(SMTP_USER_VARIABLE, currentUser);
    logins.smtpPassword = value(SMTP_PASSWORD_VARIABLE, current.smtpPassword);
    logins.wctpSender = value(WCTP_SENDER_VARIABLE, current.wctpSender);
    logins.wctpSecurityCode = value(WCTP_SECURITY_CODE_VARIABLE, current.wctpSecurityCode);
    logins.snppPassword = value(SNPP_PASSWORD_VARIABLE, current.snppPassword);
    return logins;
}

// The service's configuration file: written from `options`, or kept as it is when none are given.
bool KeepConfiguration(const std::string& folder, const std::vector<std::string>& options, std::ostream& out,
                       std::ostream& err) {
    const std::string path = ServiceConfigFile(folder);
    std::string error;
    if (options.empty() && FileExists(path)) {
        const char* argv[] = {"paging_gateway", "--config", path.c_str()};
        GatewayOptions checked;
        if (!ParseOptions(3, argv, checked, error)) {
            err << "paging_gateway: " << error << "\n";
            return false;
        }
        out << "paging_gateway: the service keeps its settings in " << path << "\n";
        return true;
    }
    std::vector<std::string> written = options;
    written.insert(written.end(), {"--spool", ServiceSpoolFolder(folder)});
    bool secret = false;
    const std::string text = ConfigText(written, LoginsToKeep(folder), secret);
    if (!WriteServiceFile(path, text, secret, error)) {
        err << "paging_gateway: " << error << "\n";
        return false;
    }
    out << "paging_gateway: the service's settings are in " << path
        << (secret ? ", with the logins set in this console (only administrators and the service may read it)\n"
                   : "\n");
    const std::string older = ServiceCredentialsFile(folder);
    if (FileExists(older) && RemoveFile(older, error))
        out << "paging_gateway: removed " << older << ", whose logins are in the settings now\n";
    return true;
}

// What --uninstall-service leaves: no logins, but the settings, the spool, the ledger and the log.
void RemoveLogins(const std::string& folder, std::ostream& out, std::ostream& err) {
    std::string error, text, stripped;
    const std::string older = ServiceCredentialsFile(folder);
    if (FileExists(older)) {
        if (RemoveFile(older, error)) out << "paging_gateway: removed the logins in " << older << "\n";
        else err << "paging_gateway: cannot remove " << older << ", which holds logins: " << error << "\n";
    }
    const std::string path = ServiceConfigFile(folder);
    int removed = 0;
    if (!FileExists(path) || !ReadSmallFile(path, 1024 * 1024, text, error)) return;
    if (!ConfigWithoutSecrets(text, stripped, removed, error)) {
        // Unreadable, it may still hold a password: it goes rather than stays.
        if (RemoveFile(path, error)) out << "paging_gateway: removed " << path << ", which does not read as TOML\n";
        return;
    }
    if (removed == 0) return;
    if (WriteServiceFile(path, stripped, false, error)) out << "paging_gateway: took the logins out of " << path << "\n";
    else err << "paging_gateway: cannot take the logins out of " << path << ": " << error << "\n";
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
    if (!KeepConfiguration(folder, options, out, err)) return 1;

    const std::string commandLine = QuoteWindowsArgument(exe) + " --service --config " + QuoteWindowsArgument(ServiceConfigFile(folder));
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
    out << "paging_gateway: removed the service " << SERVICE_NAME << "\n";
    RemoveLogins(folder, out, err);
    out << "paging_gateway: kept in " << folder << ": the pages still waiting and the ledger (spool), the log "
        << "(paging_gateway.log) and the settings without logins (paging_gateway.toml)\n";
    return 0;
}
