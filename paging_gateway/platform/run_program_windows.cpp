// Runs a program without a shell through CreateProcess, feeding it text on standard input.
#include "paging_gateway/platform/run_program.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "paging_gateway/platform/command_line_quote.h"
#include "paging_gateway/platform/system_error.h"

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& input, long timeoutMilliseconds) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    // Room for the whole input, so writing it never waits on the program.
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, static_cast<DWORD>(input.size() + 4096))) {
        run.error = "cannot make a pipe: " + SystemError();
        return run;
    }
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = WindowsCommandLine(arguments);
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back(0);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &process);
    const std::string startError = started ? "" : SystemError();
    CloseHandle(readEnd);
    if (!started) {
        CloseHandle(writeEnd);
        run.error = "cannot run " + arguments[0] + ": " + startError;
        return run;
    }
    CloseHandle(process.hThread);
    DWORD wrote = 0;
    if (!input.empty()) WriteFile(writeEnd, input.data(), static_cast<DWORD>(input.size()), &wrote, nullptr);
    CloseHandle(writeEnd);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMilliseconds)) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        run.error = arguments[0] + " did not finish within " + std::to_string(timeoutMilliseconds / 1000) + " s";
        return run;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    run.finished = true;
    run.exitCode = static_cast<int>(code);
    return run;
}
