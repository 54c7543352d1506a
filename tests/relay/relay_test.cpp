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
    for (int i = 1; text.size() < length; ++i) text += (text.empty() ? "" : " ") + ("word" + std::to_string(1000 + i).substr(1));
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
                        With({"--relay", "snpp://" + address, "--retry-first", "100", "--retry-most", "100"}, test.args),
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
    EXPECT_EQ(snpp.Connections(), 1) << snpp.Transcript();
    EXPECT_EQ(snpp.Commands("RESE"), 1) << snpp.Transcript();
    EXPECT_EQ(snpp.Commands("QUIT"), snpp.Connections()) << snpp.Transcript();
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
                for (size_t at = 9; kind == 2 && at + 1 < page.message.size(); at += 10) page.message.replace(at, 2, "\r\n");
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
                    EXPECT_EQ(sender != std::string::npos, kind != 3 && kind != 0 && i + 1 == parts.texts.size()) << text;
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
    } verdicts[] = {{530, true, Outcome::Temporary, Scope::Upstream},  {530, false, Outcome::Temporary, Scope::Upstream},
                    {550, false, Outcome::Temporary, Scope::Upstream}, {550, true, Outcome::Permanent, Scope::Page},
                    {554, true, Outcome::Temporary, Scope::Page},      {421, true, Outcome::Temporary, Scope::Upstream}};
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
