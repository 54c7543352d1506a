// Sends the service's command-line words to the installer or the service manager.
#include "paging_gateway/service/service_command.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "paging_gateway/service/service_install.h"
#include "paging_gateway/service/service_run.h"

const char SERVICE_USAGE[] =
    "As a Windows service (in a Command Prompt run as administrator):\n"
    "  --install-service OPTIONS  installs the service mervasTXGateway, which starts with Windows\n"
    "                           and relays as the OPTIONS say (--relay and the others above, not\n"
    "                           --spool, --once or --count), written with the logins set in this\n"
    "                           console to %ProgramData%\\mervasTX\\paging_gateway.toml; without\n"
    "                           OPTIONS an existing file there is kept. Spool and log are there too\n"
    "  --uninstall-service      stops and removes it and its logins (the spool, the ledger, the log\n"
    "                           and the settings without logins stay)\n"
    "  --no-pause               with either: never wait for a key (for installers)\n";
#else
const char SERVICE_USAGE[] =
    "On Linux, run it as a service with the systemd unit paging_gateway/service/paging_gateway.service.\n";
#endif

bool RunServiceCommand(int argc, char** argv, int& code, bool& mayPause) {
    static const char* const WORDS[] = {"--install-service", "--uninstall-service", "--service"};
    std::string word;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        bool isWord = false;
        for (const char* candidate : WORDS) isWord = isWord || candidate == std::string(argv[i]);
        if (isWord && word.empty()) word = argv[i];
        else if (std::string(argv[i]) == "--no-pause") mayPause = false;
        else rest.push_back(argv[i]);
    }
    if (word.empty()) return false;
#ifdef _WIN32
    if (word == "--service") {
        code = RunService(rest);
    } else if (word == "--install-service") {
        code = InstallService(rest, std::cout, std::cerr);
    } else if (!rest.empty()) {
        std::cerr << "paging_gateway: --uninstall-service takes no other options\n";
        code = 2;
    } else {
        code = UninstallService(std::cout, std::cerr);
    }
#else
    std::cerr << "paging_gateway: " << word << " is for Windows. " << SERVICE_USAGE;
    code = 2;
#endif
    return true;
}
