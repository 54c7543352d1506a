// The gateway's relay end to end: the real binary, fed the program's own requests, against an SNPP stand-in
// and a real SMTP server on loopback addresses of these tests' own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "paging_gateway/relay/mail.h"
#include "paging_gateway/relay/relay.h"
#include "paging_gateway/relay/snpp.h"
#include "tests/relay/relay_fixture.h"

TEST(RelayTest, PagesArriveByteForByteOverSnppAndMail) {
    TempFolder folder;
    const std::string address = Address(1);
    SnppStandIn snpp(address);
    SmtpServer smtp(address, folder.path);
    Gateway gateway(folder.path, address,
                    {"--relay", "at&t=smtp://" + address + ":2525", "--relay", "snpp://" + address,
                     "--mail-from", "gateway@example.net", "--mail-to", "{phone}@pager.example.net"},
                    {"PAGING_GATEWAY_SMTP_USER=pager-relay", "PAGING_GATEWAY_SMTP_PASSWORD=s3cret&=%+"});

    const std::string awkward = "Tom & Jerry = 50%+1? caf\xE9";
    ASSERT_EQ(gateway.Send('S', awkward, "555 123 4567", "A&B=C+D%", "555-0001"), 200);
    ASSERT_EQ(gateway.Send('C', "first line\r\n.dot line\r\n..two dots", "5551234567", "Bob", ""), 200);
    ASSERT_EQ(gateway.Send('A', "Ann said: 1+1=2 & 100%\r\n.caf\xE9 ok", "5559876543", "Ann & B\xE9=1%+2",
                           "5550001111"),
              200);
    ASSERT_EQ(gateway.Send('A', "to nobody", "5500000000", "", ""), 200);  // the mail server refuses it
    ASSERT_EQ(gateway.Send('A', "reject me", "5557777777", "", ""), 200);   // ... after its text
    ASSERT_EQ(gateway.Send('A', "defer once", "5558888888", "", ""), 200);  // ... for now, after its text
    const std::string longSender = "Dr. Annabel Oppenheimer-Zimmermann of the night";  // as long as one can be
    ASSERT_EQ(gateway.Send('A', "a long subject", "5559999999", longSender, "5550001111"), 200);
    ASSERT_EQ(gateway.Send('V', "lone\rCR", "5551234567", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 6)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 2)) << gateway.Output();

    // SNPP: the pager id without blanks, sender and callback in the text, line breaks through DATA.
    auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), 3u);
    std::sort(pages.begin(), pages.end(), [](const auto& a, const auto& b) { return a.text < b.text; });
    EXPECT_EQ(pages[2].text, "lone\r\nCR");  // by DATA, never raw in MESS
    EXPECT_TRUE(pages[2].viaData);
    EXPECT_EQ(pages[0].pagerId, "5551234567");
    EXPECT_EQ(pages[0].text, awkward + " (from A&B=C+D%, callback 555-0001)");
    EXPECT_FALSE(pages[0].viaData);
    EXPECT_EQ(pages[1].text, "first line\r\n.dot line\r\n..two dots (from Bob)");
    EXPECT_TRUE(pages[1].viaData);

    // Mail: logged in, addressed from the template, sender and callback in the subject, the text as sent.
    auto messages = smtp.Messages();
    ASSERT_EQ(messages.size(), 3u);
    std::sort(messages.begin(), messages.end(), [](const auto& a, const auto& b) { return a.at("to") < b.at("to"); });
    EXPECT_EQ(messages[0].at("body"), "defer once");  // a 4xx after the text: that pager waited, then it went
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.2 s (this pager only): AT&T page"), 1u) << gateway.Output();
    EXPECT_EQ(messages[2].at("subject"), "Page from " + longSender + ", callback 5550001111");  // folded and back
    EXPECT_EQ(messages[1].at("from"), "gateway@example.net");
    EXPECT_EQ(messages[1].at("to"), "5559876543@pager.example.net");
    EXPECT_EQ(messages[1].at("subject"), "Page from Ann & B\xE9=1%+2, callback 5550001111");
    EXPECT_EQ(messages[1].at("body"), "Ann said: 1+1=2 & 100%\r\n.caf\xE9 ok");

    // A refused recipient or text is final: in failed/ with the server's words, not retried.
    const std::string failed = folder.path + "/spool/failed/";
    std::string reasons;
    for (const std::string& name : FilesIn(failed, ".reason")) reasons += ReadFile(failed + name);
    EXPECT_EQ(FilesIn(failed, ".page").size(), 2u);
    EXPECT_NE(reasons.find("550 5.1.1 no such pager here"), std::string::npos) << reasons;
    EXPECT_NE(reasons.find("554 5.6.0 Message content rejected"), std::string::npos) << reasons;
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 1u) << gateway.Output();
    EXPECT_TRUE(FilesIn(folder.path + "/spool", ".page").empty());
    EXPECT_EQ(Count(gateway.Output() + ReadFile(folder.path + "/err"), "s3cret"), 0u);

    // Told to insist on STARTTLS, which this server does not offer: the page waits rather than going in clear.
    TempFolder strictFolder;
    Gateway strict(strictFolder.path, Address(5),
                   {"--relay", "smtp://" + address + ":2525", "--smtp-tls", "--mail-from", "gateway@example.net",
                    "--mail-to", "{phone}@pager.example.net"},
                   {"PAGING_GATEWAY_SMTP_USER=pager-relay", "PAGING_GATEWAY_SMTP_PASSWORD=s3cret&=%+"});
    ASSERT_EQ(strict.Send('A', "only over TLS", "5559876543", "", ""), 200);
    ASSERT_TRUE(strict.WaitForLines("retrying in ", 1)) << strict.Output();
    EXPECT_EQ(smtp.Messages().size(), 3u);
    EXPECT_EQ(FilesIn(strictFolder.path + "/spool", ".page").size(), 1u);
}

TEST(RelayTest, BusyUpstreamIsRetriedAndARefusalIsNot) {
    TempFolder folder;
    const std::string address = Address(2);
    SnppStandIn snpp(address);
    snpp.SetScript([](int connection, const std::string& verb, const std::string&) {
        return std::string(connection < 4 && verb == "greeting" ? "421 Too busy, try later" : "");
    });
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address + ":444", "--retry-most", "400"});
    ASSERT_EQ(gateway.Send('V', "after four tries", "5551111111", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.2 s: Verizon page"), 1u) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.4 s: Verizon page"), 3u) << "the wait stops growing";
    EXPECT_NE(gateway.Output().find("421 Too busy, try later"), std::string::npos);

    // A 4xx to any of the page's own commands, or a 554, is passing trouble: tried again, never filed as failed.
    const char* const passing[][2] = {{"PAGE", "421 Too busy, try later"}, {"MESS", "421 Shutting down"},
                                      {"DATA", "421 Terminal busy"},     {"SEND", "421 Queue full"},
                                      {"PAGE", "554 Error, failed (technical)"}};
    size_t relayed = 1;
    for (const auto& refusal : passing) {
        auto tries = std::make_shared<std::atomic<int>>(0);
        snpp.SetScript([refusal, tries](int, const std::string& verb, const std::string&) {
            return std::string(verb == refusal[0] && (*tries)++ == 0 ? refusal[1] : "");
        });
        const std::string text = std::string(refusal[0]) == "DATA" ? "two\nlines" : "once refused";
        ASSERT_EQ(gateway.Send('V', text, "5551111111", "", ""), 200);
        ASSERT_TRUE(gateway.WaitForLines("relayed: ", ++relayed)) << refusal[1] << "\n" << gateway.Output();
        EXPECT_EQ(tries->load(), 2) << refusal[1];
    }
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty()) << gateway.Output();

    snpp.SetScript([](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    ASSERT_EQ(gateway.Send('U', "never to go", "5550000550", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 1)) << gateway.Output();
    snpp.SetScript(nullptr);
    const int offered = snpp.Commands("PAGE");
    ASSERT_EQ(gateway.Send('U', "next one goes", "5552222222", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", ++relayed)) << gateway.Output();

    EXPECT_EQ(snpp.Pages().size(), relayed);
    EXPECT_EQ(offered, 1 + 2 * 5 + 1);  // the refused page was offered once
    EXPECT_EQ(snpp.Commands("RESE"), 2);  // after the 554 and the 550: the session goes on
    const std::string failed = folder.path + "/spool/failed/";
    const auto refused = FilesIn(failed, ".page");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(ReadFile(failed + refused[0] + ".reason"), "550 Error, Invalid Pager ID\n");
    Page page;
    std::string problem;
    ASSERT_TRUE(ReadSpoolText(ReadFile(failed + refused[0]), page, problem)) << problem;
    EXPECT_EQ(page.message, "never to go");
}

TEST(RelayTest, KilledGatewayLosesNothingAndSendsOnce) {
    TempFolder folder;
    const std::string address = Address(3);
    const std::vector<std::string> relay = {"--relay", "snpp://" + address};
    const int queued = 24;  // enough that resuming in the folder's own order would show
    {
        Gateway gateway(folder.path, address, relay);  // nothing listens for SNPP yet
        ASSERT_EQ(gateway.Send('M', "while the network is down", "5553333333", "Ann", "5550002222"), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
        EXPECT_NE(gateway.Output().find("Connection refused"), std::string::npos) << gateway.Output();
        // Killed the moment the last answer is in: each page is on disk before its answer leaves.
        for (int i = 1; i <= queued; ++i)
            ASSERT_EQ(gateway.Send("VS"[i % 2], "queued " + std::to_string(i), i % 3 ? "5554444444" : "5555555555",
                                   "", ""),
                      200);
        gateway.KillHard();
    }
    // What a crash can leave besides whole pages: a half-written file and a damaged one.
    const std::string spool = folder.path + "/spool/";
    std::ofstream(spool + "000000000099.page.partial") << "paging_gateway spool 1\ncarrier 4:AT";
    std::ofstream(spool + "000000000100.page") << "paging_gateway spool 1\ncarrier 4:AT&T\nphone 99:555\nend\n";

    // A second gateway on the spool of a running one stops at once, touching nothing.
    {
        Gateway first(folder.path, address, relay);
        const std::vector<std::string> before = FilesIn(spool, ".page");
        const std::string second = std::string(PAGING_GATEWAY_BINARY) + " --address 127.77.25.1 --spool '" + spool +
                                   "' --relay snpp://" + address + " 2>&1";
        FILE* pipe = popen(second.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string said;
        char line[512];
        while (fgets(line, sizeof line, pipe)) said += line;
        EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 1);
        EXPECT_NE(said.find("paging_gateway: the spool folder " + spool + " is in use by another paging_gateway "
                            "(process "),
                  std::string::npos)
            << said;
        EXPECT_EQ(FilesIn(spool, ".page"), before);
    }

    SnppStandIn snpp(address);
    Gateway restarted(folder.path, address, relay);
    ASSERT_TRUE(restarted.WaitForLines("relayed: ", queued + 1)) << restarted.Output();
    ASSERT_TRUE(restarted.WaitForLines("failed: spool file 000000000100.page", 1)) << restarted.Output();
    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), queued + 1u);
    std::set<std::string> texts;
    for (const auto& page : pages) texts.insert(page.text);
    EXPECT_EQ(texts.size(), pages.size()) << "each page once";
    EXPECT_EQ(texts.count("while the network is down (from Ann, callback 5550002222)"), 1u);
    ExpectInOrderPerPager(pages);
    EXPECT_TRUE(FilesIn(spool, ".page").empty());
    EXPECT_TRUE(FilesIn(spool, ".partial").empty());
    EXPECT_NE(ReadFile(spool + "failed/000000000100.page.reason").find("unreadable spool file"), std::string::npos);

    // A later page takes a new name: nothing already in failed/ is overwritten.
    ASSERT_EQ(restarted.Send('M', "after the restart", "5553333333", "", ""), 200);
    ASSERT_TRUE(restarted.WaitForLines("relayed: ", queued + 2)) << restarted.Output();
    EXPECT_EQ(snpp.Pages().size(), queued + 2u);
    EXPECT_NE(restarted.Output().find("relayed: Ameritech page 000000000101 to"), std::string::npos) << restarted.Output();
}

TEST(RelayTest, SilentUpstreamNeverSlowsTheIntake) {
    TempFolder folder;
    const std::string address = Address(4);
    SnppStandIn snpp(address);
    snpp.Hold();
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address, "--upstream-timeout", "1000"});
    std::vector<std::string> sent;
    for (int i = 0; i < 8; ++i) {
        milliseconds took{};
        sent.push_back("555000000" + std::to_string(i % 3));
        ASSERT_EQ(gateway.Send("MACSUV"[i % 6], "page " + std::to_string(i), sent.back(), "", "", &took), 200);
        EXPECT_LT(took.count(), 1000) << "page " << i;
    }
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    EXPECT_NE(gateway.Output().find("no reply within 1000 ms"), std::string::npos) << gateway.Output();
    snpp.Release();

    ASSERT_TRUE(gateway.WaitForLines("relayed: ", sent.size())) << gateway.Output();
    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), sent.size());
    ExpectInOrderPerPager(pages);
}

namespace {

std::vector<std::string>* g_diskCalls = nullptr;

std::string PathOfDescriptor(int descriptor) {
    char path[512];
    const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), path, sizeof path - 1);
    return std::string(path, length > 0 ? static_cast<size_t>(length) : 0);
}

Page SomePage(const std::string& message) {
    Page page;
    page.carrier = CarrierByCode('V');
    page.phoneNumber = "5551234567";
    page.message = message;
    return page;
}

}  // namespace

// These take the place of the C library's for the whole test program and pass every call on.
extern "C" int fsync(int descriptor) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    if (g_diskCalls) g_diskCalls->push_back("fsync " + PathOfDescriptor(descriptor));
    return real(descriptor);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) noexcept {
    static const auto real =
        reinterpret_cast<int (*)(int, const char*, int, const char*, unsigned)>(dlsym(RTLD_NEXT, "renameat2"));
    if (g_diskCalls) g_diskCalls->push_back(std::string("rename ") + from + " " + to);
    return real(fromFolder, from, toFolder, to, flags);
}

TEST(RelaySpool, APageIsOnDiskUnderANameNeverUsedBefore) {
    TempFolder folder;
    char real[PATH_MAX];
    ASSERT_NE(realpath(folder.path.c_str(), real), nullptr);
    const std::string path = std::string(real) + "/spool";
    std::string name, error;
    {
        Spool spool;
        ASSERT_TRUE(spool.Open(path, error)) << error;
        // The bytes reach the disk before the name does, and the name before the page is acknowledged.
        std::vector<std::string> calls;
        g_diskCalls = &calls;
        const bool put = spool.Put(SomePage("first"), name, error);
        g_diskCalls = nullptr;
        ASSERT_TRUE(put) << error;
        const std::string page = path + "/" + name;
        EXPECT_EQ(calls, (std::vector<std::string>{"fsync " + page + ".partial", "rename " + page + ".partial " + page,
                                                    "fsync " + path}));

        // One gateway to a folder.
        Spool second;
        EXPECT_FALSE(second.Open(path, error));
        EXPECT_EQ(error, "the spool folder " + path + " is in use by another paging_gateway (process " +
                             std::to_string(getpid()) + ")");
    }

    const struct {
        const char* what;
        std::vector<std::string> before;  // files in place before the spool opens: spool/NAME or failed/NAME
        std::string added;                // a file some other hand puts in the folder after it opened
        std::string expected;             // the next page's name
        std::vector<std::string> waiting;
    } cases[] = {
        {"a name in failed/", {"failed/000000000005.page"}, "", "000000000006.page", {"000000000006.page"}},
        {"past twelve digits",
         {"999999999999.page", "failed/0999999999998.page"},
         "",
         "1000000000000.page",
         {"999999999999.page", "1000000000000.page"}},
        {"a name taken meanwhile", {"000000000001.page"}, "000000000002.page", "000000000003.page",
         {"000000000001.page", "000000000002.page", "000000000003.page"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder each;
        const std::string where = each.path + "/spool";
        ASSERT_EQ(mkdir(where.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((where + "/failed").c_str(), 0700), 0);
        for (const std::string& file : test.before) std::ofstream(where + "/" + file) << SpoolText(SomePage(file));
        Spool spool;
        ASSERT_TRUE(spool.Open(where, error)) << error;
        if (!test.added.empty()) std::ofstream(where + "/" + test.added) << SpoolText(SomePage("theirs"));
        ASSERT_TRUE(spool.Put(SomePage("ours"), name, error)) << error;
        EXPECT_EQ(name, test.expected);
        EXPECT_EQ(spool.Waiting(), test.waiting);
        Page back;
        if (!test.added.empty()) {
            ASSERT_TRUE(spool.Load(test.added, back, error)) << error;
            EXPECT_EQ(back.message, "theirs");
        }
    }

    // A folder it cannot write in is refused when it opens, not page by page.
    TempFolder blocked;
    const std::string where = blocked.path + "/spool";
    ASSERT_EQ(mkdir(where.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((where + "/write-check.partial").c_str(), 0700), 0);  // stands in for a read-only folder
    Spool spool;
    EXPECT_FALSE(spool.Open(where, error));
    const std::string said = "cannot write in the spool folder " + where + ": ";
    EXPECT_EQ(error.compare(0, said.size(), said), 0) << error;
}

TEST(RelaySpool, AnyBytesComeBackAndDamageIsNoticed) {
    Page page;
    page.carrier = CarrierByCode('A');
    page.phoneNumber = "555 1234";
    for (int byte = 0; byte < 256; ++byte) page.message += static_cast<char>(byte);
    page.sender = "end\nkey 3:abc\n";
    const std::string text = SpoolText(page);
    Page back;
    std::string problem;
    ASSERT_TRUE(ReadSpoolText(text, back, problem)) << problem;
    EXPECT_EQ(back.carrier, page.carrier);
    EXPECT_EQ(back.phoneNumber, page.phoneNumber);
    EXPECT_EQ(back.message, page.message);
    EXPECT_EQ(back.sender, page.sender);
    EXPECT_FALSE(back.callback.has_value());
    for (size_t length = 0; length < text.size(); ++length)
        EXPECT_FALSE(ReadSpoolText(text.substr(0, length), back, problem)) << length;
    for (size_t at = 0; at < text.size(); at += 7) {
        std::string damaged = text;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x40);
        if (ReadSpoolText(damaged, back, problem)) {
            EXPECT_NE(SpoolText(back), text) << at;
        }
    }
}

TEST(RelayOptions, ReadsRoutesAndRefusesWhatCannotWork) {
    auto parse = [](std::vector<const char*> args, GatewayOptions& options, std::string& error) {
        args.insert(args.begin(), "paging_gateway");
        return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    GatewayOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--relay", "snpp://pager.example.net", "--relay", "AT&T=smtp://mail.example.net:587",
                       "--relay", "sprint=snpp://10.0.0.1:4444/", "--mail-from", "a@b", "--mail-to", "{phone}@c"},
                      options, error))
        << error;
    ASSERT_EQ(options.relay.routes.size(), 3u);
    EXPECT_EQ(options.relay.routes[0].carrier, "");
    EXPECT_EQ(options.relay.routes[0].url.text, "snpp://pager.example.net:444");
    EXPECT_EQ(options.relay.routes[1].carrier, "AT&T");
    EXPECT_EQ(options.relay.routes[1].url.text, "smtp://mail.example.net:587");
    EXPECT_EQ(options.relay.routes[2].carrier, "Sprint");
    EXPECT_EQ(options.relay.routes[2].url.text, "snpp://10.0.0.1:4444");
    EXPECT_EQ(options.spoolFolder, "paging_gateway.spool");

    const std::vector<std::vector<const char*>> wrong = {
        {"--relay", "http://x"},         {"--relay", "snpp://"},
        {"--relay", "snpp://x:0"},       {"--relay", "smtp://user:pw@x", "--mail-from", "a@b", "--mail-to", "{phone}@c"},
        {"--relay", "Nextel=snpp://x"},  {"--relay", "snpp://x", "--relay", "snpp://y"},
        {"--relay", "smtp://x"},         {"--relay", "smtp://x", "--mail-from", "a@b", "--mail-to", "pager@c"},
        {"--retry-first", "0"}};
    for (const auto& args : wrong) {
        GatewayOptions fresh;
        error.clear();
        EXPECT_FALSE(parse(args, fresh, error)) << args[1];
        EXPECT_NE(error, "");
    }
}

TEST(RelayReplies, MailRepliesAndHeaderLines) {
    // What the end-to-end tests cannot make a real server say: MAIL FROM not yet out, 421, no reply at all.
    const struct {
        long code;
        bool mailBegun;
        Outcome outcome;
        Scope scope;
    } replies[] = {{554, false, Outcome::Temporary, Scope::Upstream}, {421, true, Outcome::Temporary, Scope::Upstream},
                   {0, true, Outcome::Temporary, Scope::Upstream},    {452, true, Outcome::Temporary, Scope::Page},
                   {552, true, Outcome::Permanent, Scope::Page}};
    for (const auto& reply : replies) {
        const Delivery verdict = MailVerdict(false, reply.code, reply.mailBegun, "");
        EXPECT_TRUE(verdict.outcome == reply.outcome && verdict.scope == reply.scope) << reply.code;
    }

    // No header line over 78 characters, no encoded word over 75, however the subject reads.
    Page page;
    page.carrier = CarrierByCode('A');
    page.phoneNumber = "5551234567";
    for (const std::string& sender : {std::string(80, 'x'), std::string("Dr. Ann Oppenheimer-Zimmermann, night shift"),
                                     std::string("Caf\xE9 au lait, r\xE9sum\xE9 and na\xEFve")}) {
        page.sender = sender;
        page.callback = "5550001111";
        const std::string text = MailText(MailSettings{}, "5551234567@pager.example.net", page);
        std::istringstream lines(text.substr(0, text.find("\r\n\r\n")));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 79u) << line;  // with its CR
            for (size_t word = line.find("=?"); word != std::string::npos; word = line.find("=?", word + 1))
                EXPECT_LE(line.find("?=", word + 17) + 2 - word, 75u) << line;
        }
    }
}

TEST(RelayTest, BusyPagerHoldsOnlyItsOwnPagesAndABurstSharesSessions) {
    TempFolder folder;
    const std::string address = LaterAddress(1);
    const std::string busy = "5550000001";
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address, "--sessions", "3", "--retry-first", "500"});
    // The network is down while the burst comes in, so it waits in the spool.
    const int burst = 18;
    for (int i = 0; i < burst; ++i)
        ASSERT_EQ(gateway.Send("MACSUV"[i % 6], "page " + std::to_string(i), i % 3 ? "555000000" + std::to_string(2 + i % 2) : busy, "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();

    SnppStandIn snpp(address);
    snpp.SetDelay(milliseconds(20));
    auto refusals = std::make_shared<std::atomic<int>>(0);
    snpp.SetScript([busy, refusals](int, const std::string& verb, const std::string& pagerId) {
        return std::string(pagerId == busy && verb == "SEND" && (*refusals)++ < 2 ? "554 Error, failed (technical)" : "");
    });
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", burst)) << gateway.Output();
    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), static_cast<size_t>(burst));
    ExpectInOrderPerPager(pages);
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.5 s (this pager only): "), 1u) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying in 1 s (this pager only): "), 1u) << gateway.Output();
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", ".page").empty());
    // The busy pager's refusals held none of the other pagers' pages.
    for (int i = 0; i < burst * 2 / 3; ++i) EXPECT_NE(pages[i].pagerId, busy) << i;
    // Pages shared sessions, a few at once and no more than asked for; each refusal was reset, not hung up.
    std::set<int> connections;
    for (const auto& page : pages) connections.insert(page.connection);
    EXPECT_LE(connections.size() * 2, pages.size());
    EXPECT_GE(snpp.MostAtOnce(), 2);
    EXPECT_LE(snpp.MostAtOnce(), 3);
    EXPECT_EQ(snpp.Commands("RESE"), 2);
}

// Keeps the events as lines: "received ID CLIENT", "attempted ID OUTCOME", "again ID WHO".
struct EventLog : PageEvents {
    void Received(const std::string& id, const Page&, const std::string& client, const std::string&) override {
        Add("received " + id + " " + client);
    }
    void Attempted(const std::string& id, const std::string&, const Delivery& delivery, long) override {
        Add("attempted " + id + " " + "DTP"[static_cast<int>(delivery.outcome)]);
    }
    void SentAgain(const std::string& id, const std::string& who) override { Add("again " + id + " " + who); }
    void Receipt(const std::string&, ReceiptState, const std::string&) override {}
    void Add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

TEST(RelayTest, EventsTellEachPagesStoryAndAFailedPageCanGoAgain) {
    TempFolder folder;
    const std::string address = LaterAddress(2);
    SnppStandIn snpp(address);
    auto refusing = std::make_shared<std::atomic<bool>>(true);
    snpp.SetScript([refusing](int, const std::string& verb, const std::string&) {
        return std::string(verb == "PAGE" && *refusing ? "550 Error, Invalid Pager ID" : "");
    });
    Spool spool;
    std::string error, id;
    ASSERT_TRUE(spool.Open(folder.path + "/spool", error)) << error;
    GatewayOptions options;
    const char* const args[] = {"paging_gateway", "--relay", "snpp://127.77.15.2"};
    ASSERT_TRUE(ParseOptions(3, args, options, error)) << error;
    std::ostringstream out;
    EventLog events;
    Relay relay(options.relay, spool, out, &events);
    relay.Start();
    Page page;
    page.carrier = CarrierByCode('V');
    page.phoneNumber = "5550000550";
    page.message = "refused, then sent again";
    ASSERT_TRUE(relay.Take(page, "127.0.0.7", id, error)) << error;
    ASSERT_TRUE(WaitFor([&] { return events.Lines().size() == 2; }));

    EXPECT_FALSE(relay.SendAgain("../" + id, "127.0.0.9", error));
    *refusing = false;
    ASSERT_TRUE(relay.SendAgain(id, "127.0.0.9", error)) << error;
    EXPECT_FALSE(relay.SendAgain(id, "127.0.0.9", error)) << "only once";
    ASSERT_TRUE(WaitFor([&] { return events.Lines().size() == 4; }));
    const std::vector<std::string> story = {"received 000000000001 127.0.0.7", "attempted 000000000001 P",
                                            "again 000000000001 127.0.0.9", "attempted 000000000001 D"};
    EXPECT_EQ(events.Lines(), story);
    ASSERT_EQ(snpp.Pages().size(), 1u);
    relay.Stop();
    EXPECT_TRUE(FilesIn(folder.path + "/spool", ".page").empty());
    EXPECT_TRUE(FilesIn(folder.path + "/spool/failed", "").empty());
}

TEST(RelayTest, AnEndlessReplyIsCutAtItsDeadlineAndItsLineCap) {
    TempFolder folder;
    const std::string address = LaterAddress(3);
    SnppStandIn snpp(address);
    std::string dripping, flooding;
    for (int i = 0; i < 40; ++i) dripping += "220-still here\n";  // 2 s at 50 ms a line
    for (int i = 0; i < 70; ++i) flooding += "220-and more\n";    // 0.7 s at 10 ms a line
    snpp.SetScript([dripping, flooding](int connection, const std::string& verb, const std::string&) {
        if (verb != "greeting" || connection > 1) return std::string();
        return (connection == 0 ? dripping : flooding) + "220 ready";
    });
    snpp.SetDelay(milliseconds(50));
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address, "--upstream-timeout", "1000"});
    ASSERT_EQ(gateway.Send('S', "in the end", "5556666666", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    snpp.SetDelay(milliseconds(10));
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), ": no reply within 1000 ms"), 1u) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), ": a reply of more than 64 lines"), 1u) << gateway.Output();
}

TEST(RelayTest, MailsWaitingForOneServerShareItsConnections) {
    TempFolder folder;
    const std::string address = LaterAddress(4);
    Gateway gateway(folder.path, address,
                    {"--relay", "smtp://" + address + ":2525", "--sessions", "2", "--mail-from", "gateway@example.net",
                     "--mail-to", "{phone}@pager.example.net"},
                    {"PAGING_GATEWAY_SMTP_USER=pager-relay", "PAGING_GATEWAY_SMTP_PASSWORD=s3cret&=%+"});
    const int mails = 6;
    for (int i = 0; i < mails; ++i)
        ASSERT_EQ(gateway.Send('A', "mail " + std::to_string(i), i % 2 ? "5551110000" : "5552220000", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();  // the server is not up yet
    SmtpServer smtp(address, folder.path);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", mails)) << gateway.Output();
    const auto messages = smtp.Messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(mails));
    std::vector<SnppStandIn::Sent> arrived;
    std::set<std::string> connections;
    for (const auto& message : messages) {
        arrived.push_back({message.at("to"), message.at("body"), false, 0});
        connections.insert(message.at("peer"));
    }
    ExpectInOrderPerPager(arrived);
    EXPECT_LE(connections.size(), 2u);
}
