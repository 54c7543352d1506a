// One HTTP or HTTPS POST with a bounded wait, through WinHTTP: certificates checked through the Windows store.
#include "paging_gateway/platform/http_post.h"

#include <windows.h>
#include <winhttp.h>

namespace {

struct Handle {
    HINTERNET handle;
    explicit Handle(HINTERNET h) : handle(h) {}
    ~Handle() {
        if (handle) WinHttpCloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Why(const char* step) {
    static const struct {
        DWORD code;
        const char* text;
    } KNOWN[] = {
        {ERROR_WINHTTP_TIMEOUT, "no answer in time"},
        {ERROR_WINHTTP_NAME_NOT_RESOLVED, "unknown host"},
        {ERROR_WINHTTP_CANNOT_CONNECT, "connection refused or unreachable"},
        {ERROR_WINHTTP_CONNECTION_ERROR, "connection dropped"},
        {ERROR_WINHTTP_SECURE_FAILURE, "the server's certificate is not trusted or not for this host"},
        {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "TLS failed (is the server's certificate trusted?)"},
        {ERROR_WINHTTP_SECURE_INVALID_CA, "the server's certificate is of an authority not trusted here"},
        {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "the server's certificate is for another host"},
        {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "the server's certificate has expired or is not yet valid"},
        {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "not an HTTP answer"},
    };
    const DWORD code = GetLastError();
    for (const auto& known : KNOWN)
        if (known.code == code) return std::string(step) + ": " + known.text;
    return std::string(step) + ": WinHTTP error " + std::to_string(code);
}

}  // namespace

void StartHttpPost() {}

HttpAnswer HttpPost(const HttpTarget& target, const std::string& contentType, const std::string& body,
                    long timeoutMilliseconds) {
    HttpAnswer answer;
    Handle session(WinHttpOpen(L"paging_gateway", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle) {
        answer.error = Why("WinHTTP could not start");
        return answer;
    }
    const int wait = static_cast<int>(timeoutMilliseconds);
    WinHttpSetTimeouts(session.handle, wait, wait, wait, wait);
    Handle connection(
        WinHttpConnect(session.handle, Wide(target.host).c_str(), static_cast<INTERNET_PORT>(target.port), 0));
    if (!connection.handle) {
        answer.error = Why("connect");
        return answer;
    }
    Handle request(WinHttpOpenRequest(connection.handle, L"POST", Wide(target.path).c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      target.tls ? WINHTTP_FLAG_SECURE : 0));
    if (!request.handle) {
        answer.error = Why("request");
        return answer;
    }
    const std::wstring headers = Wide("Content-Type: " + contentType);
    if (!WinHttpSendRequest(request.handle, headers.c_str(), static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr)) {
        answer.error = Why("post");
        return answer;
    }
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        answer.error = Why("answer");
        return answer;
    }
    for (;;) {
        char chunk[4096];
        DWORD got = 0;
        if (!WinHttpReadData(request.handle, chunk, sizeof chunk, &got)) {
            answer.error = Why("reading the answer");
            return answer;
        }
        if (got == 0) break;
        if (answer.body.size() + got > MAX_HTTP_ANSWER_BYTES) {
            answer.error = "the answer is longer than " + std::to_string(MAX_HTTP_ANSWER_BYTES / 1024) + " KiB";
            return answer;
        }
        answer.body.append(chunk, got);
    }
    answer.answered = true;
    answer.status = static_cast<int>(status);
    return answer;
}
