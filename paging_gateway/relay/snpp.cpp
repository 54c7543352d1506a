// Hands pages to a paging network over SNPP (RFC 1861), several pages to a session.
#include "paging_gateway/relay/snpp.h"

#include <algorithm>
#include <chrono>

#include "paging_gateway/relay/client_socket.h"

namespace {

using Clock = std::chrono::steady_clock;
using Reply = SnppSession::Reply;

// A continued reply ("214-...") longer than this is a server talking without end, not a reply.
const int MAX_REPLY_LINES = 64;
// A goodbye is a courtesy: a silent server gets this long for it.
const long MOST_QUIT_MILLISECONDS = 2000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One reply, continuation lines and all, within one deadline.
Reply ReadReply(ClientSocket& connection, long timeoutMilliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    Reply reply;
    std::string line, error;
    for (int lines = 0;; ++lines) {
        if (lines == MAX_REPLY_LINES) {
            reply.text = "a reply of more than " + std::to_string(MAX_REPLY_LINES) + " lines";
            return reply;
        }
        const long left = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0 || !connection.ReadLine(left, line, error)) {
            reply.text = left <= 0 || connection.TimedOut()
                             ? "no reply within " + std::to_string(timeoutMilliseconds) + " ms"
                             : error;
            return reply;
        }
        if (line.size() <= 3 || line[3] != '-') break;
    }
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
        (line.size() > 3 && line[3] != ' ')) {
        reply.text = "not an SNPP reply: " + PrintableText(line);
        return reply;
    }
    reply.code = std::stoi(line.substr(0, 3));
    reply.text = PrintableText(line);
    return reply;
}

}  // namespace

std::string SnppText(const Page& page) {
    // Sender and callback ride in the text: the level 2 CALLerid command is optional, many servers answer it
    // with a 500, and a pager shows the text alone anyway; the carriers' own forms joined them the same way.
    const bool sender = page.sender && !page.sender->empty();
    const bool callback = page.callback && !page.callback->empty();
    if (!sender && !callback) return page.message;
    std::string text = page.message + " (";
    if (sender) text += "from " + *page.sender;
    if (sender && callback) text += ", ";
    if (callback) text += "callback " + *page.callback;
    return text + ")";
}

std::vector<std::string> SnppDataLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    for (std::string& line : lines)
        if (!line.empty() && line[0] == '.') line.insert(0, 1, '.');
    return lines;
}

// 4xx: the server ends the session (for any reason, so the page may pass on another); 5xx: this transaction
// failed and the session goes on, 554 for a technical reason (a paging terminal down: try again), any other
// for good (550: an invalid pager id or parameter). Anything before the page's commands, or no reply at all,
// is the upstream's trouble.
Delivery SnppVerdict(int code, const std::string& text, bool pageCommand) {
    if (!pageCommand || code < 500 || code > 599) return {Outcome::Temporary, text, Scope::Upstream};
    return {code == 554 ? Outcome::Temporary : Outcome::Permanent, text, Scope::Page};
}

SnppSession::SnppSession(const UpstreamUrl& url, long timeoutMilliseconds)
    : url_(url), timeoutMilliseconds_(timeoutMilliseconds) {}

SnppSession::~SnppSession() { Close(); }

void SnppSession::Close() {
    if (!connection_) return;
    Step("QUIT", std::min(timeoutMilliseconds_, MOST_QUIT_MILLISECONDS));
    connection_.reset();
}

bool SnppSession::Open(Delivery& failure) {
    connection_ = std::make_unique<ClientSocket>();
    std::string error;
    if (!connection_->Connect(url_.host, url_.port, timeoutMilliseconds_, error)) {
        connection_.reset();
        failure = {Outcome::Temporary, error, Scope::Upstream};
        return false;
    }
    const Reply greeting = ReadReply(*connection_, timeoutMilliseconds_);
    if (greeting.code == 220) return true;
    connection_.reset();
    failure = SnppVerdict(greeting.code, greeting.text, false);
    return false;
}

Reply SnppSession::Step(const std::string& command, long timeoutMilliseconds) {
    std::string error;
    if (!connection_->SendAll(command + "\r\n", error)) return Reply{0, error};
    return ReadReply(*connection_, timeoutMilliseconds);
}

Delivery SnppSession::Refused(const Reply& reply, bool pageCommand) {
    const Delivery verdict = SnppVerdict(reply.code, reply.text, pageCommand);
    // A failed transaction leaves the session usable once reset; anything else leaves it in doubt.
    if (verdict.scope != Scope::Page || Step("RESE", timeoutMilliseconds_).code != 250) connection_.reset();
    return verdict;
}

Delivery SnppSession::Send(const Page& page) {
    std::string pagerId;
    if (!PagerIdOf(page.phoneNumber, pagerId))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot be a pager id",
                Scope::Page};
    const bool kept = connection_ != nullptr;
    Delivery failure{Outcome::Temporary, ""};
    if (!kept && !Open(failure)) return failure;
    bool unanswered = false;
    const Delivery delivery = SendOnce(pagerId, page, unanswered);
    // A kept session the server has since closed: nothing of this page was taken, so a new one may try. A
    // silent server gets no second wait.
    if (!kept || !unanswered) return delivery;
    if (!Open(failure)) return failure;
    return SendOnce(pagerId, page, unanswered);
}

Delivery SnppSession::SendOnce(const std::string& pagerId, const Page& page, bool& unanswered) {
    Reply reply = Step("PAGE " + pagerId, timeoutMilliseconds_);
    unanswered = reply.code == 0 && !connection_->TimedOut();
    if (reply.code != 250) return Refused(reply, true);
    const std::string text = SnppText(page);
    if (text.find_first_of("\r\n") == std::string::npos) {
        reply = Step("MESS " + text, timeoutMilliseconds_);
        if (reply.code != 250) return Refused(reply, true);
    } else {
        reply = Step("DATA", timeoutMilliseconds_);
        if (reply.code != 354) return Refused(reply, true);
        std::string data;
        for (const std::string& line : SnppDataLines(text)) data += line + "\r\n";
        reply = Step(data + ".", timeoutMilliseconds_);
        if (reply.code != 250) return Refused(reply, true);
    }
    reply = Step("SEND", timeoutMilliseconds_);
    if (reply.code != 250) return Refused(reply, true);
    return {Outcome::Delivered, reply.text, Scope::Page};
}
