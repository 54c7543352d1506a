// Notices end to end: the real gateway against an SNPP stand-in, a webhook receiver, a command and a real SMTP
// server; and the notices' parts (store, sender, digest) driven directly.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/notice/notices.h"
#include "paging_gateway/notice/sender.h"
#include "paging_gateway/platform/host_name.h"
#include "tests/relay/relay_fixture.h"

namespace {

using nlohmann::json;

std::string NoticeAddress(int n) { return "127.77.41." + std::to_string(n); }

// A command channel's program: each run leaves DIR/NNN.cmd holding its arguments, one a line, then its input.
std::string CommandScript(const std::string& folder) {
    const std::string path = folder + "/notify.sh";
    std::ofstream(path) << "#!/bin/sh\nf=$(mktemp '" << folder << "/run.XXXXXX')\n"
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

TEST(NoticeTest, AStormGoesAsOneDigest) {
    TempFolder folder;
    const std::string address = NoticeAddress(3);
    SnppStandIn snpp(address);
    snpp.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    snpp.Hold();  // the pages pile up, then fail together
    WebhookReceiver hook(address, MakeFolder(folder.path + "/hook"));
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address, "--notify-url", "http://" + address + ":8088/"});
    const int storm = 25;
    for (int i = 0; i < storm; ++i)
        ASSERT_EQ(gateway.Send('V', "storm " + std::to_string(i), "55500002" + std::to_string(10 + i), "", ""), 200);
    snpp.Release();
    ASSERT_TRUE(WaitFor([&] { return FilesIn(folder.path + "/spool/failed", ".page").size() == storm; }))
        << gateway.Output();
    ASSERT_TRUE(WaitFor([&] { return !hook.Posts().empty() && FilesIn(folder.path + "/spool/notices", ".notice").empty(); }))
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
    EXPECT_EQ(Count(ReadFile(folder.path + "/spool/ledger.txt"), "notice event=failed channel=webhook outcome=delivered"),
              static_cast<size_t>(storm));
}
