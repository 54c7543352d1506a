// Each page's story, from the 200 to the network's last word: kept in memory for the status pages and in a
// file of one line per event that survives restarts and stays bounded.
#include "paging_gateway/ledger/ledger.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "paging_gateway/platform/files.h"
#include "paging_gateway/spool/spool.h"

const char* const ATTEMPT_OUTCOME_NAMES[ATTEMPT_OUTCOMES] = {"delivered", "temporary", "permanent"};

namespace {

// Far above 10,000 pages' lines; a bigger file is not one this gateway wrote.
constexpr size_t MAX_LEDGER_FILE_BYTES = 256u * 1024 * 1024;

const char* const STATE_NAMES[] = {"received", "queued", "relayed", "delivered", "read", "failed"};

const char* ReceiptName(ReceiptState state) {
    switch (state) {
        case ReceiptState::Queued: return "queued";
        case ReceiptState::Delivered: return "delivered";
        case ReceiptState::Read: return "read";
        case ReceiptState::Failed: return "failed";
    }
    return "queued";
}

int OutcomeIndex(const std::string& name) {
    for (int i = 0; i < ATTEMPT_OUTCOMES; ++i)
        if (name == ATTEMPT_OUTCOME_NAMES[i]) return i;
    return -1;
}

int OutcomeIndex(Outcome outcome) {
    switch (outcome) {
        case Outcome::Delivered: return ATTEMPT_DELIVERED;
        case Outcome::Temporary: return ATTEMPT_TEMPORARY;
        case Outcome::Permanent: return ATTEMPT_PERMANENT;
    }
    return ATTEMPT_TEMPORARY;
}

// Events that tell of a page without changing where it stands, and the id a route's lines go under.
const char* const STORY_ONLY_KINDS[] = {"notice", "notice-dropped"};
const char ROUTE_LINE_ID[] = "-";

bool IsStoryOnly(const std::string& kind) {
    for (const char* known : STORY_ONLY_KINDS)
        if (kind == known) return true;
    return false;
}

LedgerEvent Event(std::time_t time, const std::string& id, const char* kind) {
    LedgerEvent event;
    event.time = time;
    event.id = id;
    event.kind = kind;
    return event;
}

}  // namespace

const char* PageStateName(PageState state) { return STATE_NAMES[static_cast<int>(state)]; }

Ledger::Ledger(LedgerLimits limits, Clock clock) : limits_(limits), clock_(std::move(clock)) {}

std::time_t Ledger::Now() const { return clock_ ? clock_() : std::time(nullptr); }

bool Ledger::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    std::string text;
    FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe != nullptr) {
        std::fclose(probe);
        if (!ReadSmallFile(path, MAX_LEDGER_FILE_BYTES, text, error)) return false;
    } else if (errno != ENOENT) {
        error = "cannot read " + NativePath(path) + ": " + std::strerror(errno);
        return false;
    }
    size_t start = 0;
    for (size_t end = text.find('\n'); start < text.size(); end = text.find('\n', start)) {
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        LedgerEvent event;
        // A last line without its line end was cut short.
        if (end != std::string::npos && ParseLedgerLine(line, event)) {
            if (Apply(event, false)) {
                lines_.push_back({event.id, line + "\n"});
                ++linesOf_[event.id];
            }
        } else {
            ++damagedLines_;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    Trim();
    return Compact(error);
}

void Ledger::AddRoute(const std::string& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    RouteNamed(url);
}

void Ledger::Recover(const Spool& spool, const std::function<std::string(const Page&)>& routeOf) {
    std::set<std::string> waiting, failed;
    for (const std::string& name : spool.Waiting())
        if (!PageIdOf(name).empty()) waiting.insert(PageIdOf(name));
    for (const std::string& name : ListFiles(spool.FailedFolder()))
        if (!PageIdOf(name).empty()) failed.insert(PageIdOf(name));

    std::lock_guard<std::mutex> lock(mutex_);
    const std::time_t now = Now();
    for (const std::string& id : waiting) {
        const auto known = pages_.find(id);
        if (known == pages_.end()) {
            Page page;
            std::string problem;
            if (!spool.Load(PageFileName(id), page, problem)) continue;  // the relay fails it when it starts
            LedgerEvent event = Event(now, id, "received");
            event.fields = {{"carrier", page.carrier->displayName}, {"phone", page.phoneNumber},
                            {"client", ""}, {"route", routeOf(page)}, {"message", page.message},
                            {"note", "found in the spool at start"}};
            Record(event, true);
        } else if (known->second.state != PageState::Queued) {
            LedgerEvent event = Event(now, id, "sent-again");
            event.fields = {{"by", "the spool at start"}};
            Record(event, true);
        }
    }
    std::vector<std::pair<std::string, std::string>> settled;  // id, route
    for (const auto& entry : pages_)
        if (entry.second.state == PageState::Queued && waiting.count(entry.first) == 0)
            settled.emplace_back(entry.first, entry.second.route);
    for (const auto& page : settled) {
        LedgerEvent event = Event(now, page.first, "attempt");
        std::string reason, problem;
        if (failed.count(page.first) != 0) {
            ReadSmallFile(spool.FailedFolder() + "/" + PageFileName(page.first) + ".reason", 64 * 1024, reason,
                          problem);
            while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
            event.fields = {{"route", page.second}, {"outcome", "permanent"},
                            {"reply", reason.empty() ? "in the failed folder at start" : reason}};
        } else {
            event.fields = {{"route", page.second}, {"outcome", "delivered"},
                            {"reply", "gone from the spool at start: relayed before the stop"}};
        }
        Record(event, true);
    }
}

void Ledger::NoteId(const std::string& id) {
    if (id.size() <= 18 && !id.empty() && id.find_first_not_of("0123456789") == std::string::npos)
        lastNumber_ = std::max(lastNumber_, std::stoull(id));
}

std::string Ledger::NextId() {
    std::lock_guard<std::mutex> lock(mutex_);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%012llu", ++lastNumber_);
    return digits;
}

unsigned long long Ledger::LastNumber() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastNumber_;
}

void Ledger::Received(const std::string& id, const Page& page, const std::string& client, const std::string& route) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), id, "received");
    event.fields = {{"carrier", page.carrier != nullptr ? page.carrier->displayName : ""},
                    {"phone", page.phoneNumber},
                    {"client", client},
                    {"route", route},
                    {"message", page.message}};
    // What the 200 acknowledges is on disk first, as the spool's page is.
    Record(event, true);
}

void Ledger::Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                       long retryMilliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), id, "attempt");
    event.fields = {{"route", route}, {"outcome", ATTEMPT_OUTCOME_NAMES[OutcomeIndex(delivery.outcome)]},
                    {"reply", delivery.reply}};
    if (delivery.outcome == Outcome::Temporary && retryMilliseconds > 0)
        event.fields.emplace_back("retry_ms", std::to_string(retryMilliseconds));
    // The spool holds the page until the network took it, so a lost line is found again at start (Recover).
    Record(event, false);
}

void Ledger::SentAgain(const std::string& id, const std::string& who) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), id, "sent-again");
    event.fields = {{"by", who}};
    Record(event, false);
}

void Ledger::Receipt(const std::string& id, ReceiptState state, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), id, "receipt");
    event.fields = {{"state", ReceiptName(state)}, {"text", text}};
    Record(event, true);  // the network says it once; nothing else has it
}

void Ledger::Noticed(const std::string& pageId, const std::string& event, const std::string& channel,
                     const std::string& outcome, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool dropped = outcome == "dropped";
    LedgerEvent line = Event(Now(), pageId.empty() ? ROUTE_LINE_ID : pageId, dropped ? "notice-dropped" : "notice");
    line.fields = {{"event", event}, {"channel", channel}};
    if (!dropped) line.fields.emplace_back("outcome", outcome);
    if (!detail.empty()) line.fields.emplace_back("detail", detail);
    Record(line, false);
}

void Ledger::Record(LedgerEvent event, bool flush) {
    // A page dropped from the ledger already; a route's lines belong to no page.
    if (event.kind != "received" && pages_.count(event.id) == 0 && event.id != ROUTE_LINE_ID) return;
    const std::string text = FormatLedgerLine(event);
    if (file_.IsOpen()) {
        std::string error;
        if (!file_.Append(text, flush, error)) {
            ++writeErrors_;
            lastWriteError_ = "cannot write " + NativePath(path_) + ": " + error;
        }
        lines_.push_back({event.id, text});
        ++linesOf_[event.id];
    }
    Apply(event, true);
    if (event.kind == "received") Trim();
    if (file_.IsOpen() && deadLines_ * 2 > lines_.size()) {
        std::string error;
        if (!Compact(error)) {
            ++writeErrors_;
            lastWriteError_ = error;
        }
    }
}

LedgerRoute& Ledger::RouteNamed(const std::string& url) {
    for (LedgerRoute& route : routes_)
        if (route.url == url) return route;
    routes_.push_back(LedgerRoute());
    routes_.back().url = url;
    return routes_.back();
}

bool Ledger::Apply(const LedgerEvent& event, bool live) {
    NoteId(event.id);
    if (event.id == ROUTE_LINE_ID) return IsStoryOnly(event.kind);
    if (event.kind == "received") {
        LedgerPage& page = pages_[event.id];
        page = LedgerPage();
        page.id = event.id;
        page.carrier = event.Field("carrier");
        page.phone = event.Field("phone");
        page.message = event.Field("message");
        page.client = event.Field("client");
        page.route = event.Field("route");
        page.received = page.updated = page.waitingSince = event.time;
        page.state = page.route.empty() ? PageState::Received : PageState::Queued;
        if (live && page.route.empty()) ++unroutedReceived_;
        if (live && !page.route.empty()) ++RouteNamed(page.route).received;
        return true;
    }
    const auto found = pages_.find(event.id);
    if (found == pages_.end()) return false;
    LedgerPage& page = found->second;
    if (!IsStoryOnly(event.kind)) page.updated = event.time;
    if (event.kind == "attempt") {
        const int outcome = OutcomeIndex(event.Field("outcome"));
        if (outcome < 0) return false;
        const std::string url = event.Field("route");
        page.reply = event.Field("reply");
        ++page.attempts;
        if (outcome == ATTEMPT_DELIVERED) page.state = PageState::Relayed;
        if (outcome == ATTEMPT_PERMANENT) page.state = PageState::Failed;
        page.canSendAgain = outcome == ATTEMPT_PERMANENT;
        const std::string retry = event.Field("retry_ms");
        const long retryMilliseconds =
            retry.empty() || retry.size() > 9 || retry.find_first_not_of("0123456789") != std::string::npos
                ? 0
                : std::stol(retry);
        page.nextAttempt = retryMilliseconds > 0 ? event.time + (retryMilliseconds + 999) / 1000 : 0;
        if (url.empty()) return true;
        LedgerRoute& route = RouteNamed(url);
        route.lastReply = page.reply;
        route.lastAttempt = event.time;
        if (live) {
            ++route.attempts[outcome];
            if (outcome == ATTEMPT_DELIVERED) ++route.relayed;
            if (outcome == ATTEMPT_PERMANENT) ++route.failed;
        }
    } else if (event.kind == "sent-again") {
        page.state = PageState::Queued;
        page.waitingSince = event.time;
        page.nextAttempt = 0;
        page.canSendAgain = false;
    } else if (event.kind == "receipt") {
        const std::string state = event.Field("state");
        if (state == "delivered") page.state = PageState::Delivered;
        if (state == "read") page.state = PageState::Read;
        if (state == "failed") page.state = PageState::Failed;
        if (state == "failed") page.canSendAgain = false;  // the network took it; the spool has let it go
        if (!event.Field("text").empty()) page.reply = event.Field("text");
    } else if (!IsStoryOnly(event.kind)) {
        return false;
    }
    return true;
}

void Ledger::Trim() {
    const std::time_t cutoff = Now() - static_cast<std::time_t>(limits_.days) * 86400;
    // A page still waiting stays: the spool still holds it and the status page has to show it.
    for (auto it = pages_.begin(); it != pages_.end() && (pages_.size() > limits_.pages || it->second.received < cutoff);) {
        if (it->second.state == PageState::Queued) {
            ++it;
            continue;
        }
        const auto lines = linesOf_.find(it->first);
        if (lines != linesOf_.end()) {
            deadLines_ += lines->second;
            linesOf_.erase(lines);
        }
        it = pages_.erase(it);
    }
}

bool Ledger::Compact(std::string& error) {
    std::deque<Line> kept;
    std::string text;
    for (Line& line : lines_)
        if (pages_.count(line.id) != 0) {
            text += line.text;
            kept.push_back(std::move(line));
        }
    lines_.swap(kept);
    deadLines_ = 0;
    if (path_.empty()) return true;
    // Written aside and renamed over the old file, so a crash leaves one whole file or the other.
    const std::string fresh = path_ + ".new";
    std::string ignored;
    RemoveFile(fresh, ignored);
    file_.Close();
    const bool written = WriteNewFile(fresh, text, error) && RenameOver(fresh, path_, error);
    if (!written) error = "cannot rewrite " + NativePath(path_) + ": " + error;
    std::string opening;
    if (!file_.Open(path_, opening) && written) {
        error = "cannot open " + NativePath(path_) + ": " + opening;
        return false;
    }
    return written;
}

LedgerView Ledger::View(size_t latest) const {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerView view;
    view.now = Now();
    view.pageCount = pages_.size();
    view.routes = routes_;
    view.unroutedReceived = unroutedReceived_;
    view.writeErrors = writeErrors_;
    view.lastWriteError = lastWriteError_;
    for (LedgerRoute& route : view.routes) route.nextAttempt = 0;
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) {
        const LedgerPage& page = it->second;
        if (view.latest.size() < latest) view.latest.push_back(page);
        if (page.state == PageState::Failed) {
            if (view.failed.size() < latest) view.failed.push_back(page);
            ++view.failedCount;
        }
        if (page.state != PageState::Queued) continue;
        for (LedgerRoute& route : view.routes)
            if (route.url == page.route) {
                ++route.waiting;
                if (route.oldestWaiting == 0 || page.waitingSince < route.oldestWaiting)
                    route.oldestWaiting = page.waitingSince;
                if (page.nextAttempt != 0 && (route.nextAttempt == 0 || page.nextAttempt < route.nextAttempt))
                    route.nextAttempt = page.nextAttempt;
            }
    }
    return view;
}

bool Ledger::Find(const std::string& id, LedgerPage& page) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = pages_.find(id);
    if (found == pages_.end()) return false;
    page = found->second;
    return true;
}

size_t Ledger::FileLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

size_t Ledger::DamagedLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return damagedLines_;
}
