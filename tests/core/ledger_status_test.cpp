// The gateway's ledger (each page's story, on disk and bounded) and the status pages made from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/spool/spool.h"
#include "paging_gateway/status/escape.h"
#include "paging_gateway/status/render.h"
#include "paging_gateway/status/status_pages.h"

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
        auto ledger = std::make_unique<Ledger>(limits, [this] { return now; });
        std::string error;
        EXPECT_TRUE(ledger->Open(path, error)) << error;
        return ledger;
    }

    LedgerPage Story(const Ledger& ledger, const std::string& id) {
        LedgerPage page;
        EXPECT_TRUE(ledger.Find(id, page)) << id;
        return page;
    }

    fs::path folder;
    std::string path;
    std::time_t now = 1796650056;  // 2026-12-07T13:27:36Z
};

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
        now += 2;
        const LedgerView view = ledger->View(200);
        ASSERT_EQ(view.routes.size(), 1u);
        EXPECT_EQ(view.routes[0].waiting, 2);
        EXPECT_EQ(view.now - view.routes[0].oldestWaiting, 2);
        EXPECT_EQ(view.routes[0].nextAttempt - view.now, 1);  // 2.5 s after the last attempt, rounded up
        now += 10;
        ledger->Attempted("000000000001", ROUTE, {Outcome::Delivered, "250 Message Sent"}, 0);
        ledger->Attempted("000000000002", ROUTE, {Outcome::Permanent, "550 no such pager"}, 0);
        ledger->Receipt("000000000001", ReceiptState::Read, "read by the pager");
        ledger->Attempted("000000000099", ROUTE, {Outcome::Delivered, "250"}, 0);  // unknown: dropped
    }
    // A crash in the middle of a line leaves part of it; the rest still counts.
    std::ofstream(path, std::ios::binary | std::ios::app) << "2026-12-07T13:28:00Z 000000000002 sent-again by=";

    auto ledger = Opened();
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

    now += 31 * 86400;  // older than 30 days: gone with the next page, waiting ones excepted
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

    ledger->Recover(spool, [](const Page&) { return std::string(ROUTE); });
    EXPECT_EQ(Story(*ledger, "000000000001").state, PageState::Relayed);
    EXPECT_EQ(Story(*ledger, "000000000002").state, PageState::Failed);
    EXPECT_EQ(Story(*ledger, "000000000002").reply, "550 refused");
    const LedgerPage unseen = Story(*ledger, "000000000003");
    EXPECT_EQ(unseen.state, PageState::Queued);
    EXPECT_EQ(unseen.message, "unseen");
}

TEST_F(LedgerTest, StatusPagesAnswerOnlyTheOperator) {
    auto ledger = Opened();
    ledger->AddRoute(ROUTE);
    ledger->Received("000000000001", PageTo("555<b>", "<script>alert(1)</script> caf\xE9 \x80"), "127.0.0.1", ROUTE);
    ledger->Attempted("000000000001", ROUTE, {Outcome::Permanent, "550 \"no\" & <gone>"}, 0);
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
