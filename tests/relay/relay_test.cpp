// The gateway's relay end to end: the real binary, fed the program's own requests, against an SNPP stand-in
// and a real SMTP server on loopback addresses of these tests' own.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <climits>
#include <sys/stat.h>

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
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 3)) << gateway.Output();
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 1)) << gateway.Output();

    // SNPP: the pager id without blanks, sender and callback in the text, line breaks through DATA.
    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].pagerId, "5551234567");
    EXPECT_EQ(pages[0].text, awkward + " (from A&B=C+D%, callback 555-0001)");
    EXPECT_FALSE(pages[0].viaData);
    EXPECT_EQ(pages[1].text, "first line\r\n.dot line\r\n..two dots (from Bob)");
    EXPECT_TRUE(pages[1].viaData);

    // Mail: logged in, addressed from the template, sender and callback in the subject, the text as sent.
    const auto messages = smtp.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].at("from"), "gateway@example.net");
    EXPECT_EQ(messages[0].at("to"), "5559876543@pager.example.net");
    EXPECT_EQ(messages[0].at("subject"), "Page from Ann & B\xE9=1%+2, callback 5550001111");
    EXPECT_EQ(messages[0].at("body"), "Ann said: 1+1=2 & 100%\r\n.caf\xE9 ok");

    // A refused recipient is final: in failed/ with the server's words, not retried.
    const std::string failed = folder.path + "/spool/failed/";
    ASSERT_EQ(FilesIn(failed, ".page").size(), 1u);
    EXPECT_NE(ReadFile(failed + FilesIn(failed, ".page")[0] + ".reason").find("550 5.1.1 no such pager here"),
              std::string::npos)
        << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying"), 0u) << gateway.Output();
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
    EXPECT_EQ(smtp.Messages().size(), 1u);
    EXPECT_EQ(FilesIn(strictFolder.path + "/spool", ".page").size(), 1u);
}

TEST(RelayTest, BusyUpstreamIsRetriedAndARefusalIsNot) {
    TempFolder folder;
    const std::string address = Address(2);
    SnppStandIn snpp(address);
    snpp.SetScript([](int connection, const std::string& verb) {
        return std::string(connection < 2 && verb == "greeting" ? "421 Too busy, try later" : "");
    });
    Gateway gateway(folder.path, address, {"--relay", "snpp://" + address + ":444"});
    ASSERT_EQ(gateway.Send('V', "after two tries", "5551111111", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 1)) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.2 s: Verizon page"), 1u) << gateway.Output();
    EXPECT_EQ(Count(gateway.Output(), "retrying in 0.4 s: Verizon page"), 1u) << gateway.Output();
    EXPECT_NE(gateway.Output().find("421 Too busy, try later"), std::string::npos);

    snpp.SetScript([](int, const std::string& verb) {
        return std::string(verb == "PAGE" ? "550 Error, Invalid Pager ID" : "");
    });
    ASSERT_EQ(gateway.Send('U', "never to go", "5550000550", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("failed: ", 1)) << gateway.Output();
    snpp.SetScript(nullptr);
    ASSERT_EQ(gateway.Send('U', "next one goes", "5552222222", "", ""), 200);
    ASSERT_TRUE(gateway.WaitForLines("relayed: ", 2)) << gateway.Output();

    EXPECT_EQ(snpp.Pages().size(), 2u);
    EXPECT_EQ(snpp.Commands("PAGE"), 3);  // the refused page was offered once
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
    {
        Gateway gateway(folder.path, address, relay);  // nothing listens for SNPP yet
        ASSERT_EQ(gateway.Send('M', "while the network is down", "5553333333", "Ann", "5550002222"), 200);
        ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
        EXPECT_NE(gateway.Output().find("Connection refused"), std::string::npos) << gateway.Output();
        // Killed the moment the answer is in: the page is on disk before the answer leaves.
        ASSERT_EQ(gateway.Send('V', "just acknowledged", "5554444444", "", ""), 200);
        gateway.KillHard();
    }
    // What a crash can leave besides whole pages: a half-written file and a damaged one.
    const std::string spool = folder.path + "/spool/";
    std::ofstream(spool + "000000000007.page.partial") << "paging_gateway spool 1\ncarrier 4:AT";
    std::ofstream(spool + "000000000008.page") << "paging_gateway spool 1\ncarrier 4:AT&T\nphone 99:555\nend\n";

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
    ASSERT_TRUE(restarted.WaitForLines("relayed: ", 2)) << restarted.Output();
    ASSERT_TRUE(restarted.WaitForLines("failed: spool file 000000000008.page", 1)) << restarted.Output();
    ASSERT_EQ(snpp.Pages().size(), 2u);
    EXPECT_EQ(snpp.Pages()[0].text, "while the network is down (from Ann, callback 5550002222)");
    EXPECT_EQ(snpp.Pages()[1].text, "just acknowledged");
    EXPECT_TRUE(FilesIn(spool, ".page").empty());
    EXPECT_TRUE(FilesIn(spool, ".partial").empty());
    EXPECT_NE(ReadFile(spool + "failed/000000000008.page.reason").find("unreadable spool file"), std::string::npos);

    // A later page takes a new name: nothing already in failed/ is overwritten.
    ASSERT_EQ(restarted.Send('M', "after the restart", "5553333333", "", ""), 200);
    ASSERT_TRUE(restarted.WaitForLines("relayed: ", 3)) << restarted.Output();
    EXPECT_EQ(snpp.Pages().size(), 3u);
    EXPECT_NE(restarted.Output().find("page 000000000009.page"), std::string::npos) << restarted.Output();
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
        sent.push_back("555000000" + std::to_string(i));
        ASSERT_EQ(gateway.Send("MACSUV"[i % 6], "page " + std::to_string(i), sent.back(), "", "", &took), 200);
        EXPECT_LT(took.count(), 1000) << "page " << i;
    }
    ASSERT_TRUE(gateway.WaitForLines("retrying in ", 1)) << gateway.Output();
    EXPECT_NE(gateway.Output().find("no reply within 1000 ms"), std::string::npos) << gateway.Output();
    snpp.Release();

    ASSERT_TRUE(gateway.WaitForLines("relayed: ", sent.size())) << gateway.Output();
    const auto pages = snpp.Pages();
    ASSERT_EQ(pages.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(pages[i].pagerId, sent[i]) << "in the order they came";
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
