// The file holding the relays' credentials for a service, KEY=VALUE lines as systemd's EnvironmentFile= reads them.
#pragma once

#include <string>
#include <utility>
#include <vector>

using Variables = std::vector<std::pair<std::string, std::string>>;

// The variables the relays read their logins from; nothing else goes into the file.
extern const char* const CREDENTIAL_VARIABLES[5];

// One KEY=VALUE line each, CR LF ended where the platform wants it; false for a value with a line break.
bool EnvironmentFileText(const Variables& variables, std::string& text, std::string& error);

// The credential variables the file sets; blank lines and "#" comments are skipped. False, with the line's
// number, for a line that is not KEY=VALUE or names a variable that is not a credential.
bool ParseEnvironmentFile(const std::string& text, Variables& variables, std::string& error);
