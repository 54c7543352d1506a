// One HTTP or HTTPS POST with a bounded wait, through libcurl.
#include "paging_gateway/platform/http_post.h"

#include <curl/curl.h>

#include <memory>

namespace {

struct Received {
    std::string body;
    bool tooLong = false;
};

size_t Keep(char* data, size_t size, size_t count, void* context) {
    Received& received = *static_cast<Received*>(context);
    const size_t bytes = size * count;
    if (received.body.size() + bytes > MAX_HTTP_ANSWER_BYTES) {
        received.tooLong = true;
        return 0;  // libcurl stops the transfer
    }
    received.body.append(data, bytes);
    return bytes;
}

}  // namespace

void StartHttpPost() { curl_global_init(CURL_GLOBAL_DEFAULT); }

HttpAnswer HttpPost(const HttpTarget& target, const std::string& contentType, const std::string& body,
                    long timeoutMilliseconds) {
    HttpAnswer answer;
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        answer.error = "libcurl could not start";
        return answer;
    }
    const std::string url = std::string(target.tls ? "https://" : "http://") + target.host + ":" +
                            std::to_string(target.port) + target.path;
    const std::string typeHeader = "Content-Type: " + contentType;
    curl_slist* headers = curl_slist_append(nullptr, typeHeader.c_str());
    // No "Expect: 100-continue" pause before the body.
    headers = curl_slist_append(headers, "Expect:");
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers, curl_slist_free_all);
    Received received;
    char problem[CURL_ERROR_SIZE] = "";
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, target.tls ? "https" : "http");
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Keep);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, problem);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMilliseconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMilliseconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!target.caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, target.caFile.c_str());
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        answer.error = received.tooLong
                           ? "the answer is longer than " + std::to_string(MAX_HTTP_ANSWER_BYTES / 1024) + " KiB"
                           : std::string(problem[0] ? problem : curl_easy_strerror(result));
        return answer;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    answer.answered = true;
    answer.status = static_cast<int>(status);
    answer.body = std::move(received.body);
    return answer;
}
