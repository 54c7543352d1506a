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
    // The program gets its input and the gateway's output and nothing else: an inherited socket would keep
    // port 80 taken for as long as anything it started runs.
    std::vector<HANDLE> inherited{readEnd};
    HANDLE output[2] = {nullptr, nullptr};
    const DWORD outputs[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 2; ++i) {
        const HANDLE own = GetStdHandle(outputs[i]);
        if (own != nullptr && own != INVALID_HANDLE_VALUE &&
            DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &output[i], 0, TRUE, DUPLICATE_SAME_ACCESS))
            inherited.push_back(output[i]);
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> listBytes(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    const bool listed =
        InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = readEnd;
    startup.StartupInfo.hStdOutput = output[0];
    startup.StartupInfo.hStdError = output[1];
    startup.lpAttributeList = listed ? list : nullptr;
    std::string line = WindowsCommandLine(arguments);
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back(0);
    PROCESS_INFORMATION process{};
    const BOOL started =
        listed && CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startup.StartupInfo, &process);
    const std::string startError = started ? "" : SystemError();
    if (listed) DeleteProcThreadAttributeList(list);
    for (HANDLE handle : output)
        if (handle != nullptr) CloseHandle(handle);
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
        run.error = TimeLimitError(arguments[0], timeoutMilliseconds);
        return run;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    run.finished = true;
    run.exitCode = static_cast<int>(code);
    return run;
}
