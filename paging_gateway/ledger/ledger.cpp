// Each page's story, from the 200 to the network's last word: kept in memory for the status pages and in a
// file of one line per event that survives restarts and stays bounded.
#include "paging_gateway/ledger/ledger.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

const Ledger::EventKind Ledger::EVENT_KINDS[] = {
    {"received", &Ledger::ApplyReceived},
    {"attempt", &Ledger::ApplyAttempt},
    {"sent-again", &Ledger::ApplySentAgain},
    {"receipt", &Ledger::ApplyReceipt},
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
    for (const EventKind& kind : EVENT_KINDS) known = known || event.kind == kind.name;
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

void Ledger::Record(LedgerEvent event, bool flush) {
    if (event.kind != "received" && pages_.count(event.id) == 0) return;  // dropped from the ledger already
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
    for (const EventKind& kind : EVENT_KINDS) {
        if (event.kind != kind.name) continue;
        const bool arrival = event.kind == "received";
        const auto found = arrival ? pages_.end() : pages_.find(event.id);
        if (!arrival && found == pages_.end()) return false;
        LedgerPage& page = arrival ? pages_[event.id] : found->second;
        if (!arrival) page.updated = event.time;
        return (this->*kind.apply)(event, page, live);
    }
    return false;
}

bool Ledger::ApplyReceived(const LedgerEvent& event, LedgerPage& page, bool live) {
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

bool Ledger::ApplyAttempt(const LedgerEvent& event, LedgerPage& page, bool live) {
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
    return true;
}

bool Ledger::ApplySentAgain(const LedgerEvent& event, LedgerPage& page, bool) {
    page.state = PageState::Queued;
    page.waitingSince = event.time;
    page.nextAttempt = 0;
    page.canSendAgain = false;
    return true;
}

bool Ledger::ApplyReceipt(const LedgerEvent& event, LedgerPage& page, bool) {
    const std::string state = event.Field("state");
    if (state == "delivered") page.state = PageState::Delivered;
    if (state == "read") page.state = PageState::Read;
    if (state == "failed") page.state = PageState::Failed;
    if (state == "failed") page.canSendAgain = false;  // the network took it; the spool has let it go
    if (!event.Field("text").empty()) page.reply = event.Field("text");
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
    for (Line& line : lines_)
        if (pages_.count(line.id) != 0) kept.push_back(std::move(line));
    lines_.swap(kept);
    lineBytes_ -= deadBytes_;
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
