// Runs a program without a shell, feeding it text on standard input, for at most a set time.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    bool finished = false;  // false: it could not start, or was stopped at the time limit; see error
    int exitCode = -1;
    std::string error;
};

// "PROGRAM did not finish within 30 s" (or "... 300 ms" for a limit of no whole seconds).
inline std::string TimeLimitError(const std::string& program, long timeoutMilliseconds) {
    return program + " did not finish within " +
           (timeoutMilliseconds % 1000 == 0 ? std::to_string(timeoutMilliseconds / 1000) + " s"
                                            : std::to_string(timeoutMilliseconds) + " ms");
}

// `arguments[0]` is the program: a path, or a name looked up in PATH. Its output goes where the gateway's does.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& input, long timeoutMilliseconds);
