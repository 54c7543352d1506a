// What the gateway does with a page that cannot go as it should: no route, a dead route with a fallback, a
// page past its useful life or late; the real binary against SNPP stand-ins on addresses of these tests' own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/relay/relay_fixture.h"

namespace {

inline std::string RouteAddress(int n) { return "127.77.41." + std::to_string(n); }

std::string LedgerText(const std::string& folder) { return ReadFile(folder + "/spool/ledger.txt"); }

// The part of /status.json about one page or one route: from its key to the end of its object.
std::string JsonOf(const Gateway& gateway, const std::string& key, const std::string& value) {
    const std::string json = gateway.Http("/status.json");
    const size_t at = json.find("\"" + key + "\": \"" + value + "\"");
    return at == std::string::npos ? std::string() : json.substr(at, json.find('}', at) - at);
}

// Sets a spool file's time back, as if the page had come `minutes` ago.
void Age(const std::string& path, int minutes) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= minutes * 60;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Waits for `count` lines starting `start` and gives when they were seen, to the millisecond.
Clock::time_point SeenAt(const Gateway& gateway, const std::string& start, size_t count = 1) {
    const auto deadline = Clock::now() + PATIENCE;
    while (Count("\n" + gateway.Output(), "\n" + start) < count) {
        if (Clock::now() > deadline) {
            ADD_FAILURE() << "no " << start << "\n" << gateway.Output();
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return Clock::now();
}

}  // namespace

TEST(RouteTest, APageWithoutARouteIsAnsweredKeptAsFailedAndGoesOnceThereIsARoute) {
    TempFolder folder;
    const std::string address = RouteAddress(1), network = RouteAddress(2);
    SnppStandIn snpp(network);
    const std::string reason =
        "no route for Sprint (start the gateway with --relay Sprint=URL or a bare --relay URL)";
    {
        // A WCTP route asks after receipts, whose events sit in front of the ledger and pass these on too.
        Gateway gateway(folder.path, address, {"--relay", "AT&T=wctp+http://" + RouteAddress(13) + "/wctp"},
                        {"PAGING_GATEWAY_WCTP_SENDER=route-test"});
        ASSERT_EQ(gateway.Send('S', "for a carrier without a route", "5551230001", "", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("failed: Sprint page 000000000001", 1)) << gateway.Output();
        const std::string failed = folder.path + "/spool/failed/";
        EXPECT_EQ(FilesIn(failed, ".page"), std::vector<std::string>{"000000000001.page"});
        EXPECT_EQ(ReadFile(failed + "000000000001.page.reason"), reason + "\n");
        const std::string ledger = LedgerText(folder.path);
        EXPECT_NE(ledger.find(" 000000000001 received carrier=Sprint"), std::string::npos) << ledger;
        EXPECT_NE(ledger.find(" 000000000001 failed reason=\"" + reason + "\""), std::string::npos) << ledger;
        const std::string page = JsonOf(gateway, "id", "000000000001");
        EXPECT_NE(page.find("\"state\": \"failed\""), std::string::npos) << page;
        EXPECT_NE(page.find("\"expired\": false"), std::string::npos) << page;
        // Still no route: the button says why and the page stays where it is.
        EXPECT_EQ(gateway.SendAgain("000000000001"), "HTTP/1.0 409 Conflict");
        EXPECT_EQ(FilesIn(failed, ".page").size(), 1u);
    }
    Gateway gateway(folder.path, address, {"--relay", "AT&T=snpp://" + network, "--relay", "snpp://" + network});
    EXPECT_TRUE(snpp.Pages().empty()) << "a failed page waits for Send again";
    EXPECT_EQ(gateway.SendAgain("000000000001"), "HTTP/1.0 303 See Other");
    ASSERT_TRUE(gateway.WaitForLines("relayed: Sprint page 000000000001", 1)) << gateway.Output();
    ASSERT_EQ(snpp.Pages().size(), 1u);
    EXPECT_EQ(snpp.Pages()[0].text, "for a carrier without a route");

    // A page that waited under other options goes the same way when a start has no route for it.
    TempFolder other;
    {
        Gateway before(other.path, RouteAddress(15), {"--relay", "snpp://" + RouteAddress(14)});  // nobody there
        ASSERT_EQ(before.Send('V', "waited", "5551230002", "", ""), 200);
        ASSERT_TRUE(before.WaitForLines("retrying in ", 1)) << before.Output();
    }
    Gateway after(other.path, RouteAddress(15), {"--relay", "AT&T=snpp://" + network});
    ASSERT_TRUE(after.WaitForLines("failed: Verizon page 000000000001 to \"5551230002\": no route for Verizon", 1))
        << after.Output();
    EXPECT_EQ(FilesIn(other.path + "/spool/failed", ".page"), std::vector<std::string>{"000000000001.page"});
    EXPECT_NE(JsonOf(after, "id", "000000000001").find("\"state\": \"failed\""), std::string::npos);
}

struct FailoverTimes {
    milliseconds down;   // from the first page sent to the route down
    milliseconds moved;  // from the route down to the last waiting page relayed by the fallback
};

// Pages for three pagers wait on a dead first route; `failover` later it is down and they leave by the second.
static FailoverTimes FailOver(const std::string& failover, long failoverMilliseconds) {
    TempFolder folder;
    const std::string address = RouteAddress(3), first = RouteAddress(4), second = RouteAddress(5);
    SnppStandIn fallback(second);
    Gateway gateway(folder.path, address,
                    {"--relay", "Sprint=snpp://" + first, "--relay", "Sprint=snpp://" + second, "--relay",
                     "snpp://" + second, "--failover-after", failover, "--retry-most", "300"});
    const auto sent = Clock::now();
    const int waiting = 9;
    for (int i = 1; i <= waiting; ++i)
        EXPECT_EQ(gateway.Send('S', "page " + std::to_string(i), "555000000" + std::to_string(i % 3), "", ""), 200);
    EXPECT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    const auto down = SeenAt(gateway, "route down: snpp://" + first + ":444 has failed for ");
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(down - sent).count(), failoverMilliseconds)
        << "down before --failover-after";
    const auto moved = SeenAt(gateway, "relayed: ", waiting);
    const std::string out = gateway.Output();
    EXPECT_LT(out.find("route down: "), out.find("relayed: ")) << "nothing left by the fallback while the first was up";
    const auto pages = fallback.Pages();
    EXPECT_EQ(pages.size(), static_cast<size_t>(waiting));
    ExpectInOrderPerPager(pages);
    EXPECT_EQ(Count(gateway.Output(), " via snpp://" + second + ":444: 250"), static_cast<size_t>(waiting));
    EXPECT_NE(gateway.Output().find("(Connection refused); its pages go by snpp://" + second + ":444"),
              std::string::npos)
        << gateway.Output();
    return {std::chrono::duration_cast<milliseconds>(down - sent), std::chrono::duration_cast<milliseconds>(moved - down)};
}

TEST(RouteTest, PagesWaitingOnADeadRouteLeaveByTheNextWithinTheFailoverTime) {
    const FailoverTimes took = FailOver("1s", 1000);
    // The watcher wakes for the route's own deadline: the pages go as soon as it is down.
    EXPECT_LT(took.moved.count(), 1000);
}

// How long failover takes, for docs/benchmarks.md: run with --gtest_also_run_disabled_tests
// --gtest_filter='*FiveSeconds*'.
TEST(RouteTest, DISABLED_MeasureFailoverAfterFiveSeconds) {
    for (int run = 0; run < 5; ++run) {
        const FailoverTimes took = FailOver("5s", 5000);
        std::printf("first page sent to route down: %lld ms; route down to its 9 waiting pages relayed by the "
                    "fallback: %lld ms\n",
                    static_cast<long long>(took.down.count()), static_cast<long long>(took.moved.count()));
    }
}

TEST(RouteTest, ADownRouteComesBackWithItsFirstAnswerAndARefusalIsNotTriedOnTheNext) {
    TempFolder folder;
    const std::string address = RouteAddress(6), first = RouteAddress(7), second = RouteAddress(8);
    SnppStandIn fallback(second);
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + first, "--relay", "snpp://" + second, "--failover-after", "500ms",
                     "--retry-most", "200"});
    ASSERT_EQ(gateway.Send('V', "while the first is dead", "5552220001", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("route down: snpp://" + first, 1)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output();
    const std::string ledger = LedgerText(folder.path);
    EXPECT_NE(ledger.find(" - route-down route=snpp://" + first + ":444 reason=\"Connection refused\""),
              std::string::npos)
        << ledger;
    EXPECT_NE(JsonOf(gateway, "url", "snpp://" + first + ":444").find("\"state\": \"down\""), std::string::npos);
    EXPECT_NE(JsonOf(gateway, "url", "snpp://" + second + ":444").find("\"state\": \"up\""), std::string::npos);
    const std::string metrics = gateway.Http("/metrics");
    EXPECT_NE(metrics.find("paging_gateway_route_up{route=\"snpp://" + first + ":444\"} 0\n"), std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("paging_gateway_route_up{route=\"snpp://" + second + ":444\"} 1\n"), std::string::npos);
    EXPECT_NE(gateway.Http("/status").find("down since "), std::string::npos);

    // The first route answers again: past its back-off (200 ms) the first page due is its to try, and from
    // then on it carries them.
    SnppStandIn recovered(first);
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_EQ(gateway.Send('V', "tries the first again", "5553330001", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("route up: snpp://" + first + ":444", 1)) << gateway.Output();
    ASSERT_TRUE(WaitFor([&] { return recovered.Pages().size() == 1; })) << gateway.Output();
    EXPECT_NE(LedgerText(folder.path).find(" - route-up route=snpp://" + first + ":444\n"), std::string::npos);
    const size_t before = recovered.Pages().size(), fallen = fallback.Pages().size();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(gateway.Send('V', "back " + std::to_string(i), "5554440001", "", ""), 200);
    ASSERT_TRUE(WaitFor([&] { return recovered.Pages().size() == before + 3; })) << gateway.Output();
    EXPECT_EQ(fallback.Pages().size(), fallen);
    EXPECT_NE(JsonOf(gateway, "url", "snpp://" + first + ":444").find("\"state\": \"up\""), std::string::npos);

    // Refused for good by the first route: the same network would refuse it by any, so the second never sees it.
    recovered.SetScript([](int, const std::string& verb, const std::string& pager) {
        return std::string(verb == "PAGE" && pager == "5550000550" ? "550 Error, Invalid Pager ID" : "");
    });
    ASSERT_EQ(gateway.Send('V', "refused", "5550000550", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("failed: Verizon page", 1)) << gateway.Output();
    EXPECT_EQ(fallback.Commands("PAGE"), static_cast<int>(fallen));
}

TEST(RouteTest, APagePastItsLifeAcrossAStopIsExpiredBeforeAnythingGoesAndSendAgainGivesANewLife) {
    TempFolder folder;
    const std::string address = RouteAddress(9), network = RouteAddress(10);
    const std::vector<std::string> relay = {"--relay", "snpp://" + network};
    {
        Gateway gateway(folder.path, address, relay);  // nothing listens yet
        ASSERT_EQ(gateway.Send('S', "call me now", "5556660001", "", ""), 200);
        ASSERT_EQ(gateway.Send('S', "still fresh", "5556660002", "", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    }
    // Stopped over a weekend, as far as the first page's clock goes; the default life is 60 minutes.
    Age(folder.path + "/spool/000000000001.page", 61);
    SnppStandIn snpp(network);
    Gateway gateway(folder.path, address, relay);
    ASSERT_TRUE(gateway.WaitForLines("relayed: Sprint page 000000000002", 1)) << gateway.Output();
    const std::string out = gateway.Output();
    const size_t expired = out.find("failed: Sprint page 000000000001 to \"5556660001\": expired: not taken within "
                                    "60 min (last reply: none since the gateway started)");
    ASSERT_NE(expired, std::string::npos) << out;
    EXPECT_LT(expired, out.find("relayed: ")) << "expired before anything was sent";
    EXPECT_EQ(snpp.Commands("PAGE"), 1) << "the stale page was never offered";
    EXPECT_EQ(ReadFile(folder.path + "/spool/failed/000000000001.page.reason"),
              "expired: not taken within 60 min (last reply: none since the gateway started)\n");
    EXPECT_NE(LedgerText(folder.path).find(" 000000000001 expired reason=\"expired: not taken"), std::string::npos);
    const std::string page = JsonOf(gateway, "id", "000000000001");
    EXPECT_NE(page.find("\"state\": \"failed\", "), std::string::npos) << page;
    EXPECT_NE(page.find("\"expired\": true"), std::string::npos) << page;

    // Sent again, it has a life from now, so it goes.
    EXPECT_EQ(gateway.SendAgain("000000000001"), "HTTP/1.0 303 See Other");
    ASSERT_TRUE(gateway.WaitForLines("relayed: Sprint page 000000000001", 1)) << gateway.Output();
    EXPECT_EQ(snpp.Pages().size(), 2u);
    EXPECT_NE(JsonOf(gateway, "id", "000000000001").find("\"expired\": false"), std::string::npos);
}

TEST(RouteTest, AWaitingPageIsLateOnceThenExpiresButAnAttemptUnderWayFinishes) {
    TempFolder folder;
    const std::string address = RouteAddress(11), network = RouteAddress(12);
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + network, "--late-after", "300ms", "--expire-after", "1500ms",
                     "--retry-most", "200"});
    ASSERT_EQ(gateway.Send('C', "nobody takes it", "5557770001", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("late: Cingular page 000000000001", 1)) << gateway.Output();
    EXPECT_NE(JsonOf(gateway, "id", "000000000001").find("\"late\": true"), std::string::npos);
    ASSERT_TRUE(gateway.WaitForLines("failed: Cingular page 000000000001", 1)) << gateway.Output();
    EXPECT_NE(gateway.Output().find(": expired: not taken within 1500 ms (last reply: Connection refused)"),
              std::string::npos)
        << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "late: "), 1u);
    const std::string ledger = LedgerText(folder.path);
    EXPECT_EQ(Count(ledger, " 000000000001 late\n"), 1u) << ledger;
    EXPECT_NE(ledger.find(" 000000000001 expired reason="), std::string::npos) << ledger;

    // A network taking a page when its life ends is let finish: four replies of 500 ms outlast 1.5 s.
    SnppStandIn snpp(network);
    snpp.SetDelay(milliseconds(500));
    ASSERT_EQ(gateway.Send('C', "slow but taken", "5557770002", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: Cingular page 000000000002", 1)) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "failed: "), 1u) << gateway.Output();
    EXPECT_EQ(snpp.Pages().size(), 1u);
}

TEST(RouteTest, ARouteThatFailedBeforeAQuietSpellIsNotReportedDownForIt) {
    TempFolder folder;
    const std::string address = RouteAddress(16), first = RouteAddress(17), second = RouteAddress(18);
    SnppStandIn fallback(second);
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + first, "--relay", "snpp://" + second, "--failover-after", "600ms",
                     "--expire-after", "200ms", "--retry-most", "200"});
    ASSERT_EQ(gateway.Send('A', "gone before the failover time", "5558880001", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("failed: AT&T page 000000000001", 1)) << gateway.Output();
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(Count(gateway.Output(), "route down: "), 0u) << gateway.Output();
    EXPECT_NE(JsonOf(gateway, "url", "snpp://" + first + ":444").find("\"state\": \"up\""), std::string::npos);

    // With no answer since, the next failure past the time makes it down, and the page leaves by the second.
    ASSERT_EQ(gateway.Send('A', "goes by the second", "5558880002", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("route down: snpp://" + first, 1)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLines("relayed: AT&T page 000000000002", 1)) << gateway.Output();
    EXPECT_EQ(fallback.Pages().size(), 1u);
}
