// Fuzz target for the program's request path: random fields and carrier through the send command and the
// assembly, checked against an encoding written here and read back by the paging gateway's parser.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gateway/assemble.h"
#include "gateway/send_command.h"
#include "paging_gateway/intake/http.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "request fuzz: %s\n", what);
    std::abort();
}

bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (unsigned char byte : text) {
        if (IsUnreserved(byte)) {
            escaped += static_cast<char>(byte);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            escaped += hex;
        }
    }
    return escaped;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while ((start = text.find_first_not_of(' ', start)) != std::string::npos) {
        const size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

std::string Joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string joined;
    for (size_t i = 0; i < words.size(); ++i) joined += (i ? separator : "") + words[i];
    return joined;
}

std::string Folded(const std::string& text) { return Joined(Words(text), " "); }

std::string EncodedWords(const std::string& text) {
    std::vector<std::string> words = Words(text);
    for (std::string& word : words) word = Escaped(word);
    return Joined(words, "%20");
}

std::string ExpectedRequest(const GatewayProfile& profile, const std::string& message, const std::string& phone,
                            const std::string& sender, const std::string& callback) {
    std::string fields = Escaped(phone) + profile.messagePrefix + EncodedWords(message);
    if (!Words(sender).empty()) fields += profile.senderPrefix + EncodedWords(sender);
    if (!Words(callback).empty()) fields += profile.callbackPrefix + EncodedWords(callback);
    if (!IsPostMethod(profile.method)) return profile.method + std::string(profile.path) + fields + " HTTP/1.0\r\n\r\n";
    const std::string body = profile.bodyPrefix + fields;
    return profile.method + std::string(profile.path) +
           " HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n\r\n";
}

std::string captured;
int deliveries = 0;

const char* Capture(GatewayRequest& request) {
    AssembleRequest(request);
    captured = request.requestText;
    ++deliveries;
    return "Message sent!";
}

// A text as the main window's edits give it: no NUL (read as a blank here), within the edit's limit.
std::string Field(size_t length, const uint8_t*& at, const uint8_t* end) {
    std::string text;
    for (; length > 0 && at < end; --length, ++at) text += *at == 0 ? ' ' : static_cast<char>(*at);
    return text;
}

// The gateway reads the parts the program joins to another field only up to an ambiguity of the format; the
// joined text itself must always come back whole.
void CheckPage(const Page& page, char code, const std::string& message, const std::string& phone,
               const std::string& sender, const std::string& callback) {
    const std::string m = Folded(message), s = Folded(sender), c = Folded(callback);
    Check(page.phoneNumber == phone, "phone number changed");
    if (code == 'S') {
        const std::string got = page.message + (page.sender ? " -from " + *page.sender : "");
        Check(got == m + (s.empty() ? "" : " -from " + s), "joined message and sender changed");
        if (m.find("-from") == std::string::npos && s.find("-from") == std::string::npos)
            Check(page.message == m && page.sender.value_or("") == s && page.sender.has_value() == !s.empty(),
                  "message or sender changed");
    } else if (code == 'M') {
        Check(page.sender.has_value() == !s.empty(), "sender presence changed");
        const std::string& carried = page.sender ? *page.sender : page.message;
        const std::string got = carried + (page.callback ? "-" + *page.callback : "");
        const std::string expected = (s.empty() ? m : s) + (c.empty() ? "" : "-" + c);
        Check(got == expected, "joined callback changed");
        if (!s.empty()) Check(page.message == m, "message changed");
        const std::string plain = s.empty() ? m : s;
        if (plain.find('-') == std::string::npos && c.find_first_not_of("0123456789") == std::string::npos)
            Check(carried == plain && page.callback.value_or("") == c && page.callback.has_value() == !c.empty(),
                  "callback changed");
    } else {
        Check(page.message == m, "message changed");
        Check(page.sender.has_value() == !s.empty() && page.sender.value_or("") == s, "sender changed");
        Check(page.callback.has_value() == !c.empty() && page.callback.value_or("") == c, "callback changed");
    }
}

// Escapes in upper-case hex, nothing outside the printable range in the target or the body.
void CheckEscapes(const std::string& text) {
    for (size_t at = 0; at < text.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        Check(byte > 0x20 && byte < 0x7F, "unescaped byte in the request");
        if (byte == '%')
            Check(at + 2 < text.size() && IsUpperHex(text[at + 1]) && IsUpperHex(text[at + 2]),
                  "escape not in upper-case hex");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A carrier position, four lengths, then the texts' bytes.
    if (size < 5) return 0;
    const int position = data[0] % 8 - 1;  // -1 (none) and 6 (past the list) as well
    const uint8_t* at = data + 5;
    const uint8_t* end = data + size;
    const std::string message = Field(data[1] % FIELD_READ_SIZE, at, end);
    const std::string phone = Field(data[2] % PHONE_READ_SIZE, at, end);
    const std::string sender = Field(data[3] % (MAX_SENDER_CHARS + 1), at, end);
    const std::string callback = Field(data[4] % (MAX_CALLBACK_CHARS + 1), at, end);

    // The record lives for the whole run, so what an earlier input left in it must not leak into this one.
    static GatewayRequest request{};
    UserDetails details{};
    deliveries = 0;
    const SendOutcome outcome = RunSendCommand(
        request, details, {message.c_str(), phone.c_str(), sender.c_str(), callback.c_str(), position}, Capture);

    if (message.empty() || phone.empty()) {
        Check(std::strcmp(outcome.text, REQUIRED_FIELDS_TEXT) == 0 && deliveries == 0, "required fields");
        return 0;
    }
    Check(sender == details.sender && callback == details.callback, "details not stored as typed");
    const Carrier* carrier = CarrierAt(position);
    if (carrier == nullptr) {
        Check(std::strcmp(outcome.text, NO_CARRIER_TEXT) == 0 && deliveries == 0, "no carrier");
        return 0;
    }
    if (static_cast<int>(message.size() + sender.size() + callback.size()) > carrier->maxMessageLength) {
        Check(std::strncmp(outcome.text, "Maximum message length for ", 27) == 0 && deliveries == 0, "too long");
        return 0;
    }
    Check(std::strcmp(outcome.text, "Message sent!") == 0 && outcome.clearMessage && deliveries == 1, "not sent");
    Check(captured == ExpectedRequest(carrier->profile, message, phone, sender, callback),
          "request differs from the independent encoding");

    HttpRequest parsed;
    std::string problem;
    Check(ExamineRequest(captured, parsed, problem) == RequestState::Complete, "request not complete");
    const size_t headerEnd = captured.find("\r\n\r\n") + 4;
    if (parsed.method == "POST") {
        Check(captured.compare(headerEnd + parsed.body.size(), std::string::npos, "\r\n\r\n") == 0,
              "Content-Length is not the body's length");
        CheckEscapes(parsed.body);
    }
    CheckEscapes(parsed.target);
    Page page;
    Check(ReadRequestPage(parsed, page, problem) == 200, "gateway did not take the page");
    Check(page.carrier == carrier, "another carrier read it");
    CheckPage(page, carrier->carrierCode, message, phone, sender, callback);
    return 0;
}
