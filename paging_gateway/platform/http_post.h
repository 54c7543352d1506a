// One HTTP or HTTPS POST with a bounded wait: libcurl on Linux, WinHTTP on Windows.
#pragma once

#include <string>

struct HttpTarget {
    bool tls = false;  // https: the certificate and the host name are always checked
    std::string host;
    int port = 0;
    std::string path;
    std::string caFile;  // https: trust only this CA file (PEM); empty: the system's authorities
};

struct HttpAnswer {
    bool answered = false;  // false: no HTTP answer at all (name, connection, TLS, time-out); see error
    int status = 0;
    std::string body;  // at most MAX_HTTP_ANSWER_BYTES
    std::string error;
};

constexpr size_t MAX_HTTP_ANSWER_BYTES = 256 * 1024;

// Call once before any thread posts.
void StartHttpPost();

HttpAnswer HttpPost(const HttpTarget& target, const std::string& contentType, const std::string& body,
                    long timeoutMilliseconds);
