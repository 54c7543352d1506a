// A Windows command line that hands each argument to the program unchanged, built on every platform so its
// rules are tested natively.
#pragma once

#include <string>
#include <vector>

// One argument as the C runtime's parser reads it back: bare when it has no blank, tab, quote and is not
// empty; otherwise in quotes, with backslashes before a quote (and before the closing one) doubled.
std::string QuoteWindowsArgument(const std::string& argument);

// The arguments, each quoted so, joined by blanks.
std::string WindowsCommandLine(const std::vector<std::string>& arguments);
