// The relay's SNPP as real servers speak it: the real binary against the stand-in behaving as hfaxd did
// (login, held SEND, RESEt as a log-out, a length limit), and, run by hfaxd_test.sh, against hfaxd itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "paging_gateway/relay/relay.h"
#include "paging_gateway/relay/snpp.h"
#include "tests/relay/relay_fixture.h"

namespace {

std::string SnppAddress(int n) { return "127.77.24." + std::to_string(n); }

const std::vector<std::string> HFAXD_ROUTE = {"--snpp-user", "gateway", "--snpp-before-page", "SITE JQUEUE YES",
                                              "--snpp-max-length", "128"};
const std::string HFAXD_PASSWORD = "PAGING_GATEWAY_SNPP_PASSWORD=s3cret";

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The pages one pager got, in the order they came.
std::vector<SnppStandIn::Sent> PagesTo(const std::vector<SnppStandIn::Sent>& pages, const std::string& pagerId) {
    std::vector<SnppStandIn::Sent> found;
    for (const auto& page : pages)
        if (page.pagerId == pagerId) found.push_back(page);
    return found;
}

// "word001 word002 ...", `length` characters long.
std::string Words(size_t length) {
    std::string text;
    for (int i = 1; text.size() < length; ++i)
        text += (text.empty() ? "" : " ") + ("word" + std::to_string(1000 + i).substr(1));
    text.resize(length);
    if (!text.empty() && text.back() == ' ') text.back() = 'x';
    return text;
}

}  // namespace

TEST(RelaySnpp, AnHfaxdLikeServerTakesEveryKindOfPageOnceAndLongOnesInParts) {
    TempFolder folder;
    const std::string address = SnppAddress(1);
    SnppStandIn snpp(address);
    snpp.BehaveLikeHfaxd({"gateway", "s3cret"});
    // The options in any order: those before the route apply to it as well as those after.
    Gateway gateway(folder.path, address,
                    With({"--snpp-user", "gateway", "--relay", "snpp://" + address, "--upstream-timeout", "1000"},
                         {"--snpp-before-page", "SITE JQUEUE YES", "--snpp-max-length", "128"}),
                    {HFAXD_PASSWORD});
    const std::string longText = Words(200);
    ASSERT_EQ(gateway.Send('V', "plain page", "5551000001", "", ""), 200);
    ASSERT_EQ(gateway.Send('V', "with sender", "5551000002", "Bob", "5550001111"), 200);
    ASSERT_EQ(gateway.Send('A', "line one\r\n.\r\n..line two", "5551000003", "", ""), 200);
    ASSERT_EQ(gateway.Send('S', "caf\xE9 \x80 5 \xFC", "5551000004", "", ""), 200);
    ASSERT_EQ(gateway.Send('C', longText, "5551000005", "Ann", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 5)) << gateway.Output() << snpp.Transcript();
    ASSERT_TRUE(WaitFor([&] { return snpp.Commands("QUIT") == snpp.Connections(); })) << snpp.Transcript();

    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), 6u) << snpp.Transcript();  // one job a part, none twice
    for (const auto& page : pages) EXPECT_LE(page.text.size(), 128u) << page.text;
    EXPECT_EQ(PagesTo(pages, "5551000001")[0].text, "plain page");
    EXPECT_EQ(PagesTo(pages, "5551000002")[0].text, "with sender (from Bob, callback 5550001111)");
    EXPECT_EQ(PagesTo(pages, "5551000003")[0].text, "line one\r\n. \r\n..line two");  // only "." could end it
    EXPECT_TRUE(PagesTo(pages, "5551000003")[0].viaData);
    EXPECT_EQ(PagesTo(pages, "5551000004")[0].text, "caf\xE9 \x80 5 \xFC");
    const auto parts = PagesTo(pages, "5551000005");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].text.substr(0, 6), "(1/2) ");
    EXPECT_EQ(parts[1].text.substr(0, 6), "(2/2) ");
    EXPECT_EQ(parts[0].text.find("from Ann"), std::string::npos);
    const std::string tail = " (from Ann)";
    ASSERT_EQ(parts[1].text.substr(parts[1].text.size() - tail.size()), tail);
    EXPECT_EQ(parts[0].text.substr(6) + " " + parts[1].text.substr(6, parts[1].text.size() - 6 - tail.size()),
              longText);

    // Every session logged in once, sent the route's command before each PAGE, and said goodbye.
    EXPECT_EQ(snpp.Commands("LOGI"), snpp.Connections());
    EXPECT_EQ(snpp.Commands("SITE"), 6);
    EXPECT_EQ(snpp.Commands("PAGE"), 6);
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "relayed part 1/2: "), 1u) << gateway.Output();
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
    EXPECT_TRUE(FilesIn(folder.path + "/spool", ".page").empty());
    EXPECT_EQ(Count(gateway.Output() + ReadFile(folder.path + "/err"), "s3cret"), 0u);
    // The ledger keeps the long page as one, relayed, its last reply naming the part.
    const std::string json = gateway.Http("/status.json");
    EXPECT_EQ(Count(json, "\"state\": \"relayed\""), 5u) << json;
    EXPECT_NE(json.find("\"reply\": \"part 2/2: 250 Message successfully queued.\""), std::string::npos) << json;
}

TEST(RelaySnpp, ALoginRefusalOrA530KeepsEveryPageWaiting) {
    const std::string address = SnppAddress(2);
    SnppStandIn snpp(address);
    snpp.BehaveLikeHfaxd({"gateway", "s3cret"});
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> environment;
        std::string reason;
    } cases[] = {
        {HFAXD_ROUTE, {"PAGING_GATEWAY_SNPP_PASSWORD=wrong"}, "login refused: 550 Login incorrect."},
        {HFAXD_ROUTE, {}, "login refused: 550 Login incorrect."},
        {{}, {}, "530 Please login with LOGIN. (this route has no login: --snpp-user)"},
    };
    int gateways = 0;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.reason + " " + std::to_string(gateways));
        TempFolder folder;
        Gateway gateway(folder.path, SnppAddress(10 + gateways++),
                        With({"--relay", "snpp://" + address, "--retry-first", "100", "--retry-most", "100"},
                             test.args),
                        test.environment);
        ASSERT_EQ(gateway.Send('V', "first", "5552000001", "", ""), 200);
        ASSERT_EQ(gateway.Send('S', "second", "5552000002", "Bob", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 4)) << gateway.Output();
        EXPECT_NE(gateway.Output().find(": " + test.reason + "\n"), std::string::npos) << gateway.Output();
        EXPECT_EQ(Count(gateway.Output(), "failed"), 0u) << gateway.Output();
        EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
        EXPECT_EQ(FilesIn(folder.path + "/spool", ".page").size(), 2u);
        EXPECT_EQ(Count(gateway.Http("/status.json"), "\"state\": \"queued\""), 2u);
    }
    EXPECT_TRUE(snpp.Pages().empty());
    EXPECT_EQ(snpp.Commands("QUIT"), snpp.Connections()) << snpp.Transcript();
}

TEST(RelaySnpp, AHeldSendGetsItsOwnWaitAndIsNotSentTwice) {
    TempFolder folder;
    const std::string address = SnppAddress(3);
    SnppStandIn snpp(address);
    snpp.BehaveLikeHfaxd({"gateway", "s3cret", 128, milliseconds(1500)});
    // No SITE JQUEUE YES: hfaxd answers SEND when the job is done, long after any other reply.
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + address, "--snpp-user", "gateway", "--upstream-timeout", "400",
                     "--snpp-send-timeout", "5s"},
                    {HFAXD_PASSWORD});
    ASSERT_EQ(gateway.Send('V', "held until done", "5553000001", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output() << snpp.Transcript();
    EXPECT_NE(gateway.Output().find("250 Message processing completed."), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return snpp.Commands("QUIT") == snpp.Connections(); })) << snpp.Transcript();
    EXPECT_EQ(snpp.Pages().size(), 1u) << snpp.Transcript();
    EXPECT_EQ(snpp.Commands("SEND"), 1);
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output();
}

TEST(RelaySnpp, APartTheServerTookIsNeverSentAgainAndATooLongPageIsCut) {
    TempFolder folder;
    const std::string address = SnppAddress(4);
    SnppStandIn snpp(address);
    auto sends = std::make_shared<std::atomic<int>>(0);
    snpp.SetScript([sends](int, const std::string& verb, const std::string& pagerId) {
        return std::string(verb == "SEND" && pagerId == "5554000001" && ++*sends == 2 ? "554 Error, failed (technical)"
                                                                                      : "");
    });
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + address, "--snpp-max-length", "40", "--retry-first", "1500"});
    const std::string threeParts = Words(70);
    ASSERT_EQ(gateway.Send('V', threeParts, "5554000001", "", "5550001111"), 200);
    ASSERT_EQ(gateway.Send('V', Words(300), "5554000002", "Bob", ""), 200);
    // While its second part waits, the page is still waiting, though the network took its first.
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    const std::string waiting = gateway.Http("/status.json");
    EXPECT_NE(waiting.find("\"id\": \"000000000001\", \"state\": \"queued\""), std::string::npos) << waiting;
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 2)) << gateway.Output() << snpp.Transcript();

    const auto pages = snpp.Pages();
    const auto first = PagesTo(pages, "5554000001");
    ASSERT_EQ(first.size(), 3u) << snpp.Transcript();
    std::string joined;
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].text.substr(0, 6), "(" + std::to_string(i + 1) + "/3) ") << first[i].text;
        EXPECT_LE(first[i].text.size(), 40u);
        joined += (i ? " " : "") + first[i].text.substr(6);
    }
    EXPECT_EQ(joined, threeParts + " (callback 5550001111)");
    EXPECT_EQ(Count(gateway.Output(), "retrying in 1.5 s (this pager only): Verizon page 000000000001"), 1u)
        << gateway.Output();
    EXPECT_EQ(sends->load(), 4);  // part 1, part 2 refused, part 2 again, part 3

    const auto cut = PagesTo(pages, "5554000002");
    ASSERT_EQ(cut.size(), 3u);
    for (const auto& part : cut) EXPECT_LE(part.text.size(), 40u) << part.text;
    EXPECT_EQ(cut[2].text.substr(cut[2].text.size() - 14), "... (from Bob)");
    EXPECT_NE(gateway.Output().find("relayed: Verizon page 000000000002 to \"5554000002\" via snpp://" + address +
                                    ":444: part 3/3 (the text cut to fit): 250 "),
              std::string::npos)
        << gateway.Output();
    const std::string json = gateway.Http("/status.json");
    EXPECT_NE(json.find("\"reply\": \"part 3/3 (the text cut to fit): 250 Message Sent Successfully\""),
              std::string::npos)
        << json;
    EXPECT_EQ(Count(json, "\"state\": \"relayed\""), 2u) << json;
    // Two pages relayed, in six parts taken and one refused for now: the parts are attempts, not pages.
    const std::string metrics = gateway.Http("/metrics"), route = "{route=\"snpp://" + address + ":444\"";
    EXPECT_NE(metrics.find("paging_gateway_pages_relayed_total" + route + "} 2\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("paging_gateway_attempts_total" + route + ",outcome=\"delivered\"} 6\n"), std::string::npos);
    EXPECT_NE(metrics.find("paging_gateway_attempts_total" + route + ",outcome=\"temporary\"} 1\n"), std::string::npos);
}

TEST(RelaySnpp, SenderInTheSubjectGoesWithTheLastPartOnly) {
    TempFolder folder;
    const std::string address = SnppAddress(5), plain = SnppAddress(6);
    SnppStandIn snpp(address), noSubject(plain);
    snpp.BehaveLikeHfaxd({"gateway", "s3cret"});
    noSubject.BehaveLikeHfaxd({"gateway", "s3cret"});
    noSubject.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "SUBJ" ? "500 SUBJ: Command not implemented." : "");
    });
    Gateway gateway(folder.path, address,
                    With(HFAXD_ROUTE, {"--relay", "snpp://" + address, "--relay", "AT&T=snpp://" + plain,
                                       "--snpp-subject", "--retry-most", "200"}),
                    {HFAXD_PASSWORD});
    const std::string text = Words(150);
    ASSERT_EQ(gateway.Send('V', text, "5555000001", "Bob", "5550001111"), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output() << snpp.Transcript();
    const auto parts = PagesTo(snpp.Pages(), "5555000001");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].subject, "");
    EXPECT_EQ(parts[1].subject, "from Bob, callback 5550001111");
    EXPECT_EQ(parts[0].text.substr(6) + " " + parts[1].text.substr(6), text);

    // A server that has no SUBJect refuses it for every page: the route's trouble, so the page waits.
    ASSERT_EQ(gateway.Send('A', "to a plain server", "5555000002", "Ann", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 2)) << gateway.Output();
    EXPECT_NE(gateway.Output().find("500 SUBJ: Command not implemented. (this server takes no SUBJect: leave out "
                                    "--snpp-subject)"),
              std::string::npos)
        << gateway.Output();
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
}

TEST(RelaySnpp, AfterARefusalTheSessionIsResetAndLogsInAgainWhenAsked) {
    TempFolder folder;
    const std::string address = SnppAddress(7);
    SnppStandIn snpp(address);
    snpp.BehaveLikeHfaxd({"gateway", "s3cret"});
    snpp.SetScript([](int, const std::string& verb, const std::string& pagerId) {
        return std::string(verb == "PAGE" && pagerId == "5550000550" ? "550 Invalid pager ID 5550000550." : "");
    });
    snpp.Hold();  // both pages wait for the one session
    Gateway gateway(folder.path, address, With(HFAXD_ROUTE, {"--relay", "snpp://" + address, "--sessions", "1"}),
                    {HFAXD_PASSWORD});
    ASSERT_EQ(gateway.Send('V', "refused", "5550000550", "", ""), 200);
    ASSERT_EQ(gateway.Send('V', "after the reset", "5556000001", "", ""), 200);
    snpp.Release();
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output() << snpp.Transcript();
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 1)) << gateway.Output();
    EXPECT_NE(gateway.Output().find(": 550 Invalid pager ID 5550000550. (now in"), std::string::npos);
    // RESEt's 220 logged the session out; the next 530 logged it in again, in the same session.
    // The session ends with QUIT once nothing is ready for it, just after the last page's line.
    EXPECT_TRUE(WaitFor([&] { return snpp.Commands("QUIT") == snpp.Connections(); })) << snpp.Transcript();
    EXPECT_EQ(snpp.Connections(), 1) << snpp.Transcript();
    EXPECT_EQ(snpp.Commands("RESE"), 1) << snpp.Transcript();
    EXPECT_EQ(snpp.Commands("LOGI"), 2) << snpp.Transcript();
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output();
    ASSERT_EQ(snpp.Pages().size(), 1u);
    EXPECT_EQ(snpp.Pages()[0].text, "after the reset");
}

TEST(RelaySnpp, AKeptSessionTheServerClosedIsOpenedAgainAtOnce) {
    TempFolder folder;
    const std::string address = SnppAddress(8);
    SnppStandIn snpp(address);
    auto offered = std::make_shared<std::atomic<int>>(0);
    snpp.SetScript([offered](int connection, const std::string& verb, const std::string&) {
        return std::string(connection == 0 && verb == "PAGE" && ++*offered == 2 ? "-" : "");  // gone, unanswered
    });
    snpp.Hold();
    // A back-off long enough to show: the next page must not wait it out.
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address, "--sessions", "1", "--retry-first", "5000"});
    ASSERT_EQ(gateway.Send('V', "first", "5557000001", "", ""), 200);
    ASSERT_EQ(gateway.Send('V', "second", "5557000002", "", ""), 200);
    const auto start = Clock::now();
    snpp.Release();
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 2)) << gateway.Output() << snpp.Transcript();
    EXPECT_LT(Clock::now() - start, milliseconds(4000));
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output();
    EXPECT_EQ(snpp.Connections(), 2);
    ASSERT_EQ(snpp.Pages().size(), 2u);
    EXPECT_EQ(snpp.Pages()[1].connection, 1);
}

TEST(RelayReplies, SnppPartsDataLinesAndVerdicts) {
    Page page;
    page.carrier = CarrierByCode('V');
    page.phoneNumber = "5551234567";
    for (size_t most : {48u, 61u, 128u})
        for (size_t length : {0u, 1u, 19u, 40u, 41u, 100u, 127u, 128u, 129u, 250u, 380u, 1000u})
            for (int kind = 0; kind < 4; ++kind) {
                SnppSettings settings;
                settings.maxLength = most;
                settings.senderInSubject = kind == 3;
                page.message = kind == 1 ? std::string(length, 'x') : Words(length);
                for (size_t at = 9; kind == 2 && at + 1 < page.message.size(); at += 10)
                    page.message.replace(at, 2, "\r\n");
                page.sender = kind == 0 ? std::optional<std::string>() : std::optional<std::string>("Bob");
                page.callback = "5550001111";
                SCOPED_TRACE(std::to_string(most) + " " + std::to_string(length) + " " + std::to_string(kind));
                const SnppParts parts = SnppPartsOf(page, settings);
                ASSERT_GE(parts.texts.size(), 1u);
                ASSERT_LE(parts.texts.size(), SNPP_MOST_PARTS);
                const std::string words = kind == 0 ? " (callback 5550001111)" : " (from Bob, callback 5550001111)";
                if (page.message.size() + (kind == 3 ? 0 : words.size()) <= most) {
                    EXPECT_EQ(parts.texts, std::vector<std::string>{kind == 3 ? page.message : SnppText(page)});
                    continue;
                }
                std::string joined;
                for (size_t i = 0; i < parts.texts.size(); ++i) {
                    const std::string& text = parts.texts[i];
                    EXPECT_LE(text.size(), most) << text;
                    EXPECT_EQ(text.substr(0, 6), "(" + std::to_string(i + 1) + "/" +
                                                     std::to_string(parts.texts.size()) + ") ");
                    const size_t sender = text.find(" (from Bob");
                    const bool last = i + 1 == parts.texts.size();
                    EXPECT_EQ(sender != std::string::npos, kind != 3 && kind != 0 && last) << text;
                    EXPECT_NE(text.back(), '\r') << "a CR LF pair stays whole";
                    joined += text.substr(6);
                }
                const auto bare = [](std::string text) {
                    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
                    return text;
                };
                const std::string end = (parts.cut ? "..." : "") + (kind == 3 ? std::string() : words);
                ASSERT_GE(joined.size(), end.size());
                EXPECT_EQ(joined.substr(joined.size() - end.size()), end);
                const std::string kept = bare(joined.substr(0, joined.size() - end.size()));
                if (parts.cut) {
                    EXPECT_GE(length, most * 2);
                    EXPECT_EQ(bare(page.message).compare(0, kept.size(), kept), 0) << joined;
                } else {
                    EXPECT_EQ(kept, bare(page.message)) << joined;
                }
            }

    // A sender too long to share a part with the text is shortened; the part keeps to the limit.
    SnppSettings narrow;
    narrow.maxLength = 40;
    page.message = Words(100);
    page.sender = "Dr. Annabel Oppenheimer-Zimmermann of the night";
    const SnppParts parts = SnppPartsOf(page, narrow);
    ASSERT_EQ(parts.texts.size(), 3u);
    for (const std::string& text : parts.texts) EXPECT_LE(text.size(), 40u) << text;
    EXPECT_EQ(parts.texts[2].substr(0, 6), "(3/3) ") << parts.texts[2];
    EXPECT_EQ(parts.texts[2].substr(parts.texts[2].size() - 4), "...)");

    // RFC 1861 has no dot transparency in DATA: only a line that would end the text changes.
    EXPECT_EQ(SnppDataLines("a\r\n.\n..b\r.c\r\n"), (std::vector<std::string>{"a", ". ", "..b", ".c", ""}));

    // A 530 is the upstream's trouble whatever it answered; a 5xx to the page's own commands is the page's.
    const struct {
        int code;
        bool pageCommand;
        Outcome outcome;
        Scope scope;
    } verdicts[] = {{530, true, Outcome::Temporary, Scope::Upstream}, {530, false, Outcome::Temporary, Scope::Upstream},
                    {550, false, Outcome::Temporary, Scope::Upstream}, {550, true, Outcome::Permanent, Scope::Page},
                    {554, true, Outcome::Temporary, Scope::Page}, {421, true, Outcome::Temporary, Scope::Upstream}};
    for (const auto& verdict : verdicts) {
        const Delivery delivery = SnppVerdict(verdict.code, "", verdict.pageCommand);
        EXPECT_TRUE(delivery.outcome == verdict.outcome && delivery.scope == verdict.scope) << verdict.code;
    }
}

TEST(RelayOptions, SnppOptionsGoToEverySnppRouteInAnyOrder) {
    auto parse = [](std::vector<const char*> args, GatewayOptions& options, std::string& error) {
        args.insert(args.begin(), "paging_gateway");
        return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    GatewayOptions options;
    std::string error;
    setenv("PAGING_GATEWAY_SNPP_PASSWORD", "s3cret", 1);
    ASSERT_TRUE(parse({"--snpp-user", "gateway", "--relay", "snpp://a", "--snpp-before-page", "SITE JQUEUE YES",
                       "--relay", "AT&T=snpp://b", "--snpp-before-page", "SITE X", "--snpp-max-length", "128",
                       "--snpp-send-timeout", "90s", "--snpp-subject"},
                      options, error))
        << error;
    ASSERT_EQ(options.relay.routes.size(), 2u);
    for (const RelayRoute& route : options.relay.routes) {
        EXPECT_EQ(route.snpp.user, "gateway");
        EXPECT_EQ(route.snpp.password, "s3cret");
        EXPECT_EQ(route.snpp.beforePage, (std::vector<std::string>{"SITE JQUEUE YES", "SITE X"}));
        EXPECT_EQ(route.snpp.maxLength, 128u);
        EXPECT_EQ(route.snpp.sendTimeoutMilliseconds, 90000);
        EXPECT_TRUE(route.snpp.senderInSubject);
    }
    GatewayOptions plain;
    ASSERT_TRUE(parse({"--relay", "snpp://a"}, plain, error)) << error;
    EXPECT_EQ(plain.relay.routes[0].snpp.password, "") << "no login asked for, none sent";
    EXPECT_EQ(plain.relay.routes[0].snpp.sendTimeoutMilliseconds, 5 * 60 * 1000);

    const std::vector<std::vector<const char*>> wrong = {
        {"--relay", "snpp://x", "--snpp-max-length", "39"},    {"--relay", "snpp://x", "--snpp-user", "a b"},
        {"--relay", "snpp://x", "--snpp-send-timeout", "0"},   {"--relay", "snpp://x", "--snpp-before-page", ""},
        {"--relay", "snpp://x", "--snpp-before-page", "A\tB"}, {"--relay", "wctp+http://x/w", "--snpp-user", "gw"},
        {"--relay", "snpp://x", "--snpp-subject"}};  // a password in the environment but no --snpp-user
    for (const auto& args : wrong) {
        GatewayOptions fresh;
        error.clear();
        EXPECT_FALSE(parse(args, fresh, error)) << args[2];
        EXPECT_NE(error, "");
        EXPECT_EQ(error.find("s3cret"), std::string::npos);
    }
    unsetenv("PAGING_GATEWAY_SNPP_PASSWORD");
}

namespace {

// hfaxd's paging jobs, read from its job files (sendq/ and doneq/) and their texts (docq/): each pager id's
// texts, in job order.
std::map<std::string, std::vector<std::string>> HfaxdJobs(const std::string& spool) {
    std::map<long, std::pair<std::string, std::string>> jobs;
    for (const std::string queue : {"sendq", "doneq"})
        for (const std::string& name : FilesIn(spool + "/" + queue, "")) {
            if (name.size() < 2 || name[0] != 'q' || name.find_first_not_of("0123456789", 1) != std::string::npos)
                continue;
            std::istringstream lines(ReadFile(spool + "/" + queue + "/" + name));
            long id = 0;
            std::string pin, text;
            for (std::string line; std::getline(lines, line);) {
                if (line.compare(0, 6, "jobid:") == 0) id = std::atol(line.c_str() + 6);
                if (line.compare(0, 8, "page:0::") == 0) pin = line.substr(8);
                if (line.compare(0, 8, "data:0::") == 0) text = ReadFile(spool + "/" + line.substr(8));
            }
            if (!text.empty() && text.back() == '\n') text.pop_back();
            jobs[id] = {pin, text};
        }
    std::map<std::string, std::vector<std::string>> byPager;
    for (const auto& job : jobs) byPager[job.second.first].push_back(job.second.second);
    return byPager;
}

}  // namespace

// Run by hfaxd_test.sh, which starts a real hfaxd in a namespace of its own and says where it is.
TEST(RelayHfaxd, ARealServerGetsOneJobAPartAndAWrongPasswordFailsNothing) {
    const char* server = std::getenv("HFAXD_SNPP");
    if (server == nullptr) GTEST_SKIP() << "hfaxd_test.sh runs this against a real hfaxd";
    const std::string spool = std::getenv("HFAXD_SPOOL"), transcript = std::getenv("HFAXD_TRANSCRIPT");
    const auto dialogue = [&] { return "\n--- SNPP dialogue\n" + ReadFile(transcript); };
    const std::vector<std::string> route = With({"--relay", "snpp://" + std::string(server)}, HFAXD_ROUTE);
    {
        TempFolder folder;
        Gateway gateway(folder.path, "127.0.0.3", route, {"PAGING_GATEWAY_SNPP_PASSWORD=wrong"});
        ASSERT_EQ(gateway.Send('V', "wrong password", "5551000009", "", ""), 200);
        ASSERT_EQ(gateway.Send('S', "wrong password too", "5551000008", "Bob", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 3)) << gateway.Output() << dialogue();
        EXPECT_NE(gateway.Output().find(": login refused: 550 Login incorrect.\n"), std::string::npos)
            << gateway.Output() << dialogue();
        EXPECT_EQ(Count(gateway.Output(), "failed"), 0u) << gateway.Output();
        EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
        EXPECT_EQ(FilesIn(folder.path + "/spool", ".page").size(), 2u);
        EXPECT_TRUE(HfaxdJobs(spool).empty()) << dialogue();
    }
    TempFolder folder;
    Gateway gateway(folder.path, "127.0.0.3", route, {HFAXD_PASSWORD});
    const std::string longText = Words(200);
    ASSERT_EQ(gateway.Send('V', "plain page", "5551000001", "", ""), 200);
    ASSERT_EQ(gateway.Send('V', "with sender", "5551000002", "Bob", "5550001111"), 200);
    ASSERT_EQ(gateway.Send('A', "line one\r\n.\r\n..line two", "5551000003", "", ""), 200);
    ASSERT_EQ(gateway.Send('S', "caf\xE9 \x80 5 \xFC", "5551000004", "", ""), 200);
    ASSERT_EQ(gateway.Send('C', longText, "5551000005", "Ann", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 5)) << gateway.Output() << dialogue();
    const auto jobs = HfaxdJobs(spool);
    size_t total = 0;
    for (const auto& pager : jobs) total += pager.second.size();
    EXPECT_EQ(total, 6u) << dialogue();
    EXPECT_EQ(jobs.count("5551000009") + jobs.count("5551000008"), 0u);
    ASSERT_EQ(jobs.count("5551000005"), 1u) << dialogue();
    EXPECT_EQ(jobs.at("5551000001"), std::vector<std::string>{"plain page"});
    EXPECT_EQ(jobs.at("5551000002"), std::vector<std::string>{"with sender (from Bob, callback 5550001111)"});
    EXPECT_EQ(jobs.at("5551000003"), std::vector<std::string>{"line one\n. \n..line two"});
    EXPECT_EQ(jobs.at("5551000004"), std::vector<std::string>{"caf\xE9 \x80 5 \xFC"});
    const auto& parts = jobs.at("5551000005");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].substr(0, 6) + parts[1].substr(0, 6), "(1/2) (2/2) ");
    EXPECT_EQ(parts[0].substr(6) + " " + parts[1].substr(6), longText + " (from Ann)");
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output() << dialogue();
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
}
