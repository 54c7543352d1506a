// Runs a program without a shell, feeding it text on standard input, for at most a set time.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    bool finished = false;  // false: it could not start, or was stopped at the time limit; see error
    int exitCode = -1;
    std::string error;
};

// `arguments[0]` is the program: a path, or a name looked up in PATH. Its output goes where the gateway's does.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& input, long timeoutMilliseconds);
