// Notices as an HTTP(S) POST of their JSON object; any 2xx delivers.
#include "paging_gateway/notice/channel.h"

namespace {

class WebhookChannel : public NoticeChannel {
public:
    WebhookChannel(const HttpTarget& target, long timeoutMilliseconds)
        : target_(target), timeoutMilliseconds_(timeoutMilliseconds) {}
    const char* Name() const override { return "webhook"; }
    bool Deliver(const Outgoing& outgoing, std::string& error) override {
        const HttpAnswer answer = HttpPost(target_, "application/json", outgoing.json, timeoutMilliseconds_);
        if (answer.answered && answer.status >= 200 && answer.status <= 299) return true;
        error = answer.answered ? "HTTP " + std::to_string(answer.status) : answer.error;
        return false;
    }

private:
    HttpTarget target_;
    long timeoutMilliseconds_;
};

}  // namespace

std::unique_ptr<NoticeChannel> MakeWebhookChannel(const HttpTarget& target, long timeoutMilliseconds) {
    return std::make_unique<WebhookChannel>(target, timeoutMilliseconds);
}
