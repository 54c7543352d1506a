// A one-connection TCP listener on a loopback address of the test's own, port 80.
#pragma once

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
    // Listens on address:port and accepts `connections` connections, collecting what each sends.
    explicit LoopbackListener(const char* address, int port = 80, int connections = 1);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return listening_; }
    // Waits for the accepted connections to close; returns every byte received, in order.
    std::string Received();
    int accepted() const { return accepted_; }

private:
    void Serve(int connections);

    SocketHandle socket_;
    bool listening_ = false;
    int accepted_ = 0;
    std::string received_;
    std::thread thread_;
};
