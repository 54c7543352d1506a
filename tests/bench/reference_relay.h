// The relay as it was: one SNPP session per page, one page at a time per upstream, the whole upstream
// waiting after any temporary failure. The reference for the relay benchmark.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "paging_gateway/relay/client_socket.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/relay/snpp.h"

namespace reference {

struct Reply {
    int code = 0;
    std::string text;
};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline Reply ReadReply(ClientSocket& connection, long timeoutMilliseconds) {
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

inline Delivery Refusal(const Reply& reply, bool pageCommand) {
    const bool permanent = pageCommand && reply.code >= 500 && reply.code <= 599;
    return {permanent ? Outcome::Permanent : Outcome::Temporary, reply.text};
}

inline Delivery SendSnppPage(const UpstreamUrl& url, const Page& page, long timeoutMilliseconds) {
    std::string pagerId;
    if (!PagerIdOf(page.phoneNumber, pagerId))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot be a pager id"};
    ClientSocket connection;
    std::string error;
    if (!connection.Connect(url.host, url.port, timeoutMilliseconds, error)) return {Outcome::Temporary, error};

    Reply reply = ReadReply(connection, timeoutMilliseconds);
    if (reply.code != 220) return Refusal(reply, false);

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
    step("QUIT", 221);
    return {Outcome::Delivered, accepted};
}

struct Item {
    std::string name;
    Page page;
};

// The old worker's loop for one upstream, run until its queue is empty (it waited for more instead).
inline void Work(const RelaySettings& settings, const UpstreamUrl& url, Spool& spool, std::deque<Item>& queue) {
    long backoff = 0;
    while (!queue.empty()) {
        const Item item = queue.front();
        const Delivery delivery = SendSnppPage(url, item.page, settings.timeoutMilliseconds);
        backoff = delivery.outcome == Outcome::Temporary
                      ? (backoff == 0 ? settings.retryFirstMilliseconds
                                      : std::min(backoff * 2, settings.retryMostMilliseconds))
                      : 0;
        std::string error;
        if (delivery.outcome == Outcome::Delivered) spool.Remove(item.name, error);
        if (delivery.outcome == Outcome::Permanent) spool.MoveToFailed(item.name, delivery.reply, error);
        if (backoff > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(backoff));
        else
            queue.pop_front();
    }
}

}  // namespace reference
