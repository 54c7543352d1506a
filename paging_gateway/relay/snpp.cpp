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
// The last part of a page keeps at least this much room for the text beside the sender and callback.
const size_t MOST_SHARED_TAIL = 10;

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

bool Answered(const Reply& reply) { return reply.code >= 200 && reply.code <= 299; }

std::string PartMarker(size_t part, size_t parts) {
    return "(" + std::to_string(part) + "/" + std::to_string(parts) + ") ";
}

// Cuts `message` into as many chunks as `room` has, each within its room, or false. With `atBlanks` a chunk
// that would end inside a word ends after the word before it, unless that gives away more than a quarter of
// its room; a CR LF pair is never split.
bool Chunk(const std::string& message, const std::vector<size_t>& room, bool atBlanks,
           std::vector<std::string>& chunks) {
    chunks.clear();
    size_t at = 0;
    for (size_t most : room) {
        size_t take = std::min(most, message.size() - at);
        if (at + take < message.size()) {
            if (atBlanks && message[at + take] != ' ' && take > 0) {
                const size_t blank = message.rfind(' ', at + take - 1);
                if (blank != std::string::npos && blank >= at && blank + 1 - at >= take - take / 4)
                    take = blank + 1 - at;
            }
            if (take > 1 && message[at + take - 1] == '\r' && message[at + take] == '\n') --take;
        }
        std::string chunk = message.substr(at, take);
        at += take;
        while (!chunk.empty() && chunk.back() == ' ' && at < message.size()) chunk.pop_back();
        chunks.push_back(chunk);
    }
    return at == message.size();
}

}  // namespace

std::string SnppSenderWords(const Page& page) {
    const bool sender = page.sender && !page.sender->empty();
    const bool callback = page.callback && !page.callback->empty();
    std::string words;
    if (sender) words += "from " + *page.sender;
    if (sender && callback) words += ", ";
    if (callback) words += "callback " + *page.callback;
    return words;
}

std::string SnppText(const Page& page) {
    // Sender and callback ride in the text: the level 2 CALLerid command is optional, many servers answer it
    // with a 500, and a pager shows the text alone anyway; the carriers' own forms joined them the same way.
    const std::string words = SnppSenderWords(page);
    return words.empty() ? page.message : page.message + " (" + words + ")";
}

SnppParts SnppPartsOf(const Page& page, const SnppSettings& settings) {
    SnppParts parts;
    const std::string words = SnppSenderWords(page);
    std::string tail = settings.senderInSubject || words.empty() ? std::string() : " (" + words + ")";
    const size_t most = settings.maxLength;
    if (most == 0 || page.message.size() + tail.size() <= most) {
        parts.texts.push_back(page.message + tail);
        return parts;
    }
    // A sender so long that it would crowd out the text is shortened itself.
    const size_t marker = PartMarker(SNPP_MOST_PARTS, SNPP_MOST_PARTS).size();
    if (tail.size() + marker + MOST_SHARED_TAIL > most)
        tail = tail.substr(0, most - marker - MOST_SHARED_TAIL - 4) + "...)";
    std::vector<std::string> chunks;
    std::vector<size_t> room;
    const auto compose = [&](size_t count) {
        for (size_t i = 0; i < count; ++i)
            parts.texts.push_back(PartMarker(i + 1, count) + chunks[i] + (i + 1 == count ? tail : std::string()));
    };
    for (size_t count = 2; count <= SNPP_MOST_PARTS; ++count) {
        room.assign(count, most - PartMarker(count, count).size());
        room.back() -= tail.size();
        for (bool atBlanks : {true, false})
            if (Chunk(page.message, room, atBlanks, chunks)) {
                compose(count);
                return parts;
            }
    }
    size_t total = 0;
    for (size_t each : room) total += each;
    // Cut where the parts still hold it, the "..." after the last word kept, not after a blank or a CR.
    for (size_t keep = total - 3;; --keep) {
        std::string kept = page.message.substr(0, keep);
        while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\r')) kept.pop_back();
        if (Chunk(kept + "...", room, false, chunks) || keep == 0) break;
    }
    compose(SNPP_MOST_PARTS);
    parts.cut = true;
    return parts;
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
        if (line == ".") line = ". ";
    return lines;
}

// 4xx: the server ends the session (for any reason, so the page may pass on another); 5xx: this transaction
// failed and the session goes on, 554 for a technical reason (a paging terminal down: try again), any other
// for good (550: an invalid pager id or parameter). Anything before the page's commands, a 530 (not logged
// in, or no longer), or no reply at all, is the upstream's trouble.
Delivery SnppVerdict(int code, const std::string& text, bool pageCommand) {
    if (!pageCommand || code == 530 || code < 500 || code > 599) return {Outcome::Temporary, text, Scope::Upstream};
    return {code == 554 ? Outcome::Temporary : Outcome::Permanent, text, Scope::Page};
}

SnppSession::SnppSession(const UpstreamUrl& url, const SnppSettings& settings, long timeoutMilliseconds)
    : url_(url), settings_(settings), timeoutMilliseconds_(timeoutMilliseconds) {}

SnppSession::~SnppSession() { Close(); }

void SnppSession::Close() { End(true); }

void SnppSession::End(bool waitForGoodbye) {
    if (!connection_) return;
    std::string error;
    // A server still busy with the last command would answer QUIT only after it; it is told all the same.
    if (waitForGoodbye)
        Step("QUIT", std::min(timeoutMilliseconds_, MOST_QUIT_MILLISECONDS));
    else
        connection_->SendAll("QUIT\r\n", error);
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
    if (greeting.code == 220) return settings_.user.empty() || LogIn(failure);
    End(!connection_->TimedOut());
    failure = SnppVerdict(greeting.code, greeting.text, false);
    return false;
}

bool SnppSession::LogIn(Delivery& failure) {
    const std::string password = settings_.password.empty() ? std::string() : " " + settings_.password;
    const Reply reply = Step("LOGI " + settings_.user + password, timeoutMilliseconds_);
    if (Answered(reply)) return true;
    // A refused login is every page's trouble: they wait, and the route shows why.
    failure = SnppVerdict(reply.code, reply.code == 0 ? reply.text : "login refused: " + reply.text, false);
    End(!connection_->TimedOut());
    return false;
}

Reply SnppSession::Step(const std::string& command, long timeoutMilliseconds) {
    std::string error;
    if (!connection_->SendAll(command + "\r\n", error)) return Reply{0, error};
    return ReadReply(*connection_, timeoutMilliseconds);
}

Delivery SnppSession::Refused(const Reply& reply, bool pageCommand) {
    Delivery verdict = SnppVerdict(reply.code, reply.text, pageCommand);
    if (reply.code == 530 && settings_.user.empty())
        verdict.reply += " (this route has no login: --snpp-user)";
    // A failed transaction leaves the session usable once reset (hfaxd answers RESEt with 220, and logs the
    // client out: the next 530 logs in again); anything else leaves it in doubt.
    if (verdict.scope == Scope::Page && Answered(Step("RESE", timeoutMilliseconds_))) return verdict;
    End(!connection_->TimedOut());
    return verdict;
}

Delivery SnppSession::Send(const Page& page, size_t partsDone) {
    std::string pagerId;
    if (!PagerIdOf(page.phoneNumber, pagerId))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot be a pager id",
                Scope::Page};
    const SnppParts parts = SnppPartsOf(page, settings_);
    const size_t count = parts.texts.size();
    const size_t part = partsDone;
    if (part >= count)  // the route's length changed since: nothing is left to send
        return {Outcome::Delivered, "all " + std::to_string(count) + " parts were taken before", Scope::Page,
                "", "", count, count};
    const std::string subject = settings_.senderInSubject && part + 1 == count ? SnppSenderWords(page) : "";
    const bool kept = connection_ != nullptr;
    Delivery delivery{Outcome::Temporary, ""};
    if (kept || Open(delivery)) {
        Attempt attempt = SendPart(pagerId, parts.texts[part], subject);
        // A kept session the server has since closed or logged out: nothing of this part was taken, so a new
        // start may try at once. A silent server gets no second wait.
        if (kept && attempt.again && (connection_ ? LogIn(attempt.delivery) : Open(attempt.delivery)))
            attempt = SendPart(pagerId, parts.texts[part], subject);
        delivery = attempt.delivery;
    }
    if (count > 1) {
        delivery.part = part + 1;
        delivery.parts = count;
        delivery.reply = "part " + std::to_string(part + 1) + "/" + std::to_string(count) +
                         (parts.cut ? " (the text cut to fit)" : "") + ": " + delivery.reply;
    }
    return delivery;
}

SnppSession::Attempt SnppSession::SendPart(const std::string& pagerId, const std::string& text,
                                           const std::string& subject) {
    // The first command shows whether a kept session is still there, and still logged in.
    bool first = true;
    const auto gone = [&](const Reply& reply) {
        const bool closed = reply.code == 0 && !connection_->TimedOut();
        const bool loggedOut = reply.code == 530 && !settings_.user.empty();
        return first && (closed || loggedOut);
    };
    // Logged out, the session is still there to log in again; closed, it is ended.
    const auto again = [&](const Reply& reply, bool pageCommand) {
        const Delivery verdict =
            reply.code == 530 ? SnppVerdict(reply.code, reply.text, pageCommand) : Refused(reply, pageCommand);
        return Attempt{verdict, true};
    };
    Reply reply;
    for (const std::string& command : settings_.beforePage) {
        reply = Step(command, timeoutMilliseconds_);
        if (gone(reply)) return again(reply, false);
        if (!Answered(reply)) return {Refused(reply, false), false};
        first = false;
    }
    reply = Step("PAGE " + pagerId, timeoutMilliseconds_);
    if (gone(reply)) return again(reply, true);
    if (!Answered(reply)) return {Refused(reply, true), false};
    if (!subject.empty()) {
        reply = Step("SUBJ " + subject, timeoutMilliseconds_);
        // A server without SUBJect refuses it for every page: the route's trouble, not this page's.
        if (!Answered(reply)) {
            const bool unknown = reply.code == 500 || reply.code == 502;
            Delivery verdict = Refused(reply, !unknown);
            if (unknown) verdict.reply += " (this server takes no SUBJect: leave out --snpp-subject)";
            return {verdict, false};
        }
    }
    if (text.find_first_of("\r\n") == std::string::npos) {
        reply = Step("MESS " + text, timeoutMilliseconds_);
        if (!Answered(reply)) return {Refused(reply, true), false};
    } else {
        reply = Step("DATA", timeoutMilliseconds_);
        if (reply.code != 354) return {Refused(reply, true), false};
        std::string data;
        for (const std::string& line : SnppDataLines(text)) data += line + "\r\n";
        reply = Step(data + ".", timeoutMilliseconds_);
        if (!Answered(reply)) return {Refused(reply, true), false};
    }
    // Unanswered, the page may or may not be queued: tried again, it is the documented duplicate case.
    reply = Step("SEND", settings_.sendTimeoutMilliseconds);
    if (!Answered(reply)) return {Refused(reply, true), false};
    return {{Outcome::Delivered, reply.text, Scope::Page}, false};
}
