// Each page's story, from the 200 to the network's last word: kept in memory for the status pages and in a
// file of one line per event that survives restarts and stays bounded.
#pragma once

#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "paging_gateway/ledger/ledger_line.h"
#include "paging_gateway/platform/append_file.h"
#include "paging_gateway/relay/page_events.h"

class Spool;

// Received: taken without a relay (print-only), so nothing more happens to it.
enum class PageState { Received, Queued, Relayed, Delivered, Read, Failed };

// "received", "queued", "relayed", "delivered", "read", "failed".
const char* PageStateName(PageState state);

struct LedgerPage {
    std::string id;
    std::string carrier;
    std::string phone;
    std::string message;
    std::string client;
    std::string route;
    std::string reply;  // the network's last word, or why the page failed
    std::time_t received = 0;
    std::time_t updated = 0;
    std::time_t waitingSince = 0;  // received, or sent again
    std::time_t nextAttempt = 0;   // after a temporary failure; 0: none planned
    std::time_t sentAgain = 0;     // when it was last sent again; 0: never
    std::time_t lastAttempt = 0;
    PageState state = PageState::Received;
    bool canSendAgain = false;  // failed/ holds it: refused, expired or without a route
    bool expired = false;       // failed for being past its useful life
    bool late = false;          // waited longer than --late-after
    int attempts = 0;
    std::string waitingBehind;  // in the view: the id of its pager's page that goes first
};

// Indexes into LedgerRoute::attempts.
enum AttemptOutcome { ATTEMPT_DELIVERED, ATTEMPT_TEMPORARY, ATTEMPT_PERMANENT, ATTEMPT_OUTCOMES };
extern const char* const ATTEMPT_OUTCOME_NAMES[ATTEMPT_OUTCOMES];

struct LedgerRoute {
    std::string url;
    bool down = false;
    std::time_t since = 0;   // when it went down or came (back) up
    std::string downReason;  // the failure that made it down
    std::string goesTo;      // in the view: where its carriers' pages go now
    std::time_t retryAt = 0;  // when it is tried again after its last failure; 0: none planned
    bool configured = false;  // given by today's options; only these are shown
    long waiting = 0;
    std::time_t oldestWaiting = 0;  // when the longest-waiting page came (or was sent again)
    std::string lastReply;
    std::time_t lastAttempt = 0;
    std::time_t nextAttempt = 0;  // the earliest retry planned for its waiting pages; 0: none
    // Since this start, for the metrics.
    unsigned long long received = 0, relayed = 0, failed = 0;
    unsigned long long attempts[ATTEMPT_OUTCOMES] = {};
};

// What the status pages show, copied out under the ledger's lock.
struct LedgerView {
    std::time_t now = 0;
    size_t pageCount = 0;
    std::vector<LedgerPage> latest;  // newest first
    std::vector<LedgerPage> failed;  // newest first
    size_t failedCount = 0;
    std::vector<LedgerRoute> routes;
    unsigned long long unroutedReceived = 0;  // print-only pages since this start
    unsigned long long writeErrors = 0;
    std::string lastWriteError;
};

struct LedgerLimits {
    size_t pages = 10000;
    long days = 30;
    // What the kept pages' lines may add up to; the file stays within about twice this.
    size_t bytes = 24u * 1024 * 1024;
};

// The longest line a ledger reads back: far above the longest page's line (every byte quoted as \xNN).
constexpr size_t MAX_LEDGER_LINE_BYTES = 1024 * 1024;

class Ledger : public PageEvents {
public:
    using Clock = std::function<std::time_t()>;
    // The route a carrier's pages leave by now, given which routes are down (the relay's own rule).
    using RouteChoice = std::function<std::string(const std::string& carrier,
                                                  const std::function<bool(const std::string& url)>& isDown)>;

    // `clock` gives the time the pages are stamped with; `elapsed`, seconds of a clock that is never set (the
    // system's steady clock; with only `clock` given, `clock` itself), which is all the age limit trusts to
    // move on, so a clock set forward erases no story.
    explicit Ledger(LedgerLimits limits = LedgerLimits(), Clock clock = nullptr, Clock elapsed = nullptr);
    ~Ledger() override;

    // Reads what an earlier run left in `path` (LF or CR LF lines, of any size), drops what is past the
    // limits and rewrites the file whole. A line it cannot read is added to `path`.damaged, never dropped.
    // False, with the reason, only when the file cannot be read or written. Without Open the ledger lives in
    // memory only.
    bool Open(const std::string& path, std::string& error);

    // What Open found worth saying: damaged lines, a file far over its bounds.
    std::vector<std::string> Notes() const;

    // Called with the highest id number before any id leaves the file for good (and at the end), so what the
    // ledger forgets is still counted past; false, with the reason, holds the rewrite back.
    void KeepLastNumberWith(std::function<bool(unsigned long long, std::string&)> keep);

    // A route of today's options: shown on the status pages, up from now. Routes of earlier runs that the
    // file still names are not shown.
    void AddRoute(const std::string& url);

    // How the view finds the route a waiting page leaves by, and where a route's pages go.
    void SetRouteChoice(RouteChoice choice);

    // After a stop, the spool is the truth: a page waiting there that the ledger lacks is added, and a page
    // the ledger has waiting that left the spool is settled as the spool says (failed/ or relayed).
    // `routeOf` names the upstream a page goes to.
    void Recover(const Spool& spool, const std::function<std::string(const Page&)>& routeOf);

    // A fresh id, for pages that have no spool number (print-only).
    std::string NextId();

    // The highest number among the ids it has seen.
    unsigned long long LastNumber() const;

    void Received(const std::string& id, const Page& page, const std::string& client,
                  const std::string& route) override;
    void Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                   long retryMilliseconds) override;
    void SentAgain(const std::string& id, const std::string& who) override;
    void Receipt(const std::string& id, ReceiptState state, const std::string& text) override;
    void Failed(const std::string& id, const std::string& reason, bool expired) override;
    void Late(const std::string& id) override;
    void RouteDown(const std::string& route, const std::string& reason) override;
    void RouteUp(const std::string& route) override;

    // What became of one notice on one channel: `outcome` "delivered" or "temporary" gives a `notice` line,
    // "dropped" a `notice-dropped` one. A route's notice (`pageId` empty) goes in the file under the id "-".
    void Noticed(const std::string& pageId, const std::string& event, const std::string& channel,
                 const std::string& outcome, const std::string& detail);

    // The newest `latest` pages and up to as many failed ones, with every route.
    LedgerView View(size_t latest) const;

    // One page, false when the ledger does not have it.
    bool Find(const std::string& id, LedgerPage& page) const;

    // Lines in the file now (after compaction it holds only the kept pages' lines).
    size_t FileLines() const;

    // Lines Open could not read (a line cut short by a crash), moved to the .damaged file.
    size_t DamagedLines() const;

private:
    struct Line {
        std::string id;
        std::string text;
    };
    struct PageLines {
        size_t count = 0;
        size_t bytes = 0;
    };

    std::time_t Now() const;
    // The time the age limit counts from: the clock, but never ahead of what has really elapsed since Open.
    std::time_t AgeNow();
    // One line as read from the file (without its line end); false when it is not one.
    bool ReadLine(const std::string& line);
    void KeepLine(const std::string& id, std::string text);
    void DropDeadLines();
    void NoteDamaged(const std::string& bytes, bool lineEnds);
    // Writes the event (when there is a file) and applies it; `flush` puts it on disk before returning.
    void Record(LedgerEvent event, bool flush);
    // False for an event of a page the ledger does not have, or of a kind it does not know.
    bool Apply(const LedgerEvent& event, bool live);
    // One kind of event each; `live` is false while reading the file at start.
    using Rule = bool (Ledger::*)(const LedgerEvent& event, bool live);
    struct EventRule {
        const char* kind;
        Rule apply;
    };
    static const EventRule EVENT_RULES[];
    LedgerPage* PageOf(const LedgerEvent& event);
    bool ApplyReceived(const LedgerEvent& event, bool live);
    bool ApplyAttempt(const LedgerEvent& event, bool live);
    bool ApplySentAgain(const LedgerEvent& event, bool live);
    bool ApplyReceipt(const LedgerEvent& event, bool live);
    bool ApplyFailed(const LedgerEvent& event, bool live);
    bool ApplyLate(const LedgerEvent& event, bool live);
    bool ApplyRouteChange(const LedgerEvent& event, bool live);
    bool ApplyNotice(const LedgerEvent& event, bool live);
    // A line kept when the file is rewritten.
    bool Kept(const Line& line) const;
    void FillRoutes(LedgerView& view) const;
    LedgerRoute& RouteNamed(const std::string& url);
    void Trim();
    bool Compact(std::string& error);
    void NoteId(const std::string& id);

    LedgerLimits limits_;
    Clock clock_;
    Clock elapsed_;
    bool ageStarted_ = false;
    std::time_t ageNow_ = 0;
    std::time_t lastElapsed_ = 0;
    std::function<bool(unsigned long long, std::string&)> keepLastNumber_;
    mutable std::mutex mutex_;
    // Ids are numbers of at least 12 digits that grow a digit past 999999999999: shorter sorts first.
    struct IdOrder {
        bool operator()(const std::string& a, const std::string& b) const {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        }
    };
    std::map<std::string, LedgerPage, IdOrder> pages_;  // arrival order
    std::map<std::string, PageLines, IdOrder> linesOf_;  // the file's lines per kept page
    std::vector<LedgerRoute> routes_;
    RouteChoice routeChoice_;
    std::deque<Line> lines_;  // the file's lines, in order
    size_t lineBytes_ = 0;    // of all of lines_
    size_t deadLines_ = 0;    // lines of pages no longer kept
    size_t deadBytes_ = 0;
    std::string path_;
    AppendFile file_;
    unsigned long long lastNumber_ = 0;
    unsigned long long unroutedReceived_ = 0;
    size_t damagedLines_ = 0;
    AppendFile damaged_;
    std::vector<std::string> notes_;
    unsigned long long writeErrors_ = 0;
    std::string lastWriteError_;
};
