// Fuzz target for the paging gateway's request reader: bounds, the size cap, completeness however the bytes
// arrive, and an answer that is always one clean line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gateway/assemble.h"
#include "paging_gateway/intake/http.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "gateway http fuzz: %s\n", what);
    std::abort();
}

// A real request of the program, damaged by the input: random bytes alone rarely get past the request line.
// Inputs that start with a method's first letter are read as they are.
std::string DamagedProgramRequest(const uint8_t* data, size_t size) {
    GatewayRequest request{};
    EncodeSender(request, "Ann B");
    EncodeCallback(request, "555 0001");
    ApplyGatewayProfile(request, CARRIER_TABLE[size > 1 ? data[1] % CARRIER_COUNT : 0].carrierCode);
    EncodeMessage(request, "hi & bye = 100%");
    SetPhoneNumber(request, "5551234567");
    AssembleRequest(request);
    std::string text = request.requestText;
    // Without the blank line the program adds after a POST's body, the body ends the request exactly.
    if (size > 1 && data[1] / CARRIER_COUNT % 2 == 1) text.resize(text.size() - 4);
    for (size_t at = 2; at + 2 < size; at += 3) {
        const size_t where = data[at + 1] * (text.size() + 1) / 256;
        const char byte = static_cast<char>(data[at + 2]);
        switch (data[at] % 4) {
            case 0: if (where < text.size()) text[where] = byte; break;
            case 1: text.insert(where, 1, byte); break;
            case 2: text.erase(where, data[at + 2] % 16); break;
            default: text.insert(where, static_cast<size_t>(data[at + 2]) * 80, byte); break;  // past the cap
        }
    }
    return text;
}

struct Reading {
    RequestState state;
    HttpRequest request;
    std::string problem;
};

Reading Examine(const std::string& received) {
    Reading reading;
    reading.state = ExamineRequest(received, reading.request, reading.problem);
    return reading;
}

// Where the headers end, found independently: after the first empty line that follows the request line.
size_t HeaderEnd(const std::string& received) {
    size_t lineStart = received.find('\n');
    while (lineStart != std::string::npos) {
        ++lineStart;
        if (received.compare(lineStart, 1, "\n") == 0) return lineStart + 1;
        if (received.compare(lineStart, 2, "\r\n") == 0) return lineStart + 2;
        lineStart = received.find('\n', lineStart);
    }
    return std::string::npos;
}

// The first Content-Length header's value when it is a number the reader accepts, else -1.
long ContentLength(const std::string& received, size_t headerEnd) {
    const size_t firstLineEnd = received.find('\n');
    for (size_t at = firstLineEnd + 1; at < headerEnd;) {
        const size_t end = received.find('\n', at);
        std::string line = received.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string name = line.substr(0, line.find(':'));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
        if (name != "content-length" || name.size() == line.size()) continue;
        std::string value = line.substr(name.size() + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        return std::stol(value);
    }
    return -1;
}

bool OneCleanLine(const std::string& line) {
    for (char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

void CheckAnswer(const Reading& reading, size_t receivedBytes) {
    for (bool timedOut : {false, true}) {
        const Answer answer =
            AnswerConnection(reading.state, reading.request, reading.problem, receivedBytes, timedOut);
        Check(OneCleanLine(answer.line), "the printed line breaks");
        switch (reading.state) {
            case RequestState::Complete:
                // 413: a whole request whose page brings more than a page may.
                Check(answer.status == 200 || answer.status == 400 || answer.status == 404 || answer.status == 413,
                      "odd status");
                Check((answer.status == 413) == (answer.line.compare(0, 14, "refused: page ") == 0), "refusal line");
                Check((answer.status == 200) == (answer.line.compare(0, 9, "page via ") == 0), "page line");
                break;
            case RequestState::Bad: Check(answer.status == 400, "bad request not 400"); break;
            case RequestState::TooLarge: Check(answer.status == 413, "too large not 413"); break;
            case RequestState::Incomplete:
                Check(answer.status == (receivedBytes == 0 && !timedOut ? 0 : timedOut ? 408 : 400), "cut request");
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool raw = size == 0 || (data[0] >= 'A' && data[0] <= 'Z');
    const std::string received =
        raw ? std::string(reinterpret_cast<const char*>(data), size) : DamagedProgramRequest(data, size);
    const Reading whole = Examine(received);
    const size_t headerEnd = HeaderEnd(received);
    const long contentLength = headerEnd == std::string::npos ? -1 : ContentLength(received, headerEnd);

    if (received.size() > MAX_REQUEST_BYTES) Check(whole.state != RequestState::Incomplete, "waits past the cap");
    if (whole.state == RequestState::Incomplete && headerEnd != std::string::npos) {
        Check(whole.request.method == "POST", "a GET with all its headers waits for more");
        Check(contentLength < 0 || received.size() < headerEnd + static_cast<size_t>(contentLength),
              "a POST with all its body waits for more");
    }
    if (whole.state == RequestState::Complete) {
        Check(headerEnd != std::string::npos && headerEnd + whole.request.body.size() <= MAX_REQUEST_BYTES,
              "complete past the cap");
        Check(!whole.request.target.empty() && whole.request.target[0] == '/' && OneCleanLine(whole.request.target),
              "odd target");
        if (whole.request.method == "POST")
            Check(static_cast<long>(whole.request.body.size()) == contentLength &&
                      received.compare(headerEnd, whole.request.body.size(), whole.request.body) == 0,
                  "body is not the Content-Length bytes after the headers");
        else
            Check(whole.request.body.empty(), "a body without POST");
    }
    CheckAnswer(whole, received.size());

    // The server reads in pieces and stops at the first verdict: a shorter piece must never contradict it.
    for (size_t piece = 1; piece <= 8; ++piece) {
        const size_t cut = received.size() * piece / 9;
        const Reading part = Examine(received.substr(0, cut));
        if (part.state == RequestState::Incomplete) continue;
        Check(whole.state != RequestState::Incomplete, "a verdict taken back by more bytes");
        if (part.state == RequestState::Complete)
            Check(whole.state == RequestState::Complete && part.request.method == whole.request.method &&
                      part.request.target == whole.request.target && part.request.body == whole.request.body,
                  "a complete request changed by more bytes");
        CheckAnswer(part, cut);
    }
    return 0;
}
