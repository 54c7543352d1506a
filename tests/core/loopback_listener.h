// A TCP listener on a loopback address of the test's own, port 80, that gives up at a deadline.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "gateway/net.h"

// Each test binds its own 127.x.y.z so tests can run in parallel; the two builds use different ranges.
#ifdef _WIN32
#define TEST_ADDRESS(n) "127.77.2." #n
#else
#define TEST_ADDRESS(n) "127.77.1." #n
#endif

class LoopbackListener {
public:
    // Listens on address:port and accepts `connections` connections, collecting what each sends, for at
    // most `seconds`: a send that never arrives fails the test with a message instead of hanging it.
    explicit LoopbackListener(const char* address, int port = 80, int connections = 1, int seconds = 10);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return listening_; }
    // Waits for the connections to close or the deadline; returns every byte received, in order.
    // A connection missing or still open at the deadline fails the current test.
    std::string Received();
    int accepted() const { return accepted_; }

private:
    void Serve(int connections, int seconds);

    std::string where_;
    SocketHandle socket_;
    bool listening_ = false;
    std::atomic<int> accepted_{0};
    std::string received_;
    std::string failure_;
    std::thread thread_;
};
