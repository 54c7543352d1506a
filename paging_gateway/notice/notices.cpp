// The notices' PageEvents, in front of the ledger.
#include "paging_gateway/notice/notices.h"

#include <ctime>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/ledger/ledger_line.h"
#include "paging_gateway/platform/files.h"
#include "paging_gateway/platform/host_name.h"
#include "paging_gateway/status/render.h"

namespace {

// How long a notice program may run and a webhook may take to answer.
constexpr long CHANNEL_TIMEOUT_MILLISECONDS = 30 * 1000;

nlohmann::json Parsed(const std::string& text) {
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    return json.is_discarded() ? nlohmann::json::object() : json;
}

#ifdef PAGING_GATEWAY_MAIL
// The SMTP server a notice mail goes through: --notify-smtp, else the first e-mail route's.
bool MailServer(const NoticeSettings& settings, const RelaySettings& relay, UpstreamUrl& server, std::string& error) {
    if (!settings.smtpUrl.empty()) return ParseUpstreamUrl(settings.smtpUrl, server, error);
    for (const RelayRoute& route : relay.routes)
        if (route.url.kind == UpstreamKind::Smtp) {
            server = route.url;
            return true;
        }
    error = "--notify-mail needs an SMTP server: an e-mail --relay or --notify-smtp URL";
    return false;
}
#endif

}  // namespace

Notices::Notices(const NoticeSettings& settings, const RelaySettings& relay, Ledger& ledger, std::ostream& out)
    : settings_(settings), relay_(relay), ledger_(ledger), out_(out), host_(HostName()) {}

Notices::~Notices() { Stop(); }

bool Notices::Open(const std::string& spoolFolder, std::string& error) {
    std::vector<std::unique_ptr<NoticeChannel>> channels;
    if (!settings_.url.empty()) channels.push_back(MakeWebhookChannel(settings_.webhook, CHANNEL_TIMEOUT_MILLISECONDS));
    if (!settings_.command.empty())
        channels.push_back(MakeCommandChannel(settings_.command, CHANNEL_TIMEOUT_MILLISECONDS));
#ifdef PAGING_GATEWAY_MAIL
    if (!settings_.mailTo.empty()) {
        UpstreamUrl server;
        if (!MailServer(settings_, relay_, server, error)) return false;
        channels.push_back(MakeMailChannel(server, relay_.mail, settings_.mailTo, relay_.timeoutMilliseconds));
    }
#endif
    for (const auto& channel : channels) channelNames_.push_back(channel->Name());
    if (!store_.Open(spoolFolder + "/" + NOTICES_FOLDER_NAME, error)) return false;
    store_.Prune([this](const std::string& id) {
        LedgerPage page;
        return ledger_.Find(id, page);
    });
    SenderSettings sending;
    sending.retryFirstMilliseconds = relay_.retryFirstMilliseconds;
    sending.retryMostMilliseconds = relay_.retryMostMilliseconds;
    sending.host = host_;
    sender_ = std::make_unique<NoticeSender>(
        store_, std::move(channels), sending,
        [this](const Notice& notice, const std::string& outcome, const std::string& detail) {
            Reported(notice, outcome, detail);
        });
    sender_->Load();
    return true;
}

void Notices::Start() {
    if (sender_) sender_->Start();
}

void Notices::Stop() {
    if (sender_) sender_->Stop();
}

void Notices::NoticeRecovered(std::time_t since) {
    const LedgerView view = ledger_.View(0);
    std::vector<std::string> settled;
    for (const LedgerPage& page : ledger_.View(view.pageCount).failed)
        if (page.updated >= since) settled.push_back(page.id);
    for (const std::string& id : settled) PageNotice(id, "failed", "", false);
}

void Notices::Received(const std::string& id, const Page& page, const std::string& client, const std::string& route) {
    ledger_.Received(id, page, client, route);
}

void Notices::Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                        long retryMilliseconds) {
    ledger_.Attempted(id, route, delivery, retryMilliseconds);
    if (delivery.outcome == Outcome::Permanent) PageNotice(id, "failed", delivery.reply, false);
}

void Notices::SentAgain(const std::string& id, const std::string& who) {
    ledger_.SentAgain(id, who);
    std::lock_guard<std::mutex> lock(mutex_);
    store_.Forget(id);  // a page sent again that fails again is news again
}

void Notices::Receipt(const std::string& id, ReceiptState state, const std::string& text) {
    ledger_.Receipt(id, state, text);
    if (state == ReceiptState::Failed) PageNotice(id, "failed", text, false);
}

void Notices::Failed(const std::string& id, const std::string& reason, bool expired) {
    ledger_.Failed(id, reason, expired);
    PageNotice(id, "failed", reason, expired);
}

void Notices::Late(const std::string& id) {
    ledger_.Late(id);
    PageNotice(id, "late", "", false);
}

void Notices::RouteDown(const std::string& route, const std::string& reason) {
    ledger_.RouteDown(route, reason);
    RouteNotice(route, "route-down", reason);
}

void Notices::RouteUp(const std::string& route) {
    ledger_.RouteUp(route);
    RouteNotice(route, "route-up", "");
}

void Notices::PageNotice(const std::string& id, const std::string& event, const std::string& why, bool expired) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (store_.Noticed(id, event)) return;
    LedgerPage page;
    if (!ledger_.Find(id, page)) {
        page.id = id;
        page.reply = why;
    }
    nlohmann::json object = Parsed(PageJson(page));
    if (expired) object["expired"] = true;
    Notice notice;
    notice.event = event;
    notice.subject = notice.pageId = id;
    notice.title = "Page " + id + " to " + page.phone +
                   (event == "late" ? " is late (waiting since " + FormatUtcTime(page.waitingSince) + ")"
                                    : " failed: " + (why.empty() ? page.reply : why));
    notice.body = {{"event", event}, {"time", FormatUtcTime(std::time(nullptr))}, {"host", host_}, {"page", object}};
    Issue(notice);
}

void Notices::RouteNotice(const std::string& route, const std::string& event, const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    const LedgerView view = ledger_.View(0);
    LedgerRoute shown;
    shown.url = route;
    for (const LedgerRoute& known : view.routes)
        if (known.url == route) shown = known;
    Notice notice;
    notice.event = event;
    notice.subject = route;
    notice.title =
        "Route " + route + (event == "route-up" ? " is up again" : " is down" + (why.empty() ? "" : ": " + why));
    nlohmann::json object = Parsed(RouteJson(shown, view.now));
    if (event == "route-down" && !why.empty()) object["reason"] = why;
    notice.body = {{"event", event}, {"time", FormatUtcTime(std::time(nullptr))}, {"host", host_}, {"route", object}};
    Issue(notice);
}

void Notices::Issue(Notice notice) {
    if (settings_.warn) settings_.warn(notice.title);
    if (!sender_) return;
    notice.created = std::time(nullptr);
    notice.dueMilliseconds = 0;  // at once
    bool written = false;
    for (const std::string& channel : channelNames_) {
        Notice copy = notice;
        copy.channel = channel;
        std::string error;
        if (!store_.Add(copy, error)) {
            Print("notice not kept: " + notice.event + " " + notice.subject + " by " + channel + ": " + error);
            continue;
        }
        written = true;
        sender_->Queue(copy);
    }
    std::string error;
    // With no channel but the event log, the page's event is handled all the same.
    if ((written || channelNames_.empty()) && !notice.pageId.empty() &&
        !store_.MarkNoticed(notice.pageId, notice.event, error))
        Print("notice record not kept: " + notice.event + " " + notice.pageId + ": " + error);
}

void Notices::Reported(const Notice& notice, const std::string& outcome, const std::string& detail) {
    ledger_.Noticed(notice.pageId, notice.event, notice.channel, outcome, detail);
    Print("notice " + outcome + ": " + notice.event + " " + notice.subject + " by " + notice.channel +
          (detail.empty() ? "" : " (" + PrintableText(detail) + ")"));
}

// One write under the lock every printed line shares, so a notice's line never splits a page's.
void Notices::Print(const std::string& line) { PrintLine(out_, line); }
