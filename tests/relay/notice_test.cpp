// Notices end to end: the real gateway against an SNPP stand-in, a webhook receiver, a command and a real SMTP
// server; and the notices' parts (store, sender, digest) driven directly.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/notice/notices.h"
#include "paging_gateway/notice/sender.h"
#include "paging_gateway/platform/files.h"
#include "paging_gateway/platform/host_name.h"
#include "paging_gateway/platform/run_program.h"
#include "tests/relay/relay_fixture.h"

namespace {

using nlohmann::json;

std::string NoticeAddress(int n) { return "127.77.43." + std::to_string(n); }

// A command channel's program: each run leaves DIR/NNN.cmd holding its arguments, one a line, then its input,
// and adds to DIR/sockets how many sockets it was handed.
std::string CommandScript(const std::string& folder) {
    const std::string path = folder + "/notify.sh";
    std::ofstream(path) << "#!/bin/sh\nls -l /proc/$$/fd | grep -c socket: >> '" << folder << "/sockets'\n"
                        << "f=$(mktemp '" << folder << "/run.XXXXXX')\n"
                        << "{ printf '%s\\n' \"$@\"; cat; } > \"$f\" && mv \"$f\" \"$f.cmd\"\n";
    chmod(path.c_str(), 0700);
    return path;
}

struct CommandRun {
    std::vector<std::string> arguments;
    json input;
};

std::vector<CommandRun> CommandRuns(const std::string& folder) {
    std::vector<CommandRun> runs;
    for (const std::string& name : FilesIn(folder, ".cmd")) {
        std::istringstream text(ReadFile(folder + "/" + name));
        CommandRun run;
        std::string line;
        for (int i = 0; i < 2 && std::getline(text, line); ++i) run.arguments.push_back(line);
        std::string rest((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
        run.input = json::parse(rest, nullptr, false);
        runs.push_back(run);
    }
    return runs;
}

std::vector<json> PostedObjects(const WebhookReceiver& receiver) {
    std::vector<json> objects;
    for (const auto& post : receiver.Posts()) objects.push_back(json::parse(post.at("body"), nullptr, false));
    return objects;
}

json StatusPage(const Gateway& gateway, const std::string& id) {
    const std::string answer = gateway.Http("/status.json");
    const json status = json::parse(answer.substr(answer.find("\r\n\r\n") + 4), nullptr, false);
    for (const json& page : status["pages"])
        if (page["id"] == id) return page;
    return json();
}

std::string MakeFolder(const std::string& path) {
    mkdir(path.c_str(), 0700);
    return path;
}

bool IsUtcTime(const json& value) {
    const std::string text = value.is_string() ? value.get<std::string>() : "";
    return text.size() == 20 && text[4] == '-' && text[10] == 'T' && text.back() == 'Z';
}

}  // namespace

TEST(NoticeTest, ARefusedPageGivesOneFailedNoticeOnEachChannel) {
    TempFolder folder;
    const std::string address = NoticeAddress(1);
    SnppStandIn snpp(address);
    snpp.SetScript([](int, const std::string& verb, const std::string& pagerId) {
        return std::string(verb == "PAGE" && pagerId == "5550000550" ? "550 Error, Invalid Pager ID" : "");
    });
    WebhookReceiver hook(address, MakeFolder(folder.path + "/hook"));
    SmtpServer smtp(address, folder.path);
    const std::string runs = MakeFolder(folder.path + "/runs");
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + address, "--notify-url", "http://" + address + ":8088/gateway/notices",
                     "--notify-command", CommandScript(runs), "--notify-mail", "ops@example.net", "--notify-smtp",
                     "smtp://" + address + ":2525", "--mail-from", "gateway@example.net"},
                    {"PAGING_GATEWAY_SMTP_USER=pager-relay", "PAGING_GATEWAY_SMTP_PASSWORD=s3cret&=%+"});
    ASSERT_EQ(gateway.Send('V', "never to go", "555 000 0550", "Ann", ""), 200);
    ASSERT_EQ(gateway.Send('V', "this one goes", "5551234567", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 1)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output();
    ASSERT_TRUE(WaitFor([&] { return hook.Posts().size() == 1 && CommandRuns(runs).size() == 1 &&
                                     smtp.Messages().size() == 1; }))
        << gateway.Output();

    // The webhook: one POST of JSON, the page as /status.json shows it.
    const auto post = hook.Posts()[0];
    EXPECT_EQ(post.at("path"), "/gateway/notices");
    EXPECT_EQ(post.at("type"), "application/json");
    const json notice = json::parse(post.at("body"), nullptr, false);
    ASSERT_TRUE(notice.is_object()) << post.at("body");
    EXPECT_EQ(notice["event"], "failed");
    EXPECT_EQ(notice["host"], HostName());
    EXPECT_TRUE(IsUtcTime(notice["time"])) << notice["time"];
    const json& page = notice["page"];
    const std::string id = page["id"].get<std::string>();
    EXPECT_EQ(page["state"], "failed");
    EXPECT_EQ(page["phone"], "555 000 0550");
    EXPECT_EQ(page["message"], "never to go");
    EXPECT_EQ(page["reply"], "550 Error, Invalid Pager ID");
    EXPECT_EQ(page["route"], "snpp://" + address + ":444");
    EXPECT_EQ(page, StatusPage(gateway, id));
    EXPECT_FALSE(notice.contains("route"));

    // The command: the event and the page's id as its arguments, the same object on its input.
    const CommandRun run = CommandRuns(runs)[0];
    EXPECT_EQ(run.arguments, (std::vector<std::string>{"failed", id}));
    EXPECT_EQ(run.input, notice);
    EXPECT_EQ(ReadFile(runs + "/sockets"), "0\n") << "the gateway's sockets stay its own";

    // The mail: its subject says it all; the object below.
    const auto mail = smtp.Messages()[0];
    EXPECT_EQ(mail.at("to"), "ops@example.net");
    EXPECT_EQ(mail.at("from"), "gateway@example.net");
    EXPECT_EQ(mail.at("subject"), "Page " + id + " to 555 000 0550 failed: 550 Error, Invalid Pager ID");
    EXPECT_NE(mail.at("body").find("\"reply\": \"550 Error, Invalid Pager ID\""), std::string::npos) << mail.at("body");

    // The ledger tells each channel's outcome; nothing is left waiting, and the page that went got no notice.
    const std::string ledger = ReadFile(folder.path + "/spool/ledger.txt");
    for (const char* channel : {"webhook", "command", "mail"})
        EXPECT_EQ(Count(ledger, " " + id + " notice event=failed channel=" + channel + " outcome=delivered"), 1u)
            << ledger;
    EXPECT_TRUE(WaitFor([&] { return FilesIn(folder.path + "/spool/notices", ".notice").empty(); }));
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(hook.Posts().size(), 1u);
    EXPECT_EQ(CommandRuns(runs).size(), 1u);
    EXPECT_EQ(smtp.Messages().size(), 1u);
}

TEST(NoticeTest, NoticesPendingAtAKillAreEachDeliveredOnceAfterTheRestart) {
    TempFolder folder;
    const std::string address = NoticeAddress(2);
    SnppStandIn snpp(address);
    snpp.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    const std::vector<std::string> args = {"--relay", "snpp://" + address, "--notify-url",
                                           "http://" + address + ":8088/"};
    const std::string notices = folder.path + "/spool/notices";
    const int refused = 8;
    size_t pending = 0;
    {
        Gateway gateway(folder.path, address, args);  // nothing takes the notices yet
        for (int i = 0; i < refused; ++i)
            ASSERT_EQ(gateway.Send('V', "refused " + std::to_string(i), "555000010" + std::to_string(i), "", ""),
                      200);
        ASSERT_TRUE(gateway.WaitForLines("notice temporary: failed ", refused)) << gateway.Output();
        pending = FilesIn(notices, ".notice").size();
        gateway.KillHard();
    }
    EXPECT_EQ(pending, static_cast<size_t>(refused));

    WebhookReceiver hook(address, MakeFolder(folder.path + "/hook"));
    std::set<std::string> ids;
    {
        Gateway restarted(folder.path, address, args);
        ASSERT_TRUE(WaitFor([&] { return hook.Posts().size() >= pending; })) << restarted.Output();
        ASSERT_TRUE(WaitFor([&] { return FilesIn(notices, ".notice").empty(); })) << restarted.Output();
        std::this_thread::sleep_for(milliseconds(1500));
    }
    {
        Gateway again(folder.path, address, args);  // a second restart has nothing left to send
        std::this_thread::sleep_for(milliseconds(1500));
    }
    const std::vector<json> objects = PostedObjects(hook);
    for (const json& object : objects) {
        EXPECT_EQ(object["event"], "failed");
        ids.insert(object["page"]["id"].get<std::string>());
    }
    std::cout << "notices pending at the kill: " << pending << ", delivered after the restart: " << objects.size()
              << " (" << ids.size() << " different pages)\n";
    EXPECT_EQ(objects.size(), pending);
    EXPECT_EQ(ids.size(), pending);
}

TEST(NoticeTest, APageFailedJustBeforeAKillIsNoticedAtTheRestart) {
    TempFolder folder;
    const std::string address = NoticeAddress(6);
    const std::vector<std::string> args = {"--relay", "snpp://" + address, "--notify-url",
                                           "http://" + address + ":8088/"};
    const std::string spool = folder.path + "/spool/";
    {
        Gateway gateway(folder.path, address, args);  // nothing listens for SNPP: the page waits
        ASSERT_EQ(gateway.Send('V', "refused at the last moment", "5550000550", "", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
        gateway.KillHard();
    }
    // Where a kill between failing the page and writing its notice leaves it: in failed/, with its reason.
    const std::vector<std::string> waiting = FilesIn(spool, ".page");
    ASSERT_EQ(waiting.size(), 1u);
    ASSERT_EQ(rename((spool + waiting[0]).c_str(), (spool + "failed/" + waiting[0]).c_str()), 0);
    std::ofstream(spool + "failed/" + waiting[0] + ".reason") << "550 Error, Invalid Pager ID\n";

    WebhookReceiver hook(address, MakeFolder(folder.path + "/hook"));
    {
        Gateway restarted(folder.path, address, args);
        ASSERT_TRUE(WaitFor([&] { return hook.Posts().size() == 1; })) << restarted.Output();
    }
    {
        Gateway again(folder.path, address, args);
        std::this_thread::sleep_for(milliseconds(1500));
    }
    const std::vector<json> objects = PostedObjects(hook);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["event"], "failed");
    EXPECT_EQ(objects[0]["page"]["state"], "failed");
    EXPECT_EQ(objects[0]["page"]["reply"], "550 Error, Invalid Pager ID");
    EXPECT_EQ(objects[0]["page"]["id"].get<std::string>() + ".page", waiting[0]);
}

TEST(NoticeTest, AStormGoesAsOneDigest) {
    TempFolder folder;
    const std::string address = NoticeAddress(3);
    SnppStandIn snpp(address);
    snpp.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    snpp.Hold();  // the pages pile up, then fail together
    WebhookReceiver hook(address, MakeFolder(folder.path + "/hook"));
    Gateway gateway(folder.path, address,
                    {"--relay", "snpp://" + address, "--notify-url", "http://" + address + ":8088/"});
    const int storm = 25;
    for (int i = 0; i < storm; ++i)
        ASSERT_EQ(gateway.Send('V', "storm " + std::to_string(i), "55500002" + std::to_string(10 + i), "", ""), 200);
    snpp.Release();
    ASSERT_TRUE(WaitFor([&] { return FilesIn(folder.path + "/spool/failed", ".page").size() == storm; }))
        << gateway.Output();
    ASSERT_TRUE(WaitFor(
        [&] { return !hook.Posts().empty() && FilesIn(folder.path + "/spool/notices", ".notice").empty(); }))
        << gateway.Output();
    std::this_thread::sleep_for(milliseconds(1500));
    const std::vector<json> objects = PostedObjects(hook);
    ASSERT_EQ(objects.size(), 1u) << gateway.Output();
    const json& digest = objects[0];
    EXPECT_EQ(digest["event"], "digest");
    EXPECT_EQ(digest["host"], HostName());
    EXPECT_TRUE(IsUtcTime(digest["time"]));
    ASSERT_EQ(digest["notices"].size(), static_cast<size_t>(storm));
    std::set<std::string> ids;
    for (const json& notice : digest["notices"]) {
        EXPECT_EQ(notice["event"], "failed");
        ids.insert(notice["page"]["id"].get<std::string>());
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(storm));
    const std::string ledger = ReadFile(folder.path + "/spool/ledger.txt");
    EXPECT_EQ(Count(ledger, "notice event=failed channel=webhook outcome=delivered"), static_cast<size_t>(storm));
}

TEST(NoticeTest, AnHttpsReceiverIsTrustedOnlyThroughTheCaFile) {
    TempFolder folder;
    const std::string trusted = NoticeAddress(4), rogue = NoticeAddress(5);
    const std::string certs =
        "/usr/bin/python3 " WCTP_STANDIN_SCRIPT " certs " + folder.path + " " + trusted + " " + rogue;
    ASSERT_EQ(system(certs.c_str()), 0);
    SnppStandIn snpp(trusted);
    snpp.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    WebhookReceiver good(trusted, MakeFolder(folder.path + "/good"), 0, folder.path, "server");
    WebhookReceiver bad(rogue, MakeFolder(folder.path + "/bad"), 0, folder.path, "rogue");
    TempFolder other;
    Gateway toGood(folder.path, trusted,
                   {"--relay", "snpp://" + trusted, "--notify-url", "https://" + trusted + ":8088/", "--ca-file",
                    folder.path + "/ca.pem"});
    Gateway toBad(other.path, rogue,
                  {"--relay", "snpp://" + trusted, "--notify-url", "https://" + rogue + ":8088/", "--ca-file",
                   folder.path + "/ca.pem"});
    ASSERT_EQ(toGood.Send('V', "refused", "5550000550", "", ""), 200);
    ASSERT_EQ(toBad.Send('V', "refused", "5550000550", "", ""), 200);
    ASSERT_TRUE(WaitFor([&] { return good.Posts().size() == 1; })) << toGood.Output();
    ASSERT_TRUE(toBad.WaitForLines("notice temporary: failed ", 2)) << toBad.Output();
    EXPECT_TRUE(bad.Posts().empty());
    EXPECT_EQ(json::parse(good.Posts()[0].at("body"))["event"], "failed");
    EXPECT_EQ(FilesIn(other.path + "/spool/notices", ".notice").size(), 1u) << "kept for another try";
}

namespace {

// A channel of the tests' own: takes or refuses as told, and keeps what it was given.
class FakeChannel : public NoticeChannel {
public:
    explicit FakeChannel(std::vector<Outgoing>& sent, bool& refuse) : sent_(sent), refuse_(refuse) {}
    const char* Name() const override { return "webhook"; }
    bool Deliver(const Outgoing& outgoing, std::string& error) override {
        sent_.push_back(outgoing);
        if (refuse_) error = "HTTP 503";
        return !refuse_;
    }

private:
    std::vector<Outgoing>& sent_;
    bool& refuse_;
};

struct SenderBench {
    TempFolder folder;
    NoticeStore store;
    std::vector<Outgoing> sent;
    bool refuse = false;
    long long now = 1796700000000LL;  // wall clock, milliseconds
    std::vector<std::string> outcomes;
    std::unique_ptr<NoticeSender> sender;

    SenderBench() {
        std::string error;
        EXPECT_TRUE(store.Open(folder.path + "/notices", error)) << error;
        std::vector<std::unique_ptr<NoticeChannel>> channels;
        channels.push_back(std::make_unique<FakeChannel>(sent, refuse));
        SenderSettings settings;
        settings.retryFirstMilliseconds = 2000;
        settings.retryMostMilliseconds = 8000;
        settings.host = "gw";
        sender = std::make_unique<NoticeSender>(
            store, std::move(channels), settings,
            [this](const Notice& notice, const std::string& outcome, const std::string&) {
                outcomes.push_back(notice.subject + " " + outcome);
            },
            [this] { return now; });
    }
    void Add(const std::string& id) {
        Notice notice;
        notice.channel = "webhook";
        notice.event = "failed";
        notice.subject = notice.pageId = id;
        notice.title = "Page " + id + " failed";
        notice.body = {{"event", "failed"}, {"page", {{"id", id}}}};
        notice.created = static_cast<std::time_t>(now / 1000);
        notice.dueMilliseconds = now;
        std::string error;
        ASSERT_TRUE(store.Add(notice, error)) << error;
        sender->Queue(notice);
    }
    size_t Files() const { return FilesIn(folder.path + "/notices", ".notice").size(); }
};

}  // namespace

TEST(NoticeParts, ANoticeBacksOffAsTheRelayDoesAndIsDroppedAfterADay) {
    SenderBench bench;
    bench.refuse = true;
    bench.Add("000000000001");
    std::vector<long long> waits;
    for (int i = 0; i < 5; ++i) {
        const size_t tries = bench.sent.size();
        const long long next = bench.sender->Round();
        EXPECT_EQ(bench.sent.size(), tries + 1);
        waits.push_back(next);
        bench.now += next - 1;  // not yet due: no try
        EXPECT_EQ(bench.sender->Round(), 1);
        EXPECT_EQ(bench.sent.size(), tries + 1);
        bench.now += 1;
    }
    EXPECT_EQ(waits, (std::vector<long long>{2000, 4000, 8000, 8000, 8000}));
    EXPECT_EQ(bench.Files(), 1u) << "kept on disk while it waits";

    // A restart finds it with its wait: the file has the back-off and the next try.
    NoticeStore reread;
    std::string error;
    ASSERT_TRUE(reread.Open(bench.folder.path + "/notices", error));
    std::vector<std::string> damaged;
    const std::vector<Notice> kept = reread.Load(damaged);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].attempts, 5);
    EXPECT_EQ(kept[0].backoffMilliseconds, 8000);
    EXPECT_EQ(kept[0].lastError, "HTTP 503");
    EXPECT_TRUE(damaged.empty());

    bench.now += 24LL * 3600 * 1000;
    EXPECT_EQ(bench.sender->Round(), -1);
    EXPECT_EQ(bench.outcomes.back(), "000000000001 dropped");
    EXPECT_EQ(bench.Files(), 0u);
    EXPECT_EQ(bench.sender->Waiting(), 0u);
}

TEST(NoticeParts, MoreThanTwentyDueWithinAMinuteGoAsOneDigest) {
    {
        SenderBench bench;
        for (int i = 1; i <= 20; ++i) bench.Add("0000000000" + std::to_string(10 + i));
        bench.sender->Round();
        ASSERT_EQ(bench.sent.size(), 20u) << "twenty is no storm";
        EXPECT_EQ(bench.sent[0].event, "failed");
        bench.now += 30 * 1000;
        bench.Add("000000000099");  // the 21st within the minute
        bench.Add("000000000098");
        bench.sender->Round();
        ASSERT_EQ(bench.sent.size(), 21u);
        EXPECT_EQ(bench.sent[20].event, "digest");
        const json digest = json::parse(bench.sent[20].json);
        EXPECT_EQ(digest["host"], "gw");
        EXPECT_EQ(digest["notices"].size(), 2u);
        EXPECT_EQ(bench.sent[20].title, "2 notices from gw: 2 failed");
        EXPECT_EQ(bench.Files(), 0u);
    }
    {
        // A few notices tried again and again are no storm: each try counts one notice once.
        SenderBench bench;
        bench.refuse = true;
        for (int i = 1; i <= 6; ++i) bench.Add("00000000000" + std::to_string(i));
        for (int round = 0; round < 5; ++round) bench.now += bench.sender->Round();
        // A channel that fails waits as a whole: one try a round, the others backed off with it.
        EXPECT_EQ(bench.sent.size(), 5u);
        EXPECT_EQ(std::count(bench.outcomes.begin(), bench.outcomes.end(), "000000000006 temporary"), 5);
        bench.refuse = false;
        bench.sender->Round();
        ASSERT_EQ(bench.sent.size(), 11u);
        for (const Outgoing& outgoing : bench.sent) EXPECT_EQ(outgoing.event, "failed");
        EXPECT_EQ(bench.Files(), 0u);
    }
}

TEST(NoticeParts, OneNoticePerPageAndEventAcrossARestartAndAnotherAfterSendAgain) {
    TempFolder folder;
    const std::string runs = MakeFolder(folder.path + "/runs");
    NoticeSettings settings;
    settings.command = CommandScript(runs);
    std::vector<std::string> warnings;
    std::mutex warned;
    settings.warn = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(warned);
        warnings.push_back(text);
    };
    RelaySettings relay;
    relay.retryFirstMilliseconds = 100;
    Ledger ledger;
    std::ostringstream out;
    Page page;
    page.carrier = CarrierByCode('V');
    page.phoneNumber = "5550000550";
    page.message = "for the notices";
    const std::string id = "000000000001", route = "snpp://pager.example.net:444";
    std::string error;
    {
        Notices notices(settings, relay, ledger, out);
        ASSERT_TRUE(notices.Open(folder.path, error)) << error;
        notices.Start();
        notices.Received(id, page, "127.0.0.1", route);
        notices.Late(id);
        notices.Late(id);
        notices.Failed(id, "expired: not taken within 60 min (last reply: 421 busy)", true);
        notices.Attempted(id, route, Delivery{Outcome::Permanent, "550 no such pager"}, 0);
        notices.RouteDown(route, "Connection refused");
        notices.RouteUp(route);
        ASSERT_TRUE(WaitFor([&] { return CommandRuns(runs).size() == 4; })) << out.str();
        std::this_thread::sleep_for(milliseconds(1500));
        notices.Stop();
    }
    std::map<std::string, CommandRun> byEvent;
    for (const CommandRun& run : CommandRuns(runs)) byEvent[run.arguments.at(0)] = run;
    ASSERT_EQ(byEvent.size(), 4u) << "late and failed once each, a route down and up";
    EXPECT_EQ(byEvent["late"].arguments[1], id);
    EXPECT_EQ(byEvent["failed"].input["page"]["expired"], true);
    EXPECT_EQ(byEvent["failed"].input["page"]["phone"], "5550000550");
    EXPECT_EQ(byEvent["route-down"].arguments[1], route);
    EXPECT_EQ(byEvent["route-down"].input["route"]["url"], route);
    EXPECT_EQ(byEvent["route-down"].input["route"]["reason"], "Connection refused");
    EXPECT_FALSE(byEvent["route-down"].input.contains("page"));
    EXPECT_EQ(byEvent["route-up"].input["event"], "route-up");
    const std::vector<std::string> told = {
        "Page " + id + " to 5550000550 is late (waiting since " + FormatUtcTime(ledger.View(1).latest[0].received) +
            ")",
        "Page " + id + " to 5550000550 failed: expired: not taken within 60 min (last reply: 421 busy)",
        "Route " + route + " is down: Connection refused", "Route " + route + " is up again"};
    EXPECT_EQ(warnings, told);

    // A restart remembers what was noticed, but not of pages the ledger let go; after Send again a new
    // failure is news.
    const std::string gone = folder.path + "/notices/noticed/000000000055.failed";
    std::ofstream(gone) << "failed\n";
    Notices restarted(settings, relay, ledger, out);
    ASSERT_TRUE(restarted.Open(folder.path, error)) << error;
    EXPECT_FALSE(FileExists(gone));
    EXPECT_TRUE(FileExists(folder.path + "/notices/noticed/" + id + ".failed"));
    restarted.Start();
    restarted.Attempted(id, route, Delivery{Outcome::Permanent, "550 no such pager"}, 0);
    restarted.Late(id);
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(CommandRuns(runs).size(), 4u);
    restarted.SentAgain(id, "127.0.0.9");
    restarted.Attempted(id, route, Delivery{Outcome::Permanent, "550 no such pager"}, 0);
    ASSERT_TRUE(WaitFor([&] { return CommandRuns(runs).size() == 5; }));
    restarted.Stop();
    EXPECT_EQ(warnings.size(), told.size() + 1);
    EXPECT_EQ(warnings.back(), "Page " + id + " to 5550000550 failed: 550 no such pager");
}

TEST(NoticeParts, OptionsAreCheckedAtStart) {
    auto parse = [](std::vector<const char*> args, GatewayOptions& options, std::string& error) {
        args.insert(args.begin(), "paging_gateway");
        return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    GatewayOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--relay", "snpp://x", "--notify-url", "https://hooks.example.net:8443/paging?k=1",
                       "--notify-command", "/usr/local/bin/page-alarm"},
                      options, error))
        << error;
    EXPECT_TRUE(options.notices.webhook.tls);
    EXPECT_EQ(options.notices.webhook.host, "hooks.example.net");
    EXPECT_EQ(options.notices.webhook.port, 8443);
    EXPECT_EQ(options.notices.webhook.path, "/paging?k=1");
    EXPECT_EQ(options.notices.command, "/usr/local/bin/page-alarm");
    GatewayOptions plain;
    ASSERT_TRUE(parse({"--relay", "snpp://x", "--notify-url", "http://10.0.0.5"}, plain, error)) << error;
    EXPECT_EQ(plain.notices.webhook.port, 80);
    EXPECT_EQ(plain.notices.webhook.path, "/");

    const std::vector<std::vector<const char*>> wrong = {
        {"--relay", "snpp://x", "--notify-url", "ftp://x/"},
        {"--relay", "snpp://x", "--notify-url", "https://user:pw@x/"},
        {"--relay", "snpp://x", "--notify-url", "http://x:99999/"},
        {"--relay", "snpp://x", "--notify-url", "http:///path"},
        {"--relay", "snpp://x", "--notify-url", "http://x/a b"},
        {"--notify-url", "http://x/"},  // no relay: no page can fail
        {"--relay", "snpp://x", "--notify-command", ""},
        {"--relay", "snpp://x", "--notify-mail", "ops@example.net", "--mail-from", "gw@example.net"},  // no server
        {"--relay", "snpp://x", "--notify-mail", "ops@example.net", "--notify-smtp", "smtp://m"},     // no sender
        {"--relay", "snpp://x", "--notify-mail", "not an address", "--notify-smtp", "smtp://m", "--mail-from", "a@b"},
        {"--relay", "snpp://x", "--notify-smtp", "snpp://m"}};
    for (const auto& args : wrong) {
        GatewayOptions fresh;
        error.clear();
        EXPECT_FALSE(parse(args, fresh, error)) << args[3];
        EXPECT_NE(error, "");
    }
}

TEST(NoticeParts, ADigestMailListsEveryNoticeItStandsFor) {
    std::vector<Notice> notices(3);
    std::vector<const Notice*> parts;
    for (size_t i = 0; i < notices.size(); ++i) {
        notices[i].event = i < 2 ? "failed" : "route-down";
        const std::string page = "Page 00000000000" + std::to_string(i + 1);
        notices[i].title = i < 2 ? page + " to 5551234567 failed: 550 Pager ID not found"
                                 : "Route snpp://a:444 is down: Connection refused";
        notices[i].body = {{"event", notices[i].event}};
        parts.push_back(&notices[i]);
    }
    const Outgoing digest = DigestOutgoing(parts, "2026-12-07T13:46:57Z", "pager-gw");
    EXPECT_EQ(digest.subject, "3");
    MailSettings mail;
    mail.from = "gateway@example.net";
    const std::string text = NoticeMailText(mail, "ops@example.net", digest);
    EXPECT_NE(text.find("\r\nSubject: 3 notices from pager-gw: 2 failed, 1 route-down\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\n- Page 000000000001 to 5551234567 failed: 550 Pager ID not found\r\n"
                        "- Page 000000000002"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("- Route snpp://a:444 is down: Connection refused\r\n"), std::string::npos);
    EXPECT_EQ(text.find('\n', text.find("\"notices\"")) , text.find("\r\n", text.find("\"notices\"")) + 1)
        << "every line ends in CR LF";
    const json object = json::parse(text.substr(text.find("{")));
    EXPECT_EQ(object["event"], "digest");
    EXPECT_EQ(object["notices"].size(), 3u);
}

TEST(NoticeParts, AProgramIsStoppedAtItsTimeLimitAndNeedNotReadItsInput) {
    const std::string large(1 << 20, 'x');  // far more than a pipe holds
    auto started = Clock::now();
    ProgramRun run = RunProgram({"/bin/sleep", "5"}, large, 300);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started).count();
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.error, "/bin/sleep did not finish within 300 ms");
    EXPECT_LT(took, 2000);

    run = RunProgram({"/bin/sh", "-c", "exit 3"}, large, 5000);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3);
    // A program that ends without reading all its input never takes the gateway with it (SIGPIPE).
    signal(SIGPIPE, SIG_DFL);
    for (int i = 0; i < 10; ++i) {
        const std::string reads = "head -c " + std::to_string(60000 + 997 * i) + " >/dev/null";
        run = RunProgram({"/bin/sh", "-c", reads}, large, 5000);
        EXPECT_TRUE(run.finished && run.exitCode == 0) << run.error;
    }
    run = RunProgram({"/bin/sh", "-c", "wc -c"}, "twelve bytes", 5000);
    EXPECT_TRUE(run.finished && run.exitCode == 0);
    run = RunProgram({"no-such-notice-program"}, "", 5000);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.error, "cannot run no-such-notice-program: No such file or directory");
}
