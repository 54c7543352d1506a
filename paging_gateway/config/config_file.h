// The gateway's configuration file: TOML whose keys are the command line's options, and its routes as tables.
#pragma once

#include <string>
#include <vector>

#include "paging_gateway/relay/upstream.h"

// One option as the file gives it, ready for ApplyOption; `where` ("FILE:LINE: KEY") starts its messages.
struct ConfigSetting {
    std::string option;  // "--relay", "--port"...
    std::string value;   // empty for a flag
    std::string where;
    size_t line = 0;
    // A [[route]]'s own SNPP settings; `snppWhere` is empty when the route set none.
    SnppSettings snpp;
    std::string snppWhere;
};

struct ConfigFile {
    std::string path;
    std::vector<ConfigSetting> settings;  // in the file's order
    // Logins, which the command line never takes; the environment's variables win over them.
    std::string smtpPassword, wctpSender, wctpSecurityCode, snppPassword;
    std::string secretKey;  // the first key holding a secret ("" when none does), for messages
};

// The keys a file may hold besides the options: the logins, and a route's own keys.
extern const char* const CONFIG_SECRET_KEYS[];

// Reads TOML text; false, with "PATH:LINE: KEY: reason", for a syntax error, an unknown key or a wrong type.
bool ParseConfigText(const std::string& text, const std::string& path, ConfigFile& config, std::string& error);

// Reads the file; on POSIX a file holding a secret that its group or others may read is refused.
bool ReadConfigFile(const std::string& path, ConfigFile& config, std::string& error);
