// Runs a program without a shell through posix_spawn, feeding it text on standard input.
#include "paging_gateway/platform/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

long LeftOf(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<long>(left);
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& input, long timeoutMilliseconds) {
    ProgramRun run;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        run.error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The gateway's sockets are not close-on-exec: a program that left something running would hold port 80.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    if (spawned != 0) {
        close(pipeEnds[1]);
        run.error = "cannot run " + arguments[0] + ": " + std::strerror(spawned);
        return run;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    // A program that reads none of its input must not hold the gateway past the time limit, and one that ends
    // while it is written to must not end the gateway: SIGPIPE is held for this thread and taken back below.
    fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    for (size_t sent = 0; sent < input.size() && LeftOf(deadline) > 0;) {
        pollfd wanted{pipeEnds[1], POLLOUT, 0};
        if (poll(&wanted, 1, static_cast<int>(std::min(LeftOf(deadline), 100L))) <= 0) continue;
        if (wanted.revents & (POLLERR | POLLHUP)) break;  // it closed its input: the rest is not wanted
        const ssize_t wrote = write(pipeEnds[1], input.data() + sent, input.size() - sent);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) break;
        if (wrote > 0) sent += static_cast<size_t>(wrote);
    }
    close(pipeEnds[1]);
    const timespec none{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &none) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            run.error = std::string("lost the program: ") + std::strerror(errno);
            return run;
        }
        if (LeftOf(deadline) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            run.error = TimeLimitError(arguments[0], timeoutMilliseconds);
            return run;
        }
        usleep(20 * 1000);
    }
    if (WIFEXITED(status)) {
        run.finished = true;
        run.exitCode = WEXITSTATUS(status);
    } else {
        run.error = arguments[0] + " ended by signal " + std::to_string(WTERMSIG(status));
    }
    return run;
}
