// Where the Windows service keeps its spool, its log and its credentials: %ProgramData%\mervasTX.
#pragma once

#include <string>

// The folder; empty when Windows does not say where ProgramData is.
std::string ServiceDataFolder();

// Creates the folder (or takes it over) so that the service's account may write in it and ordinary users
// may only read; the credentials file inside is for administrators and the service alone.
bool PrepareServiceDataFolder(const std::string& folder, std::string& error);

// Writes `bytes` to a new file in place of any older one: with `secret`, one that only administrators and the
// service's account may read; without, one that has the folder's access (users may read it).
bool WriteServiceFile(const std::string& path, const std::string& bytes, bool secret, std::string& error);

std::string ServiceSpoolFolder(const std::string& folder);
std::string ServiceLogFile(const std::string& folder);
std::string ServiceConfigFile(const std::string& folder);
// Where installs before the configuration file kept the logins.
std::string ServiceCredentialsFile(const std::string& folder);
