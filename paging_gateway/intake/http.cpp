// Reads one HTTP request from the bytes a connection has sent so far, and decides the gateway's answer.
#include "paging_gateway/intake/http.h"

#include "common/text.h"

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool ParseRequestLine(const std::string& line, HttpRequest& request) {
    const size_t first = line.find(' ');
    if (first == std::string::npos) return false;
    const size_t second = line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos) return false;
    const std::string method = line.substr(0, first);
    const std::string target = line.substr(first + 1, second - first - 1);
    const std::string version = line.substr(second + 1);
    if (method.empty() || method.size() > 16) return false;
    for (char c : method)
        if (c < 'A' || c > 'Z') return false;
    if (target.empty() || target[0] != '/') return false;
    for (char c : target)
        if (IsControl(c)) return false;
    if (version.compare(0, 5, "HTTP/") != 0) return false;
    request.method = method;
    request.target = target;
    return true;
}

bool IsContentLength(const std::string& name) { return SameIgnoringCase(name, "content-length"); }

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return std::string();
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 408: return "Request Time-out";
        case 413: return "Request Entity Too Large";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

}  // namespace

RequestState ExamineRequest(const std::string& received, HttpRequest& request, std::string& problem) {
    request = HttpRequest{};
    // Lines may end in LF alone, as typed into nc; the headers end at the first empty line.
    size_t lineStart = 0;
    size_t headerEnd = std::string::npos;
    bool haveRequestLine = false;
    long contentLength = -1;
    for (size_t newline = received.find('\n'); newline != std::string::npos;
         newline = received.find('\n', lineStart)) {
        std::string line = received.substr(lineStart, newline - lineStart);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lineStart = newline + 1;
        if (!haveRequestLine) {
            if (!ParseRequestLine(line, request)) {
                problem = "malformed request line";
                return RequestState::Bad;
            }
            haveRequestLine = true;
            continue;
        }
        if (line.empty()) {
            headerEnd = lineStart;
            break;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            problem = "malformed header line";
            return RequestState::Bad;
        }
        request.headers.emplace_back(line.substr(0, colon), Trimmed(line.substr(colon + 1)));
        if (!IsContentLength(line.substr(0, colon))) continue;
        const std::string value = request.headers.back().second;
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
            problem = "bad Content-Length";
            return RequestState::Bad;
        }
        // Compared before converting, so no count of digits can overflow.
        if (value.size() > 6 || std::stol(value) > static_cast<long>(MAX_REQUEST_BYTES)) {
            problem = "request larger than " + std::to_string(MAX_REQUEST_BYTES) + " bytes";
            return RequestState::TooLarge;
        }
        const long length = std::stol(value);
        if (contentLength >= 0 && contentLength != length) {
            problem = "conflicting Content-Length";
            return RequestState::Bad;
        }
        contentLength = length;
    }

    const size_t known = headerEnd == std::string::npos ? received.size() : headerEnd;
    const size_t wanted = known + (request.method == "POST" && contentLength > 0 ? static_cast<size_t>(contentLength) : 0);
    if (wanted > MAX_REQUEST_BYTES) {
        problem = "request larger than " + std::to_string(MAX_REQUEST_BYTES) + " bytes";
        return RequestState::TooLarge;
    }
    if (headerEnd == std::string::npos) return RequestState::Incomplete;
    if (request.method == "POST") {
        if (contentLength < 0) {
            problem = "POST without Content-Length";
            return RequestState::Bad;
        }
        if (received.size() < wanted) return RequestState::Incomplete;
        request.body = received.substr(headerEnd, static_cast<size_t>(contentLength));
    }
    return RequestState::Complete;
}

std::vector<std::string> HeaderValues(const HttpRequest& request, const std::string& name) {
    std::vector<std::string> values;
    for (const auto& header : request.headers)
        if (SameIgnoringCase(header.first, name)) values.push_back(header.second);
    return values;
}

int ReadRequestPage(const HttpRequest& request, Page& page, std::string& problem) {
    const size_t question = request.target.find('?');
    const CarrierForm* carrierForm = FindCarrierForm(request.method, request.target.substr(0, question));
    if (carrierForm == nullptr) return 404;
    const std::string fields =
        request.method == "POST" ? request.body
                                 : (question == std::string::npos ? std::string() : request.target.substr(question + 1));
    if (!ReadPage(*carrierForm, DecodeForm(fields), page, problem)) return 400;
    problem = PageTooLarge(page);
    return problem.empty() ? 200 : 413;
}

Answer AnswerRequest(const HttpRequest& request) {
    Page page;
    std::string problem;
    switch (ReadRequestPage(request, page, problem)) {
        case 200: return {200, FormatPageLine(page)};
        case 404: return {404, "unknown request: " + request.method + " " + QuoteText(request.target)};
        case 413: return {413, std::string("refused: page via ") + page.carrier->displayName + ": " + problem};
        default: return {400, "bad request: " + problem};
    }
}

Answer AnswerConnection(RequestState state, const HttpRequest& request, const std::string& problem,
                        size_t receivedBytes, bool timedOut) {
    switch (state) {
        case RequestState::Complete: return AnswerRequest(request);
        case RequestState::Bad: return {400, "bad request: " + problem};
        case RequestState::TooLarge: return {413, "bad request: " + problem};
        case RequestState::Incomplete: break;
    }
    if (receivedBytes == 0 && !timedOut) return {0, std::string()};
    return {timedOut ? 408 : 400, "bad request: incomplete request (" + std::to_string(receivedBytes) + " bytes), " +
                                      (timedOut ? "timed out" : "connection closed")};
}

std::string ResponseText(int status) {
    const std::string page = status == 200 ? std::string("Page accepted.\r\n") : std::string(Reason(status)) + ".\r\n";
    return "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
}
