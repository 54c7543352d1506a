// What a WCTP network answered, read with a real XML parser, and what it means for the page.
#include "paging_gateway/relay/wctp_reply.h"

#include "paging_gateway/platform/xml_reader.h"

namespace {

// At most this much of any text the network sends is kept.
constexpr size_t MOST_TEXT = 500;

const std::string* Find(const XmlEvents::Attributes& attributes, const char* name) {
    for (const auto& attribute : attributes)
        if (attribute.first == name) return &attribute.second;
    return nullptr;
}

int Number(const std::string* text, long most) {
    if (text == nullptr || text->empty() || text->size() > 9 ||
        text->find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const long value = std::stol(*text);
    return static_cast<int>(value > most ? most : value);
}

void Keep(std::string& into, const std::string& more) {
    if (into.size() < MOST_TEXT) into += more.substr(0, MOST_TEXT - into.size());
}

std::string Joined(const std::string& first, const std::string& second) {
    if (first.empty()) return second;
    if (second.empty()) return first;
    return first + ": " + second;
}

// Collects what the relay needs by element names and where they stand, whatever else the answer holds.
class ReplyReader : public XmlEvents {
public:
    explicit ReplyReader(WctpReply& reply) : reply_(reply) {}
    bool sawOperation = false;

    void Start(const std::string& name, const Attributes& attributes) override {
        ++depth_;
        if (depth_ == 1) {
            sawOperation = name == "wctp-Operation";
            return;
        }
        if (!sawOperation) return;
        if (depth_ == 2) {
            reply_.operation = name;
            if (const std::string* wait = Find(attributes, "minNextPollInterval"))
                reply_.minNextPollInterval = Number(wait, 7 * 24 * 60);
            return;
        }
        const bool success = name == "wctp-ClientSuccess" || name == "wctp-Success";
        const bool failure = name == "wctp-Failure";
        if (depth_ == 3 && (success || failure)) {
            reply_.success = success;
            reply_.failure = failure;
            reply_.code = Number(Find(attributes, success ? "successCode" : "errorCode"), 999999);
            if (const std::string* text = Find(attributes, success ? "successText" : "errorText"))
                Keep(reply_.text, *text);
            if (const std::string* tracking = Find(attributes, "trackingNumber"))
                Keep(reply_.trackingNumber, *tracking);
            textDepth_ = depth_;
            textInto_ = &ownText_;
        } else if (depth_ > 3 && name == "wctp-Notification") {
            const std::string* type = Find(attributes, "type");
            reply_.statuses.push_back({type ? type->substr(0, 40) : "", 0, ""});
            textDepth_ = depth_;
            textInto_ = &reply_.statuses.back().text;
        } else if (depth_ > 3 && failure) {
            reply_.statuses.push_back({"failure", Number(Find(attributes, "errorCode"), 999999), ""});
            if (const std::string* text = Find(attributes, "errorText")) Keep(reply_.statuses.back().text, *text);
            textDepth_ = depth_;
            statusText_.clear();
            textInto_ = &statusText_;
        }
    }
    void Text(const std::string& text) override {
        if (textInto_ != nullptr) Keep(*textInto_, text);
    }
    void End(const std::string&) override {
        if (depth_ == textDepth_) {
            if (textInto_ == &statusText_) {
                std::string& kept = reply_.statuses.back().text;
                kept = Joined(kept, Trimmed(statusText_));
            }
            textInto_ = nullptr;
            textDepth_ = 0;
        }
        --depth_;
    }
    std::string OwnText() const { return Trimmed(ownText_); }

private:
    static std::string Trimmed(const std::string& text) {
        const size_t start = text.find_first_not_of(" \t\r\n");
        if (start == std::string::npos) return "";
        return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
    }

    WctpReply& reply_;
    int depth_ = 0;
    int textDepth_ = 0;
    std::string* textInto_ = nullptr;
    std::string ownText_, statusText_;
};

// 301-303 say our XML is at fault, which sending it again cannot mend; the other 3xx codes, like 6xx, are
// the network's own trouble.
bool PermanentCode(int code) { return (code >= 301 && code <= 303) || (code >= 400 && code <= 599); }

std::string Described(const WctpReply& reply) { return PrintableText(Joined(std::to_string(reply.code), reply.text)); }

bool ReadAnswer(const HttpAnswer& answer, WctpReply& reply, std::string& problem) {
    if (!answer.answered) {
        problem = answer.error;
        return false;
    }
    std::string error;
    if (ParseWctpReply(answer.body, reply, error)) return true;
    problem = "HTTP " + std::to_string(answer.status) + ", no WCTP answer (" + error + ")";
    return false;
}

}  // namespace

bool ParseWctpReply(const std::string& body, WctpReply& reply, std::string& error) {
    reply = WctpReply{};
    ReplyReader reader(reply);
    if (!ReadXml(body, reader, error)) return false;
    if (!reader.sawOperation || reply.operation.empty()) {
        error = "no wctp-Operation in the answer";
        return false;
    }
    reply.text = Joined(reply.text, reader.OwnText()).substr(0, MOST_TEXT);
    return true;
}

Delivery SubmitOutcome(const HttpAnswer& answer) {
    WctpReply reply;
    std::string problem;
    if (!ReadAnswer(answer, reply, problem)) return {Outcome::Temporary, PrintableText(problem)};
    // A server in trouble is given the page again later, whatever its body says.
    if (answer.status >= 500)
        return {Outcome::Temporary, "HTTP " + std::to_string(answer.status) + ": " + Described(reply)};
    if (reply.success) {
        if (reply.code != 0 && (reply.code < 200 || reply.code > 299))
            return {Outcome::Temporary, "odd success code " + Described(reply)};
        std::string text = Described(reply);
        if (!reply.trackingNumber.empty()) text += " (tracking " + PrintableText(reply.trackingNumber) + ")";
        return {Outcome::Delivered, text, Scope::Page, reply.trackingNumber};
    }
    if (reply.failure)
        return {PermanentCode(reply.code) ? Outcome::Permanent : Outcome::Temporary, Described(reply)};
    return {Outcome::Temporary,
            "HTTP " + std::to_string(answer.status) + ": " + PrintableText(reply.operation) +
                " holds neither success nor failure"};
}

ReceiptNews QueryOutcome(const HttpAnswer& answer) {
    ReceiptNews news;
    WctpReply reply;
    std::string problem;
    if (!ReadAnswer(answer, reply, problem) || answer.status >= 500) {
        news.text = PrintableText(problem.empty() ? "HTTP " + std::to_string(answer.status) : problem);
        return news;
    }
    news.answered = true;
    news.waitMinutes = reply.minNextPollInterval;
    if (reply.failure) {
        news.hopeless = PermanentCode(reply.code);
        news.answered = news.hopeless;
        news.text = Described(reply);
        return news;
    }
    static const struct {
        const char* type;
        ReceiptState state;
    } STATES[] = {{"QUEUED", ReceiptState::Queued},
                  {"DELIVERED", ReceiptState::Delivered},
                  {"READ", ReceiptState::Read},
                  {"failure", ReceiptState::Failed}};
    // The furthest state wins, in whatever order the network lists them.
    size_t furthest = 0;
    for (const WctpReply::Status& status : reply.statuses)
        for (size_t rank = 1; rank <= sizeof STATES / sizeof STATES[0]; ++rank)
            if (status.type == STATES[rank - 1].type && rank > furthest) {
                const auto& known = STATES[rank - 1];
                furthest = rank;
                news.known = true;
                news.state = known.state;
                news.text = PrintableText(status.type == "failure" ? Joined(std::to_string(status.code), status.text)
                                                                   : Joined(status.type, status.text));
            }
    return news;
}
