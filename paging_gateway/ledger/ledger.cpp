// Each page's story, from the 200 to the network's last word: kept in memory for the status pages and in a
// file of one line per event that survives restarts and stays bounded.
#include "paging_gateway/ledger/ledger.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "paging_gateway/platform/files.h"
#include "paging_gateway/spool/spool.h"

const char* const ATTEMPT_OUTCOME_NAMES[ATTEMPT_OUTCOMES] = {"delivered", "temporary", "permanent"};

namespace {

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

LedgerEvent Event(std::time_t time, const std::string& id, const char* kind) {
    LedgerEvent event;
    event.time = time;
    event.id = id;
    event.kind = kind;
    return event;
}

}  // namespace

const char* PageStateName(PageState state) { return STATE_NAMES[static_cast<int>(state)]; }

const Ledger::EventRule Ledger::EVENT_RULES[] = {
    {"received", &Ledger::ApplyReceived},     {"attempt", &Ledger::ApplyAttempt},
    {"sent-again", &Ledger::ApplySentAgain},  {"receipt", &Ledger::ApplyReceipt},
    {"failed", &Ledger::ApplyFailed},         {"expired", &Ledger::ApplyFailed},
    {"late", &Ledger::ApplyLate},             {"route-down", &Ledger::ApplyRouteChange},
    {"route-up", &Ledger::ApplyRouteChange},  {"notice", &Ledger::ApplyNotice},
    {"notice-dropped", &Ledger::ApplyNotice},
};

Ledger::Ledger(LedgerLimits limits, Clock clock, Clock elapsed)
    : limits_(limits), clock_(std::move(clock)), elapsed_(std::move(elapsed)) {
    if (!elapsed_ && clock_) elapsed_ = clock_;
}

Ledger::~Ledger() {
    std::string ignored;
    if (keepLastNumber_) keepLastNumber_(lastNumber_, ignored);
}

std::time_t Ledger::Now() const { return clock_ ? clock_() : std::time(nullptr); }

std::time_t Ledger::AgeNow() {
    const std::time_t wall = Now();
    const std::time_t elapsed =
        elapsed_ ? elapsed_()
                 : static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                                std::chrono::steady_clock::now().time_since_epoch())
                                                .count());
    if (!ageStarted_) {
        ageStarted_ = true;
        ageNow_ = wall;
    } else {
        ageNow_ = std::min(wall, ageNow_ + std::max<std::time_t>(0, elapsed - lastElapsed_));
    }
    lastElapsed_ = elapsed;
    return ageNow_;
}

void Ledger::KeepLastNumberWith(std::function<bool(unsigned long long, std::string&)> keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepLastNumber_ = std::move(keep);
}

std::vector<std::string> Ledger::Notes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
}

void Ledger::KeepLine(const std::string& id, std::string text) {
    PageLines& lines = linesOf_[id];
    ++lines.count;
    lines.bytes += text.size();
    lineBytes_ += text.size();
    lines_.push_back({id, std::move(text)});
}

void Ledger::NoteDamaged(const std::string& bytes, bool lineEnds) {
    // Its id, where it still has one, is never given again.
    const size_t first = bytes.find(' ');
    if (first != std::string::npos) NoteId(bytes.substr(first + 1, bytes.find(' ', first + 1) - first - 1));
    std::string error;
    if (!damaged_.IsOpen() && !damaged_.Open(path_ + ".damaged", error)) {
        ++writeErrors_;
        lastWriteError_ = "cannot write " + NativePath(path_ + ".damaged") + ": " + error;
        return;
    }
    if (!damaged_.Append(lineEnds ? bytes + "\n" : bytes, false, error)) {
        ++writeErrors_;
        lastWriteError_ = "cannot write " + NativePath(path_ + ".damaged") + ": " + error;
    }
}

bool Ledger::ReadLine(const std::string& line) {
    LedgerEvent event;
    if (!ParseLedgerLine(line, event)) return false;
    bool known = false;
    for (const EventRule& rule : EVENT_RULES) known = known || event.kind == rule.kind;
    if (!known) return false;
    // A line of a page dropped already (or never received) is history nobody can show: left out.
    if (Apply(event, false)) KeepLine(event.id, line + "\n");
    return true;
}

bool Ledger::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    AgeNow();
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr && errno != ENOENT) {
        error = "cannot read " + NativePath(path) + ": " + std::strerror(errno);
        return false;
    }
    // Read a block at a time and trimmed as it goes, so a file of any size fits in the ledger's bounds.
    unsigned long long fileBytes = 0;
    size_t sinceTrim = 0;
    std::string line;
    bool overlong = false;
    std::vector<char> block(64 * 1024);
    while (in != nullptr) {
        const size_t got = std::fread(block.data(), 1, block.size(), in);
        if (got == 0) break;
        fileBytes += got;
        for (size_t at = 0; at < got;) {
            const char* newline = static_cast<const char*>(std::memchr(block.data() + at, '\n', got - at));
            const size_t end = newline != nullptr ? static_cast<size_t>(newline - block.data()) : got;
            line.append(block.data() + at, end - at);
            at = end;
            if (line.size() > MAX_LEDGER_LINE_BYTES) {
                NoteDamaged(line, false);  // kept whole, in pieces
                line.clear();
                overlong = true;
            }
            if (newline == nullptr) continue;
            ++at;
            if (overlong) {
                NoteDamaged(line, true);
                ++damagedLines_;
            } else {
                // An editor's CR LF is taken as LF: no value holds a bare CR (the quoting writes \r).
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && !ReadLine(line)) {
                    NoteDamaged(line, true);
                    ++damagedLines_;
                }
            }
            line.clear();
            overlong = false;
            if (++sinceTrim == 512) {
                sinceTrim = 0;
                Trim();
                DropDeadLines();
            }
        }
    }
    const bool readFailed = in != nullptr && std::ferror(in) != 0;
    if (in != nullptr) std::fclose(in);
    if (readFailed) {
        error = "cannot read " + NativePath(path) + ": " + std::strerror(errno);
        return false;
    }
    // A last line without its line end was cut short: even one that parses may have lost the end of a value.
    if (!line.empty() || overlong) {
        NoteDamaged(line, true);
        ++damagedLines_;
    }
    damaged_.Close();
    if (damagedLines_ > 0)
        notes_.push_back(std::to_string(damagedLines_) + (damagedLines_ == 1 ? " line" : " lines") + " of " +
                         NativePath(path) + " could not be read: added to " + NativePath(path + ".damaged"));
    Trim();
    const unsigned long long bound = 2ull * limits_.bytes;
    if (fileBytes > bound)
        notes_.push_back(NativePath(path) + " held " + std::to_string(fileBytes / (1024 * 1024)) +
                         " MB, more than the ledger lets it grow to (" + std::to_string(bound / (1024 * 1024)) +
                         " MB): kept its newest " + std::to_string(pages_.size()) + " pages and trimmed the rest");
    return Compact(error);
}

void Ledger::AddRoute(const std::string& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerRoute& route = RouteNamed(url);
    route.configured = true;
    route.down = false;
    route.since = Now();
}

void Ledger::SetRouteChoice(RouteChoice choice) {
    std::lock_guard<std::mutex> lock(mutex_);
    routeChoice_ = std::move(choice);
}

// A kept page's lines, and the routes' for as long as pages are kept.
bool Ledger::Kept(const Line& line) const {
    if (line.id != GATEWAY_EVENT_ID) return pages_.count(line.id) != 0;
    std::time_t time = 0;
    return ParseUtcTime(line.text.substr(0, 20), time) &&
           time >= Now() - static_cast<std::time_t>(limits_.days) * 86400;
}

void Ledger::Recover(const Spool& spool, const std::function<std::string(const Page&)>& routeOf) {
    std::set<std::string> waiting, failed;
    for (const std::string& name : spool.Waiting())
        if (!PageIdOf(name).empty()) waiting.insert(PageIdOf(name));
    for (const std::string& name : ListFiles(spool.FailedFolder()))
        if (!PageIdOf(name).empty()) failed.insert(PageIdOf(name));

    std::lock_guard<std::mutex> lock(mutex_);
    const std::time_t now = Now();
    const auto failedReason = [&spool](const std::string& id) {
        std::string reason, problem;
        ReadSmallFile(spool.FailedFolder() + "/" + PageFileName(id) + ".reason", 64 * 1024, reason, problem);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
        return reason.empty() ? std::string("in the failed folder at start") : reason;
    };
    const auto receivedFrom = [&](const std::string& id, const Page& page, const char* where) {
        LedgerEvent event = Event(now, id, "received");
        event.fields = {{"carrier", page.carrier->displayName}, {"phone", page.phoneNumber},
                        {"client", ""}, {"route", routeOf(page)}, {"message", page.message},
                        {"note", where}};
        Record(event, true);
    };
    for (const std::string& id : waiting) {
        const auto known = pages_.find(id);
        if (known == pages_.end()) {
            Page page;
            std::string problem;
            if (!spool.Load(PageFileName(id), page, problem)) continue;  // the relay fails it when it starts
            receivedFrom(id, page, "found in the spool at start");
        } else if (known->second.state != PageState::Queued) {
            LedgerEvent event = Event(now, id, "sent-again");
            event.fields = {{"by", "the spool at start"}};
            Record(event, true);
        }
    }
    // A page in failed/ keeps its row and its Send again, whatever the ledger lost.
    for (const std::string& id : failed) {
        const auto known = pages_.find(id);
        if (known != pages_.end() && known->second.state != PageState::Queued) {
            known->second.canSendAgain = true;
            continue;
        }
        if (known != pages_.end()) continue;  // settled below
        Page page;
        std::string problem, route;
        if (spool.Load("failed/" + PageFileName(id), page, problem)) {
            route = routeOf(page);
            receivedFrom(id, page, "found in the failed folder at start");
        } else {
            // Even a file that cannot be read keeps a row: the operator has to see what lies there.
            LedgerEvent event = Event(now, id, "received");
            event.fields = {{"note", "found in the failed folder at start, unreadable: " + problem}};
            Record(event, true);
        }
        LedgerEvent event = Event(now, id, "attempt");
        event.fields = {{"route", route}, {"outcome", "permanent"}, {"reply", failedReason(id)}};
        Record(event, true);
    }
    // What failed/ no longer holds cannot be sent again, and so need not be kept.
    for (auto& entry : pages_)
        if (entry.second.canSendAgain && failed.count(entry.first) == 0 && waiting.count(entry.first) == 0)
            entry.second.canSendAgain = false;
    std::vector<std::pair<std::string, std::string>> settled;  // id, route
    for (const auto& entry : pages_)
        if (entry.second.state == PageState::Queued && waiting.count(entry.first) == 0)
            settled.emplace_back(entry.first, entry.second.route);
    for (const auto& page : settled) {
        LedgerEvent event = Event(now, page.first, "attempt");
        if (failed.count(page.first) != 0) {
            event.fields = {{"route", page.second}, {"outcome", "permanent"}, {"reply", failedReason(page.first)}};
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
    if (delivery.parts > 1)  // one page, its parts as attempts
        event.fields.emplace_back("part", std::to_string(delivery.part) + "/" + std::to_string(delivery.parts));
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

void Ledger::Failed(const std::string& id, const std::string& reason, bool expired) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), id, expired ? "expired" : "failed");
    event.fields = {{"reason", reason}};
    Record(event, true);
}

void Ledger::Late(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto page = pages_.find(id);
    // Once per page, also when a restart finds it late again.
    if (page == pages_.end() || page->second.late) return;
    Record(Event(Now(), id, "late"), false);
}

void Ledger::RouteDown(const std::string& route, const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), GATEWAY_EVENT_ID, "route-down");
    event.fields = {{"route", route}, {"reason", reason}};
    Record(event, true);
}

void Ledger::RouteUp(const std::string& route) {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerEvent event = Event(Now(), GATEWAY_EVENT_ID, "route-up");
    event.fields = {{"route", route}};
    Record(event, true);
}

void Ledger::Noticed(const std::string& pageId, const std::string& event, const std::string& channel,
                     const std::string& outcome, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool dropped = outcome == "dropped";
    LedgerEvent line = Event(Now(), pageId.empty() ? GATEWAY_EVENT_ID : pageId, dropped ? "notice-dropped" : "notice");
    line.fields = {{"event", event}, {"channel", channel}};
    if (!dropped) line.fields.emplace_back("outcome", outcome);
    if (!detail.empty()) line.fields.emplace_back("detail", detail);
    Record(line, false);
}

void Ledger::Record(LedgerEvent event, bool flush) {
    // A page's event after the page was dropped from the ledger is dropped too.
    if (event.id != GATEWAY_EVENT_ID && event.kind != "received" && pages_.count(event.id) == 0) return;
    const std::string text = FormatLedgerLine(event);
    if (file_.IsOpen()) {
        std::string error;
        if (!file_.Append(text, flush, error)) {
            ++writeErrors_;
            lastWriteError_ = "cannot write " + NativePath(path_) + ": " + error;
        }
        KeepLine(event.id, text);
    }
    Apply(event, true);
    if (event.kind == "received") Trim();
    // Rewritten once the dropped pages' lines outweigh the kept ones, so the file stays within twice them.
    if (file_.IsOpen() && deadBytes_ * 2 > lineBytes_) {
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
    for (const EventRule& rule : EVENT_RULES)
        if (event.kind == rule.kind) return (this->*rule.apply)(event, live);
    return false;
}

LedgerPage* Ledger::PageOf(const LedgerEvent& event) {
    const auto found = pages_.find(event.id);
    if (found == pages_.end()) return nullptr;
    found->second.updated = event.time;
    return &found->second;
}

bool Ledger::ApplyReceived(const LedgerEvent& event, bool live) {
    if (event.id == GATEWAY_EVENT_ID) return false;
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

bool Ledger::ApplyAttempt(const LedgerEvent& event, bool live) {
    LedgerPage* found = PageOf(event);
    const int outcome = OutcomeIndex(event.Field("outcome"));
    if (found == nullptr || outcome < 0) return false;
    LedgerPage& page = *found;
    const std::string url = event.Field("route");
    // A part taken with more to come leaves the page waiting.
    const std::string part = event.Field("part");
    const size_t slash = part.find('/');
    const bool more = slash != std::string::npos && std::atol(part.c_str()) < std::atol(part.c_str() + slash + 1);
    page.reply = event.Field("reply");
    page.lastAttempt = event.time;
    ++page.attempts;
    if (outcome == ATTEMPT_DELIVERED && !more) page.state = PageState::Relayed;
    if (outcome == ATTEMPT_PERMANENT) page.state = PageState::Failed;
    page.canSendAgain = outcome == ATTEMPT_PERMANENT;
    if (!url.empty()) page.route = url;  // it may have left by a fallback
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
    route.retryAt = outcome == ATTEMPT_TEMPORARY ? page.nextAttempt : 0;
    if (live) {
        ++route.attempts[outcome];
        if (outcome == ATTEMPT_DELIVERED && !more) ++route.relayed;
        if (outcome == ATTEMPT_PERMANENT) ++route.failed;
    }
    return true;
}

bool Ledger::ApplySentAgain(const LedgerEvent& event, bool) {
    LedgerPage* page = PageOf(event);
    if (page == nullptr) return false;
    page->state = PageState::Queued;
    page->waitingSince = page->sentAgain = event.time;
    page->nextAttempt = 0;
    page->canSendAgain = page->expired = page->late = false;
    return true;
}

bool Ledger::ApplyReceipt(const LedgerEvent& event, bool) {
    LedgerPage* page = PageOf(event);
    if (page == nullptr) return false;
    const std::string state = event.Field("state");
    if (state == "delivered") page->state = PageState::Delivered;
    if (state == "read") page->state = PageState::Read;
    if (state == "failed") page->state = PageState::Failed;
    if (state == "failed") page->canSendAgain = false;  // the network took it; the spool has let it go
    if (!event.Field("text").empty()) page->reply = event.Field("text");
    return true;
}

// No route, or past its life: failed/ holds it, so it can be sent again.
bool Ledger::ApplyFailed(const LedgerEvent& event, bool live) {
    LedgerPage* page = PageOf(event);
    if (page == nullptr) return false;
    if (live && page->state == PageState::Received) --unroutedReceived_;  // counted as printed only when it came
    page->state = PageState::Failed;
    page->reply = event.Field("reason");
    page->expired = event.kind == "expired";
    page->canSendAgain = true;
    page->nextAttempt = 0;
    if (live && !page->route.empty()) ++RouteNamed(page->route).failed;
    return true;
}

bool Ledger::ApplyLate(const LedgerEvent& event, bool) {
    LedgerPage* page = PageOf(event);
    if (page == nullptr) return false;
    page->late = true;
    return true;
}

// A notice tells of a page (or a route) without changing where it stands, or when it last changed.
bool Ledger::ApplyNotice(const LedgerEvent& event, bool) {
    return event.id == GATEWAY_EVENT_ID || pages_.count(event.id) != 0;
}

// Only this run's routes are up or down: each start begins with them all up.
bool Ledger::ApplyRouteChange(const LedgerEvent& event, bool live) {
    if (event.id != GATEWAY_EVENT_ID || event.Field("route").empty()) return false;
    if (!live) return true;
    LedgerRoute& route = RouteNamed(event.Field("route"));
    route.down = event.kind == "route-down";
    route.since = event.time;
    route.downReason = route.down ? event.Field("reason") : std::string();
    return true;
}

void Ledger::Trim() {
    const std::time_t cutoff = AgeNow() - static_cast<std::time_t>(limits_.days) * 86400;
    const auto keptBytes = [this] { return lineBytes_ - deadBytes_; };
    // Oldest first. A page still waiting stays: the spool still holds it and the status page has to show it;
    // so does one failed/ holds, or it could never be sent again.
    for (auto it = pages_.begin();
         it != pages_.end() &&
         (pages_.size() > limits_.pages || keptBytes() > limits_.bytes || it->second.received < cutoff);) {
        if (it->second.state == PageState::Queued || it->second.canSendAgain) {
            ++it;
            continue;
        }
        const auto lines = linesOf_.find(it->first);
        if (lines != linesOf_.end()) {
            deadLines_ += lines->second.count;
            deadBytes_ += lines->second.bytes;
            linesOf_.erase(lines);
        }
        it = pages_.erase(it);
    }
}

void Ledger::DropDeadLines() {
    if (deadLines_ == 0) return;
    std::deque<Line> kept;
    size_t keptBytes = 0;  // counted anew: route lines leave by age, outside the pages' dead count
    for (Line& line : lines_)
        if (Kept(line)) {
            keptBytes += line.text.size();
            kept.push_back(std::move(line));
        }
    lines_.swap(kept);
    lineBytes_ = keptBytes;
    deadLines_ = deadBytes_ = 0;
}

bool Ledger::Compact(std::string& error) {
    DropDeadLines();
    if (path_.empty()) return true;
    // The ids it drops for good are counted past first.
    if (keepLastNumber_ && !keepLastNumber_(lastNumber_, error)) return false;
    // Written aside, a block at a time, flushed, and renamed over the old file, so a crash leaves one whole
    // file or the other.
    const std::string fresh = path_ + ".new";
    std::string ignored;
    RemoveFile(fresh, ignored);
    file_.Close();
    AppendFile out;
    bool written = out.Open(fresh, error);
    std::string block;
    for (const Line& line : lines_) {
        block += line.text;
        if (block.size() >= 256 * 1024) {
            written = written && out.Append(block, false, error);
            block.clear();
        }
    }
    written = written && out.Append(block, true, error);
    out.Close();
    written = written && RenameOver(fresh, path_, error);
    if (!written) {
        RemoveFile(fresh, ignored);
        error = "cannot rewrite " + NativePath(path_) + ": " + error;
    }
    std::string opening;
    if (!file_.Open(path_, opening) && written) {
        error = "cannot open " + NativePath(path_) + ": " + opening;
        return false;
    }
    return written;
}

// Where each of today's routes stands, and where its carriers' pages go now.
void Ledger::FillRoutes(LedgerView& view) const {
    for (const LedgerRoute& route : routes_)
        if (route.configured) view.routes.push_back(route);
    for (LedgerRoute& route : view.routes) {
        route.nextAttempt = 0;
        if (!routeChoice_) continue;
        const auto isDown = [this](const std::string& url) {
            for (const LedgerRoute& each : routes_)
                if (each.url == url) return each.down;
            return false;
        };
        for (const Carrier& carrier : CARRIER_TABLE) {
            // With every other route down, the choice is this one only for a carrier it serves.
            const auto allButThis = [&route](const std::string& url) { return url != route.url; };
            if (routeChoice_(carrier.displayName, allButThis) != route.url) continue;
            std::string now = routeChoice_(carrier.displayName, isDown);
            if (isDown(now)) now = "no route up";
            if (route.goesTo.find(now) == std::string::npos) route.goesTo += (route.goesTo.empty() ? "" : ", ") + now;
        }
    }
}

LedgerView Ledger::View(size_t latest) const {
    std::lock_guard<std::mutex> lock(mutex_);
    LedgerView view;
    view.now = Now();
    view.pageCount = pages_.size();
    view.unroutedReceived = unroutedReceived_;
    view.writeErrors = writeErrors_;
    view.lastWriteError = lastWriteError_;
    FillRoutes(view);
    const auto isDown = [&view](const std::string& url) {
        for (const LedgerRoute& route : view.routes)
            if (route.url == url) return route.down;
        return false;
    };
    // Each pager's waiting pages leave one after the other, in the order they came or were sent again.
    std::vector<const LedgerPage*> queued;
    for (const auto& entry : pages_)
        if (entry.second.state == PageState::Queued) queued.push_back(&entry.second);
    std::stable_sort(queued.begin(), queued.end(),
                     [](const LedgerPage* a, const LedgerPage* b) { return a->waitingSince < b->waitingSince; });
    std::map<std::string, std::string> first, behind;  // pager -> its first page; page -> that page
    for (const LedgerPage* page : queued) {
        std::string pager;
        if (!PagerIdOf(page->phone, pager)) pager = page->phone;
        const auto head = first.emplace(pager, page->id).first;
        if (head->second != page->id) behind[page->id] = head->second;
    }
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) {
        const LedgerPage& page = it->second;
        const bool queued = page.state == PageState::Queued;
        // A waiting page leaves by the route today's options give it, not the one it had when it came.
        std::string chosen;
        if (queued && routeChoice_) chosen = routeChoice_(page.carrier, isDown);
        const std::string& leavesBy = chosen.empty() ? page.route : chosen;
        if (view.latest.size() < latest) {
            view.latest.push_back(page);
            if (queued) {
                view.latest.back().route = leavesBy;
                const auto ahead = behind.find(page.id);
                if (ahead != behind.end()) view.latest.back().waitingBehind = ahead->second;
            }
        }
        if (page.state == PageState::Failed) {
            if (view.failed.size() < latest) view.failed.push_back(page);
            ++view.failedCount;
        }
        if (!queued) continue;
        for (LedgerRoute& route : view.routes)
            if (route.url == leavesBy) {
                ++route.waiting;
                if (route.oldestWaiting == 0 || page.waitingSince < route.oldestWaiting)
                    route.oldestWaiting = page.waitingSince;
                if (page.nextAttempt != 0 && (route.nextAttempt == 0 || page.nextAttempt < route.nextAttempt))
                    route.nextAttempt = page.nextAttempt;
            }
    }
    // A down route is tried again at its back-off, whether or not pages still wait for it.
    for (LedgerRoute& route : view.routes)
        if (route.down && route.retryAt != 0) route.nextAttempt = route.retryAt;
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
