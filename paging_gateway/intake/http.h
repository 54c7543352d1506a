// Reads one HTTP request from the bytes a connection has sent so far, and decides the gateway's answer.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "paging_gateway/intake/page.h"

// Far above the program's largest request (under 1000 bytes), far below anything that could hurt.
constexpr size_t MAX_REQUEST_BYTES = 16 * 1024;

enum class RequestState { Incomplete, Complete, Bad, TooLarge };

struct HttpRequest {
    std::string method;
    std::string target;  // path and query, as sent
    std::string body;    // POST: exactly Content-Length bytes; what follows them is ignored
    std::vector<std::pair<std::string, std::string>> headers = {};  // names as sent, values without outer blanks
};

// Every value of the header `name` (any case), in order.
std::vector<std::string> HeaderValues(const HttpRequest& request, const std::string& name);

// Incomplete asks for more bytes; Bad and TooLarge say why in `problem`.
RequestState ExamineRequest(const std::string& received, HttpRequest& request, std::string& problem);

struct Answer {
    int status;        // 0: the peer sent nothing, so nothing is said
    std::string line;  // what the gateway prints for this connection
};

// 200 with the page; 404 when no carrier's form has this method and path; 400, with `problem`, when the
// form lacks a field; 413, with `problem`, when the page is larger than a page may be (PageTooLarge).
int ReadRequestPage(const HttpRequest& request, Page& page, std::string& problem);

// The answer to a complete request: a page (200), an unknown form (404), a form lacking a field (400) or a
// page too large (413).
Answer AnswerRequest(const HttpRequest& request);

// The answer once reading has stopped, in whatever state: `timedOut` tells why an incomplete one stopped.
Answer AnswerConnection(RequestState state, const HttpRequest& request, const std::string& problem,
                        size_t receivedBytes, bool timedOut);

// A whole HTTP/1.0 response with a one-line plain-text page.
std::string ResponseText(int status);
