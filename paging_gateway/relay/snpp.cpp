// Hands a page to a paging network over SNPP (RFC 1861).
#include "paging_gateway/relay/snpp.h"

#include "paging_gateway/relay/client_socket.h"

namespace {

struct Reply {
    int code = 0;  // 0: no reply (time-out, closed connection, or not a reply line)
    std::string text;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One reply; a continued reply ("214-...") is read to its last line.
Reply ReadReply(ClientSocket& connection, long timeoutMilliseconds) {
    Reply reply;
    std::string line, error;
    do {
        if (!connection.ReadLine(timeoutMilliseconds, line, error)) {
            reply.text = error;
            return reply;
        }
    } while (line.size() > 3 && line[3] == '-');
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
        (line.size() > 3 && line[3] != ' ')) {
        reply.text = "not an SNPP reply: " + PrintableText(line);
        return reply;
    }
    reply.code = std::stoi(line.substr(0, 3));
    reply.text = PrintableText(line);
    return reply;
}

// Only a 5xx to the page's own commands says the page itself will never go; anything else may pass.
Delivery Refusal(const Reply& reply, bool pageCommand) {
    const bool permanent = pageCommand && reply.code >= 500 && reply.code <= 599;
    return {permanent ? Outcome::Permanent : Outcome::Temporary, reply.text, ""};
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

Delivery SendSnppPage(const UpstreamUrl& url, const Page& page, long timeoutMilliseconds) {
    std::string pagerId;
    if (!PagerIdOf(page.phoneNumber, pagerId))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot be a pager id", ""};
    ClientSocket connection;
    std::string error;
    if (!connection.Connect(url.host, url.port, timeoutMilliseconds, error)) return {Outcome::Temporary, error, ""};

    Reply reply = ReadReply(connection, timeoutMilliseconds);
    if (reply.code != 220) return Refusal(reply, false);

    // Each step: the command, then the reply it needs; a 5xx to any of them refuses the page.
    auto step = [&](const std::string& command, int wanted) {
        if (!connection.SendAll(command + "\r\n", error)) {
            reply = Reply{0, error};
            return false;
        }
        reply = ReadReply(connection, timeoutMilliseconds);
        return reply.code == wanted;
    };
    if (!step("PAGE " + pagerId, 250)) return Refusal(reply, true);
    const std::string text = SnppText(page);
    if (text.find_first_of("\r\n") == std::string::npos) {
        if (!step("MESS " + text, 250)) return Refusal(reply, true);
    } else {
        if (!step("DATA", 354)) return Refusal(reply, true);
        std::string data;
        for (const std::string& line : SnppDataLines(text)) data += line + "\r\n";
        if (!step(data + ".", 250)) return Refusal(reply, true);
    }
    if (!step("SEND", 250)) return Refusal(reply, true);
    const std::string accepted = reply.text;
    // The page has gone; a server that fumbles the goodbye changes nothing.
    step("QUIT", 221);
    return {Outcome::Delivered, accepted, ""};
}
