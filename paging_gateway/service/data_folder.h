// Where the Windows service keeps its spool, its log and its credentials: %ProgramData%\mervasTX.
#pragma once

#include <string>

// The folder; empty when Windows does not say where ProgramData is.
std::string ServiceDataFolder();

// Creates the folder (or takes it over) so that the service's account may write in it and ordinary users
// may only read; the credentials file inside is for administrators and the service alone.
bool PrepareServiceDataFolder(const std::string& folder, std::string& error);

// Writes `bytes` to a file that only administrators and the service's account may read.
bool WriteCredentialsFile(const std::string& path, const std::string& bytes, std::string& error);

std::string ServiceSpoolFolder(const std::string& folder);
std::string ServiceLogFile(const std::string& folder);
std::string ServiceCredentialsFile(const std::string& folder);
