// The few file-system calls the spool needs, each one finished on disk before it returns.
#pragma once

#include <string>
#include <vector>

// A new file holding `bytes`, flushed to disk; fails when `path` exists.
bool WriteNewFile(const std::string& path, const std::string& bytes, std::string& error);

// Replaces `to`; the folders' entries are flushed too, so the new name survives a crash.
bool RenameFile(const std::string& from, const std::string& to, std::string& error);

bool RemoveFile(const std::string& path, std::string& error);

// True when the folder exists afterwards.
bool MakeFolder(const std::string& path, std::string& error);

// The names of the plain files in a folder (no "." or ".."), unsorted.
std::vector<std::string> ListFiles(const std::string& folder);

// False when the file cannot be read or is larger than `limit` bytes.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& bytes, std::string& error);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);
