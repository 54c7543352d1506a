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
    PageState state = PageState::Received;
    bool canSendAgain = false;  // failed by the network's refusal, so failed/ holds it
    int attempts = 0;
};

// Indexes into LedgerRoute::attempts.
enum AttemptOutcome { ATTEMPT_DELIVERED, ATTEMPT_TEMPORARY, ATTEMPT_PERMANENT, ATTEMPT_OUTCOMES };
extern const char* const ATTEMPT_OUTCOME_NAMES[ATTEMPT_OUTCOMES];

struct LedgerRoute {
    std::string url;
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
};

class Ledger : public PageEvents {
public:
    using Clock = std::function<std::time_t()>;

    explicit Ledger(LedgerLimits limits = LedgerLimits(), Clock clock = nullptr);

    // Reads what an earlier run left in `path`, drops what is past the limits and rewrites the file whole;
    // false, with the reason, when the file cannot be read or written. Without Open the ledger lives in
    // memory only.
    bool Open(const std::string& path, std::string& error);

    // Shown on the status pages before any page went there.
    void AddRoute(const std::string& url);

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

    // Lines Open could not read (a line cut short by a crash), left out of the rewritten file.
    size_t DamagedLines() const;

private:
    struct Line {
        std::string id;
        std::string text;
    };

    std::time_t Now() const;
    // Writes the event (when there is a file) and applies it; `flush` puts it on disk before returning.
    void Record(LedgerEvent event, bool flush);
    // False for an event of a page the ledger does not have.
    bool Apply(const LedgerEvent& event, bool live);
    LedgerRoute& RouteNamed(const std::string& url);
    void Trim();
    bool Compact(std::string& error);
    void NoteId(const std::string& id);

    LedgerLimits limits_;
    Clock clock_;
    mutable std::mutex mutex_;
    // Ids are numbers of at least 12 digits that grow a digit past 999999999999: shorter sorts first.
    struct IdOrder {
        bool operator()(const std::string& a, const std::string& b) const {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        }
    };
    std::map<std::string, LedgerPage, IdOrder> pages_;  // arrival order
    std::map<std::string, size_t, IdOrder> linesOf_;    // the file's lines per kept page
    std::vector<LedgerRoute> routes_;
    std::deque<Line> lines_;  // the file's lines, in order
    size_t deadLines_ = 0;    // lines of pages no longer kept
    std::string path_;
    AppendFile file_;
    unsigned long long lastNumber_ = 0;
    unsigned long long unroutedReceived_ = 0;
    size_t damagedLines_ = 0;
    unsigned long long writeErrors_ = 0;
    std::string lastWriteError_;
};
