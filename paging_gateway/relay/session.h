// One relay worker's way to an upstream: kinds with a session keep their connection from page to page.
#pragma once

#include <functional>
#include <memory>

#include "paging_gateway/relay/upstream.h"

class UpstreamSession {
public:
    virtual ~UpstreamSession() = default;
    // Opens a connection when none is kept, and keeps it for the next page. `partsDone`: how many parts of a
    // page sent in parts the upstream took before, so a retry goes on from the next.
    virtual Delivery Send(const Page& page, size_t partsDone) = 0;
    // Ends a kept connection politely; harmless when none is open.
    virtual void Close() {}
};

// A kind that sends each page as one stateless request: `send` is its whole delivery.
class EachPageAlone : public UpstreamSession {
public:
    explicit EachPageAlone(std::function<Delivery(const Page&)> send) : send_(std::move(send)) {}
    Delivery Send(const Page& page, size_t) override { return send_(page); }

private:
    std::function<Delivery(const Page&)> send_;
};
