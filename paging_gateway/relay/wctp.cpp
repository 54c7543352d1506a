// Hands a page to a paging network over WCTP (XML over HTTP or HTTPS), and asks after it later.
#include "paging_gateway/relay/wctp.h"

#include <atomic>
#include <chrono>
#include <ctime>

#include "paging_gateway/relay/snpp.h"
#include "paging_gateway/relay/wctp_message.h"

namespace {

HttpTarget TargetOf(const UpstreamUrl& url, const WctpSettings& settings) {
    HttpTarget target;
    target.tls = url.implicitTls;
    target.host = url.host;
    target.port = url.port;
    target.path = url.path;
    target.caFile = settings.caFile;
    return target;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

// Unique within this gateway's life and, by the start time in it, across restarts.
std::string NewMessageId() {
    static std::atomic<unsigned long> next{0};
    static const long long started =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return "pg" + std::to_string(started) + "-" + std::to_string(++next);
}

}  // namespace

void StartWctp() { StartHttpPost(); }

Delivery SendWctpPage(const UpstreamUrl& url, const RelaySettings& relay, const Page& page, long timeoutMilliseconds) {
    const WctpSettings& settings = relay.wctp;
    std::string recipientId;
    if (!PagerIdOf(page.phoneNumber, recipientId))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot be a recipient id", Scope::Page};
    const std::string xml = WctpSubmit(settings, recipientId, SnppText(page), NewMessageId(), UtcNow());
    Delivery delivery =
        SubmitOutcome(HttpPost(TargetOf(url, settings), "text/xml; charset=UTF-8", xml, timeoutMilliseconds));
    delivery.recipient = recipientId;
    return delivery;
}

ReceiptNews AskWctpReceipt(const UpstreamUrl& url, const WctpSettings& settings, const std::string& recipientId,
                           const std::string& trackingNumber, long timeoutMilliseconds) {
    const std::string xml = WctpClientQuery(settings, recipientId, trackingNumber);
    return QueryOutcome(HttpPost(TargetOf(url, settings), "text/xml; charset=UTF-8", xml, timeoutMilliseconds));
}
