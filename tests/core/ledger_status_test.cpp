// The gateway's ledger (each page's story, on disk and bounded) and the status pages made from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/platform/append_file.h"
#include "paging_gateway/spool/spool.h"
#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/gateway_status.h"
#include "paging_gateway/status/render.h"
#include "paging_gateway/status/status_pages.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// settings_test.cpp's record of the calls that decide what a power cut leaves on the disk, which the ledger's
// flushes join.
extern std::vector<std::string>* g_diskCalls;
std::string PathOfDescriptor(int descriptor);

extern "C" int fdatasync(int descriptor) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    struct stat status {};
    if (g_diskCalls) {
        const bool file = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
        g_diskCalls->push_back("fsync " + PathOfDescriptor(descriptor) +
                               (file ? " " + std::to_string(status.st_size) + " bytes" : ""));
    }
    return real(descriptor);
}
#endif

namespace fs = std::filesystem;

namespace {

const char ROUTE[] = "snpp://127.0.0.1:444";

Page PageTo(const std::string& phone, const std::string& message) {
    Page page;
    page.carrier = CarrierByCode('S');
    page.phoneNumber = phone;
    page.message = message;
    return page;
}

class LedgerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("mervastx-ledger-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "-" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
        path = (folder / "ledger.txt").string();
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string FileText() {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::unique_ptr<Ledger> Opened(LedgerLimits limits = LedgerLimits()) {
        auto ledger = std::make_unique<Ledger>(limits, [this] { return now; }, [this] { return elapsed; });
        std::string error;
        EXPECT_TRUE(ledger->Open(path, error)) << error;
        return ledger;
    }

    LedgerPage Story(const Ledger& ledger, const std::string& id) {
        LedgerPage page;
        EXPECT_TRUE(ledger.Find(id, page)) << id;
        return page;
    }

    std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Time passing for real, as the clock shows it.
    void Pass(std::time_t seconds) {
        now += seconds;
        elapsed += seconds;
    }

    fs::path folder;
    std::string path;
    std::time_t now = 1796650056;  // 2026-12-07T13:27:36Z
    std::time_t elapsed = 1000;    // what a clock that is never set shows
};

std::string IdOf(int number) {
    char id[16];
    std::snprintf(id, sizeof id, "%012d", number);
    return id;
}

}  // namespace

TEST(LedgerLine, AnyTextComesBackAndDamageIsRefused) {
    std::time_t time = 0;
    ASSERT_TRUE(ParseUtcTime("2026-12-07T13:27:36Z", time));
    EXPECT_EQ(time, 1796650056);
    for (std::time_t each : {std::time_t(0), std::time_t(951782400) /* 2000-02-29 */, std::time_t(4102444799)})
        EXPECT_TRUE(ParseUtcTime(FormatUtcTime(each), time) && time == each) << FormatUtcTime(each);

    LedgerEvent event{time, "000000000042", "received", {}};
    for (const char* value : {"plain", "", "two words", "say \"hi\"\\", "line\r\nbreak\ttab", "caf\xE9 \x80 x=1",
                              "end\\"})
        event.fields.emplace_back("message", value);
    event.fields.emplace_back("route", ROUTE);
    const std::string line = FormatLedgerLine(event);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find(" route=snpp://127.0.0.1:444\n"), std::string::npos) << line;
    LedgerEvent back;
    ASSERT_TRUE(ParseLedgerLine(line.substr(0, line.size() - 1), back)) << line;
    EXPECT_EQ(back.fields, event.fields);
    EXPECT_EQ(back.id + back.kind, event.id + event.kind);

    for (const char* damaged : {"2026-12-07T13:27:36Z 1 received message=\"cut", "2026-12-07T13:27:36Z 1",
                                "2026-13-07T13:27:36Z 1 received", "2026-12-07T13:27:36Z x1 received",
                                "2026-12-07T13:27:36Z 1 received a=b c", "2026-12-07T13:27:36Z 1 received a=\"\\q\"",
                                "2026-12-07T13:27:36Z 1 received a=x\"y", "2026-12-07T13:27:36Z 1 received a=\"x\"y"})
        EXPECT_FALSE(ParseLedgerLine(damaged, back)) << damaged;
}

TEST_F(LedgerTest, KeepsEachPagesStoryAcrossRestarts) {
    {
        auto ledger = Opened();
        ledger->AddRoute(ROUTE);
        ledger->Received("000000000001", PageTo("555 1234", "first"), "127.0.0.1", ROUTE);
        ledger->Received("000000000002", PageTo("555 9999", "second"), "127.0.0.2", ROUTE);
        ledger->Attempted("000000000001", ROUTE, {Outcome::Temporary, "Connection refused"}, 4000);
        ledger->Attempted("000000000002", ROUTE, {Outcome::Temporary, "Connection refused"}, 2500);
        Pass(2);
        const LedgerView view = ledger->View(200);
        ASSERT_EQ(view.routes.size(), 1u);
        EXPECT_EQ(view.routes[0].waiting, 2);
        EXPECT_EQ(view.now - view.routes[0].oldestWaiting, 2);
        EXPECT_EQ(view.routes[0].nextAttempt - view.now, 1);  // 2.5 s after the last attempt, rounded up
        Pass(10);
        ledger->Attempted("000000000001", ROUTE, {Outcome::Delivered, "250 Message Sent"}, 0);
        ledger->Attempted("000000000002", ROUTE, {Outcome::Permanent, "550 no such pager"}, 0);
        ledger->Receipt("000000000001", ReceiptState::Read, "read by the pager");
        ledger->Attempted("000000000099", ROUTE, {Outcome::Delivered, "250"}, 0);  // unknown: dropped
    }
    // A crash in the middle of a line leaves part of it; the rest still counts.
    std::ofstream(path, std::ios::binary | std::ios::app) << "2026-12-07T13:28:00Z 000000000002 sent-again by=";

    auto ledger = Opened();
    ledger->AddRoute(ROUTE);  // as each start does with today's routes
    EXPECT_EQ(ledger->DamagedLines(), 1u);
    EXPECT_EQ(ledger->FileLines(), 7u);
    EXPECT_EQ(FileText().find("000000000099"), std::string::npos);
    const LedgerPage first = Story(*ledger, "000000000001"), second = Story(*ledger, "000000000002");
    EXPECT_EQ(first.state, PageState::Read);
    EXPECT_EQ(first.reply, "read by the pager");
    EXPECT_EQ(first.attempts, 2);
    EXPECT_EQ(first.client + first.phone + first.message, "127.0.0.1555 1234first");
    EXPECT_EQ(second.state, PageState::Failed);
    EXPECT_TRUE(second.canSendAgain);
    EXPECT_EQ(second.reply, "550 no such pager");

    ledger->SentAgain("000000000002", "status page from 127.0.0.1");
    EXPECT_EQ(Story(*ledger, "000000000002").state, PageState::Queued);
    EXPECT_EQ(ledger->View(200).routes[0].waiting, 1);
    // Counters start again with each start; what came before is history, not this run's work.
    EXPECT_EQ(ledger->View(200).routes[0].relayed, 0u);
    EXPECT_EQ(ledger->NextId(), "000000000003");
}

TEST_F(LedgerTest, StaysWithinItsLimitsButKeepsWaitingPages) {
    auto ledger = Opened({5, 30});
    ledger->Received("000000000001", PageTo("1", "still waiting"), "127.0.0.1", ROUTE);
    for (int i = 2; i <= 400; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%012d", i);
        ledger->Received(id, PageTo("1", "x"), "127.0.0.1", ROUTE);
        ledger->Attempted(id, ROUTE, {Outcome::Delivered, "250"}, 0);
        ASSERT_LE(ledger->FileLines(), 2 * 6 * 2 + 2u) << i;
    }
    EXPECT_EQ(ledger->View(200).pageCount, 5u);
    EXPECT_EQ(Story(*ledger, "000000000001").state, PageState::Queued);
    EXPECT_EQ(ledger->View(200).latest.front().id, "000000000400");

    Pass(31 * 86400);  // older than 30 days: gone with the next page, waiting ones excepted
    ledger->Received("000000000401", PageTo("1", "new"), "127.0.0.1", ROUTE);
    EXPECT_EQ(ledger->View(200).pageCount, 2u);
    ledger.reset();
    ledger = Opened({5, 30});
    EXPECT_EQ(ledger->View(200).pageCount, 2u);

    // Past 999999999999 an id grows a digit and is still the newest.
    for (const char* id : {"999999999999", "1000000000000"}) {
        ledger->Received(id, PageTo("1", "x"), "127.0.0.1", ROUTE);
        ledger->Attempted(id, ROUTE, {Outcome::Delivered, "250"}, 0);
    }
    EXPECT_EQ(ledger->View(200).latest.front().id, "1000000000000");
}

TEST_F(LedgerTest, TheSpoolSettlesWhatTheLedgerMissed) {
    Spool spool;
    std::string error, name;
    ASSERT_TRUE(spool.Open((folder / "spool").string(), error)) << error;
    auto ledger = Opened();
    // Waiting in the ledger; then, while "stopped", one relayed and one refused.
    for (const char* phone : {"1", "2"}) {
        ASSERT_TRUE(spool.Put(PageTo(phone, "x"), name, error)) << error;
        ledger->Received(name.substr(0, 12), PageTo(phone, "x"), "127.0.0.1", ROUTE);
    }
    ASSERT_TRUE(spool.Remove("000000000001.page", error)) << error;
    ASSERT_TRUE(spool.MoveToFailed("000000000002.page", "550 refused", error)) << error;
    // And one the ledger never heard of.
    ASSERT_TRUE(spool.Put(PageTo("3", "unseen"), name, error)) << error;
    // And one the ledger has as failed that is waiting again: sent again just before the stop.
    ASSERT_TRUE(spool.Put(PageTo("4", "again"), name, error)) << error;
    ledger->Received("000000000004", PageTo("4", "again"), "127.0.0.1", ROUTE);
    ledger->Attempted("000000000004", ROUTE, {Outcome::Permanent, "550 refused"}, 0);

    ledger->Recover(spool, [](const Page&) { return std::string(ROUTE); });
    EXPECT_EQ(Story(*ledger, "000000000001").state, PageState::Relayed);
    EXPECT_EQ(Story(*ledger, "000000000002").state, PageState::Failed);
    EXPECT_EQ(Story(*ledger, "000000000002").reply, "550 refused");
    const LedgerPage unseen = Story(*ledger, "000000000003");
    EXPECT_EQ(unseen.state, PageState::Queued);
    EXPECT_EQ(unseen.message, "unseen");
    EXPECT_EQ(Story(*ledger, "000000000004").state, PageState::Queued);
    EXPECT_NE(FileText().find(" 000000000004 sent-again by=\"the spool at start\"\n"), std::string::npos) << FileText();
    ledger.reset();  // one ledger to a file at a time, as in a gateway
    ledger = Opened();
    EXPECT_EQ(Story(*ledger, "000000000004").state, PageState::Queued);
    EXPECT_FALSE(Story(*ledger, "000000000004").canSendAgain);
}

TEST_F(LedgerTest, StatusPagesAnswerOnlyTheOperator) {
    auto ledger = Opened();
    ledger->AddRoute(ROUTE);
    ledger->Received("000000000001", PageTo("555<b>", "<script>alert(1)</script> caf\xE9 \x80"), "127.0.0.1", ROUTE);
    ledger->Attempted("000000000001", ROUTE, {Outcome::Permanent, "550 \"no\" & <gone>"}, 0);
    ledger->Received("000000000002", PageTo("1", "copy to C:\\dir\\new failed"), "127.0.0.1", ROUTE);
    // Past the 40 characters the status page shows of a message: the shortened start is escaped too.
    ledger->Received("000000000003", PageTo("1", "disk full on the file server, see <img src=x onerror=alert(1)>"),
                     "127.0.0.1", ROUTE);
    std::vector<std::string> sentAgain;
    StatusSettings settings;
    settings.listenAddress = "0.0.0.0";
    settings.port = 8080;
    ASSERT_TRUE(ParseAddressRange("192.168.1.0/24", settings.allowed.emplace_back()));
    StatusPages pages(*ledger, settings, [&](const std::string& id, const std::string& who, std::string&) {
        sentAgain.push_back(id + " by " + who);
        return true;
    });
    ASSERT_EQ(pages.Token().size(), 32u);

    const std::string form = "token=" + pages.Token() + "&id=000000000001";
    const struct {
        const char* method;
        std::string target;
        const char* client;
        const char* host;  // null: none sent
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/status", "127.0.0.1", "localhost:8080", "", 200},
        {"GET", "/status.json", "192.168.1.77", "192.168.1.5:8080", "", 200},  // any address when it listens on all
        {"GET", "/metrics", "127.0.0.1", nullptr, "", 200},
        {"GET", "/status", "192.168.2.1", "localhost:8080", "", 403},
        {"GET", "/status.json", "127.0.0.1", "rebound.example:8080", "", 403},
        {"GET", "/status", "127.0.0.1", "localhost", "", 403},  // not this port
        {"GET", "/status", "127.0.0.1", "localhost:8081", "", 403},
        {"GET", "/status.json", "127.0.0.1", "127.0.0.1:80", "", 403},
        {"GET", "/status", "127.1.2.3", "localhost:8080", "", 200},  // all of 127/8 is loopback
        {"GET", "/metrics", "127.255.255.254", nullptr, "", 200},
        {"POST", "/status", "127.0.0.1", "localhost:8080", "", 405},
        {"GET", "/status/send-again?" + form, "127.0.0.1", nullptr, "", 405},  // no GET changes anything
        {"POST", "/status/send-again", "127.0.0.1", nullptr, "id=000000000001", 403},
        {"POST", "/status/send-again", "127.0.0.1", nullptr, "token=" + std::string(32, '0') + "&id=000000000001", 403},
        {"POST", "/status/send-again", "127.0.0.1", nullptr, "token=" + pages.Token() + "&id=000000000007", 404},
        {"GET", "/status/other", "127.0.0.1", nullptr, "", 404},
        {"POST", "/status/send-again", "127.0.0.1", "127.0.0.1:8080", form, 303},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(std::string(each.method) + " " + each.target + " from " + each.client);
        HttpRequest request{each.method, each.target, each.body, {}};
        if (each.host != nullptr) request.headers.emplace_back("host", each.host);
        std::string response;
        ASSERT_TRUE(pages.Handle(request, each.client, response));
        EXPECT_EQ(response.compare(0, 12, "HTTP/1.0 " + std::to_string(each.status)), 0) << response.substr(0, 200);
        EXPECT_NE(response.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
        EXPECT_NE(response.find("\r\nContent-Security-Policy: default-src 'none';"), std::string::npos);
    }
    ASSERT_EQ(sentAgain, std::vector<std::string>{"000000000001 by status page from 127.0.0.1"});

    // Carriers' forms are never status pages, and status paths never reach the forms.
    std::string response;
    EXPECT_FALSE(pages.Handle({"GET", "/stage2.shtml?min=1&msg=status", "", {}}, "127.0.0.1", response));
    EXPECT_TRUE(pages.Handle({"GET", "/status?min=1&msg=x", "", {}}, "127.0.0.1", response));

    const LedgerView view = ledger->View(200);
    const std::string html = RenderStatusHtml(view, pages.Token(), true);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; caf\xE9 \x80"), std::string::npos);
    EXPECT_NE(html.find("550 &quot;no&quot; &amp; &lt;gone&gt;"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_NE(html.find(">disk full on the file server, see &lt;img s&hellip;</td>"), std::string::npos);
    EXPECT_NE(RenderStatusJson(view).find("\"message\": \"copy to C:\\\\dir\\\\new failed\""), std::string::npos)
        << RenderStatusJson(view);
    EXPECT_NE(html.find("name=\"token\" value=\"" + pages.Token() + "\""), std::string::npos);
    EXPECT_NE(RenderStatusJson(view).find("\"message\": \"<script>alert(1)</script> caf\\u00e9 \\u20ac\""),
              std::string::npos);
    EXPECT_NE(RenderStatusJson(view).find("\"reply\": \"550 \\\"no\\\" & <gone>\"}"), std::string::npos);
    // Bytes windows-1252 leaves unassigned have no character to stand for.
    EXPECT_EQ(JsonEscaped("\x81\x8D\x9F\x7F\xA0"), "\\ufffd\\ufffd\\u0178\\u007f\\u00a0");
    const std::string metrics = RenderMetrics(view);
    EXPECT_NE(metrics.find("\npaging_gateway_attempts_total{route=\"snpp://127.0.0.1:444\",outcome=\"permanent\"} 1\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("# TYPE paging_gateway_pages_waiting gauge\n"), std::string::npos);
}

TEST_F(LedgerTest, RoutesAndWaitingPagesAreShownAsTodaysOptionsRouteThem) {
    const std::string old = "snpp://127.0.0.9:444", fallback = "wctp+http://127.0.0.1:80/wctp";
    {
        auto ledger = Opened();
        ledger->AddRoute(old);
        ledger->Received("000000000001", PageTo("5551234", "waits"), "127.0.0.1", old);
        ledger->Attempted("000000000001", old, {Outcome::Temporary, "Connection refused"}, 2000);
    }
    // Started again with other routes: the old one is history, and the waiting page leaves by today's.
    auto ledger = Opened();
    ledger->AddRoute(ROUTE);
    ledger->AddRoute(fallback);
    ledger->SetRouteChoice([&](const std::string&, const std::function<bool(const std::string&)>& isDown) {
        return !isDown(ROUTE) ? std::string(ROUTE) : fallback;
    });
    LedgerView view = ledger->View(200);
    ASSERT_EQ(view.routes.size(), 2u);
    EXPECT_EQ(view.routes[0].url, ROUTE);
    EXPECT_EQ(view.latest[0].route, ROUTE);
    EXPECT_EQ(view.routes[0].waiting, 1);

    now += 60;
    ledger->RouteDown(ROUTE, "Connection refused");
    ledger->Attempted("000000000001", ROUTE, {Outcome::Temporary, "Connection refused"}, 30000);
    view = ledger->View(200);
    EXPECT_TRUE(view.routes[0].down);
    EXPECT_EQ(view.routes[0].since, now);
    EXPECT_EQ(view.routes[0].goesTo, fallback);
    EXPECT_EQ(view.routes[0].nextAttempt, now + 30);  // a down route is still tried at its back-off
    EXPECT_EQ(view.latest[0].route, fallback);
    EXPECT_EQ(view.routes[1].waiting, 1);
    const std::string json = RenderStatusJson(view);
    EXPECT_NE(json.find("{\"url\": \"" + std::string(ROUTE) + "\", \"state\": \"down\", \"since\": \"2026-12-07T13:28:36Z\""),
              std::string::npos)
        << json;
    EXPECT_NE(RenderMetrics(view).find("paging_gateway_route_up{route=\"" + std::string(ROUTE) + "\"} 0\n"),
              std::string::npos);
    const std::string html = RenderStatusHtml(view, "t", true);
    EXPECT_NE(html.find("down since "), std::string::npos);
    EXPECT_NE(html.find(": Connection refused</td>"), std::string::npos);

    // The route's lines outlive a restart, which begins with every route up.
    ledger->RouteUp(ROUTE);
    ledger.reset();
    EXPECT_NE(FileText().find("Z - route-down route=snpp://127.0.0.1:444 reason=\"Connection refused\"\n"),
              std::string::npos)
        << FileText();
    ledger = Opened();
    ledger->AddRoute(ROUTE);
    EXPECT_FALSE(ledger->View(200).routes[0].down);
    EXPECT_NE(FileText().find(" - route-up route=snpp://127.0.0.1:444\n"), std::string::npos) << FileText();
}

// Sets the time zone for this process; "" for the machine's own.
static void UseZone(const std::string& zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone.c_str());
    _tzset();
#else
    if (zone.empty())
        unsetenv("TZ");
    else
        setenv("TZ", zone.c_str(), 1);
    tzset();
#endif
}

TEST_F(LedgerTest, AWaitingPageSaysWhatItWaitsForInTheMachinesOwnTime) {
    // Two hours east of UTC, whatever this machine's zone.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone != nullptr ? zone : "";
    UseZone("XST-2");
    auto ledger = Opened();
    ledger->AddRoute(ROUTE);
    ledger->Received("000000000003", PageTo("555 1234", "first"), "127.0.0.1", ROUTE);
    ledger->Received("000000000004", PageTo("5551234", "second, same pager"), "127.0.0.1", ROUTE);
    ledger->Received("000000000005", PageTo("5559999", "refused"), "127.0.0.1", ROUTE);
    ledger->Attempted("000000000005", ROUTE, {Outcome::Permanent, "550 Pager ID not found"}, 0);
    now += 60;
    ledger->SentAgain("000000000005", "status page from 127.0.0.1");
    ledger->Late("000000000003");
    ledger->Late("000000000003");  // told again after a restart: still one line
    ledger->Failed("000000000006", "no route", false);  // not in the ledger: nothing

    const LedgerView view = ledger->View(200);
    const std::string html = RenderStatusHtml(view, "t", true);
    EXPECT_NE(html.find("<td class=\"text reply\">sent again at 15:28:36, waiting</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<td class=\"text reply\">waiting behind 000000000003</td>"), std::string::npos);
    EXPECT_NE(html.find(">queued, late</td>"), std::string::npos);
    EXPECT_NE(html.find("15:28:36 (this machine's time, UTC+02:00)"), std::string::npos);
    // Scripts read UTC.
    const std::string json = RenderStatusJson(view);
    EXPECT_NE(json.find("\"sent_again\": \"2026-12-07T13:28:36Z\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"late\": true"), std::string::npos);
    EXPECT_NE(json.find("\"waiting_behind\": \"000000000003\""), std::string::npos);
    const std::string file = FileText(), line = " 000000000003 late\n";
    EXPECT_NE(file.find(line), std::string::npos) << file;
    EXPECT_EQ(file.find(line), file.rfind(line)) << file;

    // A page sent again gets a new life and is no longer late or expired.
    ledger->Failed("000000000004", "expired: not taken within 60 min (last reply: none)", true);
    EXPECT_TRUE(Story(*ledger, "000000000004").expired);
    EXPECT_TRUE(Story(*ledger, "000000000004").canSendAgain);
    ledger->SentAgain("000000000004", "status page from 127.0.0.1");
    EXPECT_FALSE(Story(*ledger, "000000000004").expired);
    UseZone(saved);
}

TEST_F(LedgerTest, APageSentAgainBeginsANewLifeInTheSpool) {
    const auto wall = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    Spool spool;
    std::string error, name;
    ASSERT_TRUE(spool.Open((folder / "spool").string(), error)) << error;
    const long long before = wall();
    ASSERT_TRUE(spool.Put(PageTo("5551234", "x"), name, error)) << error;
    const long long came = spool.LifeBegan(name);
    // The file system's clock may lag the wall clock by a tick.
    EXPECT_GE(came, before - 50);
    EXPECT_LE(came, wall() + 50);
    ASSERT_TRUE(spool.MoveToFailed(name, "550 refused", error)) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long long again = wall();
    ASSERT_TRUE(spool.Restore(name, error)) << error;
    EXPECT_GE(spool.LifeBegan(name), again - 50);
    EXPECT_GT(spool.LifeBegan(name), came + 250);
}

TEST_F(LedgerTest, AgeIsCountedInDaysOfRealTimeNotFromAClockSetForward) {
    auto ledger = Opened({100, 30});
    ledger->Received(IdOf(1), PageTo("1", "first"), "127.0.0.1", ROUTE);
    ledger->Attempted(IdOf(1), ROUTE, {Outcome::Delivered, "250"}, 0);
    Pass(29 * 86400);
    ledger->Received(IdOf(2), PageTo("1", "29 days later"), "127.0.0.1", ROUTE);
    ledger->Attempted(IdOf(2), ROUTE, {Outcome::Delivered, "250"}, 0);
    EXPECT_EQ(ledger->View(200).pageCount, 2u) << "29 days are within 30 days";

    // The clock jumps a year ahead (a wrong clock put right): a page stamped then erases no earlier story.
    now += 365 * 86400;
    ledger->Received(IdOf(3), PageTo("1", "after the jump"), "127.0.0.1", ROUTE);
    ledger->Attempted(IdOf(3), ROUTE, {Outcome::Delivered, "250"}, 0);
    EXPECT_EQ(ledger->View(200).pageCount, 3u);

    // Two real days on, the first page is 31 days old and goes; the others stay.
    Pass(2 * 86400);
    ledger->Received(IdOf(4), PageTo("1", "later"), "127.0.0.1", ROUTE);
    LedgerPage page;
    EXPECT_FALSE(ledger->Find(IdOf(1), page));
    EXPECT_EQ(ledger->View(200).pageCount, 3u);
}

TEST_F(LedgerTest, BoundedInBytesButNeverDropsAWaitingOrFailedPage) {
    // The largest page there is, every byte one the file quotes as \xNN.
    const std::string largest(MAX_PAGE_TEXT_BYTES, '\xFF');
    const LedgerLimits limits{10000, 30, 64 * 1024};
    auto ledger = Opened(limits);
    ledger->Received(IdOf(1), PageTo("1", largest), "127.0.0.1", ROUTE);
    ledger->Received(IdOf(2), PageTo("2", largest), "127.0.0.1", ROUTE);
    ledger->Attempted(IdOf(2), ROUTE, {Outcome::Permanent, "550 no such pager"}, 0);
    for (int i = 3; i <= 300; ++i) {
        ledger->Received(IdOf(i), PageTo("3", largest), "127.0.0.1", ROUTE);
        ledger->Attempted(IdOf(i), ROUTE, {Outcome::Delivered, "250"}, 0);
        ASSERT_LE(fs::file_size(path), 2 * limits.bytes + 8 * 1024) << i;
    }
    const size_t kept = ledger->View(200).pageCount;
    EXPECT_LT(kept, 30u);
    EXPECT_GT(kept, 5u);
    EXPECT_EQ(Story(*ledger, IdOf(1)).state, PageState::Queued);
    EXPECT_TRUE(Story(*ledger, IdOf(2)).canSendAgain);
    EXPECT_EQ(ledger->View(200).latest.front().id, IdOf(300));

    // By count as well: three good pages after a failed one leave it its row and its Send again.
    ledger.reset();
    ledger = Opened({3, 30});
    for (int i = 301; i <= 303; ++i) {
        ledger->Received(IdOf(i), PageTo("3", "good"), "127.0.0.1", ROUTE);
        ledger->Attempted(IdOf(i), ROUTE, {Outcome::Delivered, "250"}, 0);
    }
    ledger.reset();
    ledger = Opened({3, 30});
    EXPECT_TRUE(Story(*ledger, IdOf(2)).canSendAgain);
    EXPECT_EQ(Story(*ledger, IdOf(1)).state, PageState::Queued);
}

TEST_F(LedgerTest, AFileFarOverItsBoundsIsTrimmedAtStartAndSaysSo) {
    {
        std::ofstream out(path, std::ios::binary);
        LedgerEvent event{now, "", "received", {{"route", ROUTE}, {"message", std::string(900, '\xFF')}}};
        for (int i = 1; i <= 2000; ++i) {
            event.id = IdOf(i);
            event.kind = "received";
            out << FormatLedgerLine(event);
            out << FormatLedgerLine({now, IdOf(i), "attempt", {{"route", ROUTE}, {"outcome", "delivered"}}});
        }
    }
    ASSERT_GT(FileText().size(), 7u * 1024 * 1024);
    auto ledger = Opened({10000, 30, 1024 * 1024});
    EXPECT_LE(FileText().size(), 1024u * 1024);
    EXPECT_EQ(ledger->View(200).latest.front().id, IdOf(2000));
    ASSERT_EQ(ledger->Notes().size(), 1u);
    EXPECT_NE(ledger->Notes()[0].find(" held 7 MB, more than the ledger lets it grow to (2 MB): kept its newest "),
              std::string::npos)
        << ledger->Notes()[0];
}

TEST_F(LedgerTest, AHandEditedLedgerLosesNothing) {
    // Written back by an editor with CR LF; one line mangled; a crash cut the last line inside a bare value,
    // where it still reads as an event ("reply=550 ..." cut to "reply=55").
    const std::string cut = "2026-12-07T13:27:40Z 000000000001 attempt route=" + std::string(ROUTE) +
                            " outcome=permanent reply=55";
    std::ofstream(path, std::ios::binary)
        << "2026-12-07T13:27:36Z 000000000001 received carrier=Sprint phone=5551234 route=" << ROUTE
        << " message=first\r\n"
        << "2026-12-07T13:27:37Z 000000000001 attempt route=" << ROUTE << " outcome=delivered reply=250\r\n"
        << "2026-12-07T13:27:38Z 000000000002 received carrier=Sprint phone=5559999 route=" << ROUTE
        << " message=second\r\n"
        << "this line was mangled by hand\r\n"
        << "2026-12-07T13:27:39Z 000000000002 attempt route=" << ROUTE << " outcome=permanent reply=550\r\n"
        << cut;
    std::ofstream(path + ".damaged", std::ios::binary) << "from an earlier start\n";
    // And a page in failed/ the ledger has no line of.
    Spool spool;
    std::string error, name;
    ASSERT_TRUE(spool.Open((folder / "spool").string(), error)) << error;
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(spool.Put(PageTo("3", "third"), name, error)) << error;
    ASSERT_TRUE(spool.Remove(IdOf(1) + ".page", error)) << error;
    ASSERT_TRUE(spool.MoveToFailed(IdOf(2) + ".page", "550 no such pager", error)) << error;
    ASSERT_TRUE(spool.MoveToFailed(IdOf(3) + ".page", "554 refused", error)) << error;
    std::ofstream((folder / "spool" / "failed" / (IdOf(4) + ".page")).string()) << "paging_gateway spool 1\ncarr";
    std::ofstream((folder / "spool" / "failed" / (IdOf(4) + ".page.reason")).string()) << "unreadable spool file\n";

    auto ledger = Opened();
    ledger->Recover(spool, [](const Page&) { return std::string(ROUTE); });
    EXPECT_EQ(Story(*ledger, IdOf(1)).state, PageState::Relayed);
    EXPECT_EQ(Story(*ledger, IdOf(1)).reply, "250");
    EXPECT_TRUE(Story(*ledger, IdOf(2)).canSendAgain);
    const LedgerPage third = Story(*ledger, IdOf(3));
    EXPECT_EQ(third.state, PageState::Failed);
    EXPECT_TRUE(third.canSendAgain);
    EXPECT_EQ(third.reply, "554 refused");
    EXPECT_EQ(third.message, "third");
    EXPECT_EQ(Story(*ledger, IdOf(4)).state, PageState::Failed);
    EXPECT_EQ(Story(*ledger, IdOf(4)).reply, "unreadable spool file");
    EXPECT_EQ(ledger->DamagedLines(), 2u);
    ASSERT_EQ(ledger->Notes().size(), 1u);
    EXPECT_EQ(ledger->Notes()[0], "2 lines of " + path + " could not be read: added to " + path + ".damaged");
    EXPECT_EQ(Read(path + ".damaged"), "from an earlier start\nthis line was mangled by hand\n" + cut + "\n");
    EXPECT_EQ(FileText().find('\r'), std::string::npos);

    ledger.reset();
    std::ofstream(path, std::ios::binary | std::ios::app) << "2026-12-07T13:28:00Z 000000000042 attempt route=\n";
    ledger = Opened();
    EXPECT_EQ(ledger->DamagedLines(), 1u);
    EXPECT_EQ(ledger->LastNumber(), 42u) << "a damaged line's id is never given again";
    EXPECT_TRUE(Story(*ledger, IdOf(3)).canSendAgain);
}

TEST_F(LedgerTest, APageSentAgainGoesBehindAndNoIdIsGivenTwice) {
    const std::string where = (folder / "spool").string();
    std::string error, name;
    GatewayOptions options;
    {
        Spool spool;
        ASSERT_TRUE(spool.Open(where, error)) << error;
        GatewayStatus status(options);
        ASSERT_TRUE(status.Open(spool, error)) << error;
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(spool.Put(PageTo("1", "page " + std::to_string(i)), name, error)) << error;
            status.Events()->Received(PageIdOf(name), PageTo("1", "x"), "127.0.0.1", ROUTE);
        }
        ASSERT_TRUE(spool.MoveToFailed(IdOf(1) + ".page", "550", error)) << error;
        ASSERT_TRUE(spool.MoveToFailed(IdOf(2) + ".page", "550", error)) << error;
        ASSERT_TRUE(spool.Put(PageTo("1", "page 4"), name, error)) << error;
        ASSERT_TRUE(spool.Restore(IdOf(2) + ".page", error)) << error;
        ASSERT_TRUE(spool.Restore(IdOf(1) + ".page", error)) << error;
        ASSERT_TRUE(spool.Put(PageTo("1", "page 5"), name, error)) << error;
        EXPECT_EQ(name, IdOf(5) + ".page") << "a page sent again takes no id";
        const std::vector<std::string> order = {IdOf(3) + ".page", IdOf(4) + ".page", IdOf(2) + ".page",
                                                IdOf(1) + ".page", IdOf(5) + ".page"};
        EXPECT_EQ(spool.Waiting(), order);
        for (const std::string& each : order) ASSERT_TRUE(spool.Remove(each, error)) << error;
    }
    // Nothing waits, and the ledger is lost: the ids given are still never given again.
    fs::remove(where + "/ledger.txt");
    {
        Spool spool;
        ASSERT_TRUE(spool.Open(where, error)) << error;
        GatewayStatus status(options);
        ASSERT_TRUE(status.Open(spool, error)) << error;
        ASSERT_TRUE(spool.Put(PageTo("1", "page 6"), name, error)) << error;
        EXPECT_EQ(name, IdOf(6) + ".page");
        // And across a restart the order holds.
        ASSERT_TRUE(spool.MoveToFailed(name, "550", error)) << error;
        ASSERT_TRUE(spool.Put(PageTo("1", "page 7"), name, error)) << error;
        ASSERT_TRUE(spool.Restore(IdOf(6) + ".page", error)) << error;
        ASSERT_TRUE(spool.Put(PageTo("1", "page 8"), name, error)) << error;
    }
    Spool spool;
    ASSERT_TRUE(spool.Open(where, error)) << error;
    EXPECT_EQ(spool.Waiting(), (std::vector<std::string>{IdOf(7) + ".page", IdOf(6) + ".page", IdOf(8) + ".page"}));
    EXPECT_FALSE(fs::exists(where + "/" + IdOf(1) + ".page.again"));
}

#ifndef _WIN32
TEST_F(LedgerTest, TheRewrittenLedgerIsOnDiskBeforeItTakesTheName) {
    {
        auto ledger = Opened();
        ledger->Received(IdOf(1), PageTo("1", "x"), "127.0.0.1", ROUTE);
    }
    std::vector<std::string> calls;
    g_diskCalls = &calls;
    auto ledger = Opened();  // rewrites the file at start
    g_diskCalls = nullptr;
    const std::string real = fs::canonical(folder).string();
    const auto at = [&calls](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    const long synced = at("fsync " + real + "/ledger.txt.new " + std::to_string(FileText().size()) + " bytes"),
               renamed = at("rename " + path + ".new " + path);
    EXPECT_LT(synced, renamed);
    ASSERT_LT(renamed, static_cast<long>(calls.size()));
    EXPECT_NE(std::find(calls.begin() + renamed, calls.end(), "fsync " + real), calls.end()) << "the folder, after";
}

// Run in a child with a mount namespace of its own: a small file system that fills up between two events.
std::string FillTheDiskBetweenTwoEvents(const std::string& where) {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", where.c_str(), "tmpfs", 0, "size=64k") != 0)
        return std::string("cannot mount a small file system: ") + std::strerror(errno);
    const std::string path = where + "/ledger.txt";
    {
        Ledger ledger;
        std::string error;
        if (!ledger.Open(path, error)) return error;
        ledger.Received(IdOf(1), PageTo("1", "before the disk filled"), "127.0.0.1", ROUTE);
        {
            std::ofstream filler(where + "/filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), block.size())) filler.flush();
        }
        // Cut part-way: the line is longer than what is left of the file's last block.
        ledger.Received(IdOf(2), PageTo("2", std::string(MAX_PAGE_TEXT_BYTES, '\xFF')), "127.0.0.1", ROUTE);
        if (ledger.View(1).writeErrors == 0) return "the full disk took the whole line";
        fs::remove(where + "/filler");
        ledger.Received(IdOf(3), PageTo("3", "after the disk had room again"), "127.0.0.1", ROUTE);
    }
    Ledger again;
    std::string error;
    if (!again.Open(path, error)) return error;
    LedgerPage page;
    if (again.DamagedLines() != 0) return std::to_string(again.DamagedLines()) + " damaged lines";
    if (!again.Find(IdOf(1), page) || !again.Find(IdOf(3), page)) return "a page lost its story";
    return "";
}

TEST_F(LedgerTest, AFullDiskNeverJoinsTwoLines) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a small file system of its own";
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string problem = FillTheDiskBetweenTwoEvents(folder.string());
        if (write(report[1], problem.data(), problem.size()) < 0) _exit(2);
        _exit(0);
    }
    close(report[1]);
    std::string problem;
    char buffer[512];
    for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0;) problem.append(buffer, got);
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (problem.find("cannot mount") == 0) GTEST_SKIP() << problem;
    EXPECT_EQ(problem, "");
}
#endif

TEST_F(LedgerTest, NoticeLinesTellOfAPageWithoutChangingWhereItStands) {
    {
        auto ledger = Opened();
        ledger->Received("000000000001", PageTo("555 1234", "refused"), "127.0.0.1", ROUTE);
        ledger->Attempted("000000000001", ROUTE, {Outcome::Permanent, "550 no such pager"}, 0);
        now += 5;
        ledger->Noticed("000000000001", "failed", "webhook", "temporary", "HTTP 503");
        ledger->Noticed("000000000001", "failed", "webhook", "delivered", "");
        ledger->Noticed("000000000001", "failed", "command", "dropped", "not delivered within a day");
        ledger->Noticed("", "route-down", "webhook", "delivered", "");
        ledger->Noticed("000000000077", "failed", "webhook", "delivered", "");  // a page it lacks: no line
    }
    const std::string text = FileText();
    EXPECT_NE(text.find(" 000000000001 notice event=failed channel=webhook outcome=temporary detail=\"HTTP 503\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" 000000000001 notice event=failed channel=webhook outcome=delivered\n"), std::string::npos);
    EXPECT_NE(text.find(" 000000000001 notice-dropped event=failed channel=command "
                        "detail=\"not delivered within a day\"\n"),
              std::string::npos);
    EXPECT_NE(text.find(" - notice event=route-down channel=webhook outcome=delivered\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("000000000077"), std::string::npos);

    // Read back whole, every line understood; the page is as its network left it.
    auto ledger = Opened();
    EXPECT_EQ(ledger->DamagedLines(), 0u);
    const LedgerPage page = Story(*ledger, "000000000001");
    EXPECT_EQ(page.state, PageState::Failed);
    EXPECT_TRUE(page.canSendAgain);
    EXPECT_EQ(page.reply, "550 no such pager");
    EXPECT_EQ(page.updated, now - 5);
    EXPECT_EQ(page.attempts, 1);
}
