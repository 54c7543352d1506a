// A configuration file written from command-line options, as --install-service keeps a service's settings.
#pragma once

#include <string>
#include <vector>

// The logins that go into the file beside the options (empty ones are left out).
struct ConfigLogins {
    std::string smtpUser, smtpPassword, wctpSender, wctpSecurityCode, snppPassword;
};

// TOML for `options` (checked by the caller): each option a key, --relay as [[route]] tables in their order.
// `holdsSecret` says whether a password or security code went in.
std::string ConfigText(const std::vector<std::string>& options, const ConfigLogins& logins, bool& holdsSecret);

// The same file without its secrets (CONFIG_SECRET_KEYS, in routes too); false, with the reason, when the text
// does not read as TOML. `removed` counts the keys taken out.
bool ConfigWithoutSecrets(const std::string& text, std::string& result, int& removed, std::string& error);
