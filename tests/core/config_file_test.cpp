// The gateway's configuration file: good files and what they set, bad files and what each one's message says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "paging_gateway/config/config_file.h"
#include "paging_gateway/config/config_text.h"
#include "paging_gateway/options.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("mervastx-config-" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string Write(const std::string& text, const char* name = "gateway.toml") {
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << text;
#ifndef _WIN32
        chmod(path.c_str(), 0600);
#endif
        return path;
    }

    // The options a command line with --config FILE gives; false, with the message, when it is refused.
    bool Parse(const std::string& text, std::vector<std::string> arguments, GatewayOptions& options,
               std::string& error) {
        const std::string path = Write(text);
        std::vector<const char*> argv{"paging_gateway", "--config", path.c_str()};
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        return ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    }

    fs::path folder;
};

TEST_F(ConfigFileTest, GoodFilesSetWhatTheCommandLineWould) {
    const struct {
        const char* text;
        void (*check)(const GatewayOptions&);
    } cases[] = {
        {"", [](const GatewayOptions& o) { EXPECT_TRUE(o.relay.routes.empty()); }},
        {"# only comments\n\n", [](const GatewayOptions& o) { EXPECT_EQ(o.port, 80); }},
        {"address = \"localhost\"\nport = 8080\nsessions = \"8\"\n",
         [](const GatewayOptions& o) {
             EXPECT_EQ(o.address, "127.0.0.1");
             EXPECT_EQ(o.port, 8080);
             EXPECT_EQ(o.relay.sessions, 8);
         }},
        {"retry-first = \"500ms\"\nretry-most = \"2m\"\nupstream-timeout = 9000\nwctp-poll = \"90s\"\n",
         [](const GatewayOptions& o) {
             EXPECT_EQ(o.relay.retryFirstMilliseconds, 500);
             EXPECT_EQ(o.relay.retryMostMilliseconds, 120000);
             EXPECT_EQ(o.relay.timeoutMilliseconds, 9000);  // a bare number in the option's old unit
             EXPECT_EQ(o.relay.wctp.pollMilliseconds, 90000);
         }},
        {"smtp-tls = true\nwctp-enterprise = false\nonce = true\n",
         [](const GatewayOptions& o) {
             EXPECT_TRUE(o.relay.mail.requireTls);
             EXPECT_FALSE(o.relay.wctp.enterprise);
             EXPECT_EQ(o.pageLimit, 1);
         }},
        {"status-allow = [\"192.168.1.0/24\", \"10.0.0.0/8\"]\nledger-pages = 50\n",
         [](const GatewayOptions& o) {
             EXPECT_EQ(o.statusAllow.size(), 2u);
             EXPECT_EQ(o.ledger.pages, 50u);
         }},
        // Routes in the file's order, one per carrier named, a route without carriers for the rest.
        {"[[route]]\ncarriers = [\"sprint\", \"AT&T\"]\nurl = \"snpp://a.example.net\"\n"
         "snpp-user = \"bob\"\nsnpp-password = \"pw\"\nsnpp-before-page = [\"LEVE 1\", \"ALER 0\"]\n"
         "snpp-max-length = 80\nsnpp-subject = true\nsnpp-send-timeout = \"90s\"\n"
         "[[route]]\nurl = \"snpp://b.example.net:4444\"\n",
         [](const GatewayOptions& o) {
             ASSERT_EQ(o.relay.routes.size(), 3u);
             EXPECT_EQ(o.relay.routes[0].carrier, "Sprint");
             EXPECT_EQ(o.relay.routes[1].carrier, "AT&T");
             EXPECT_EQ(o.relay.routes[2].carrier, "");
             EXPECT_EQ(o.relay.routes[2].url.text, "snpp://b.example.net:4444");
             const SnppSettings& snpp = o.relay.routes[1].snpp;
             EXPECT_EQ(snpp.user, "bob");
             EXPECT_EQ(snpp.password, "pw");
             EXPECT_EQ(snpp.beforePage, (std::vector<std::string>{"LEVE 1", "ALER 0"}));
             EXPECT_EQ(snpp.maxLength, 80u);
             EXPECT_TRUE(snpp.senderInSubject);
             EXPECT_EQ(snpp.sendTimeoutMilliseconds, 90000);
             EXPECT_EQ(o.relay.routes[2].snpp.user, "");  // each route its own
         }},
        // Top-level snpp- keys serve the SNPP routes without keys of their own; a route's own stand.
        {"snpp-user = \"gw\"\nsnpp-password = \"top\"\nsnpp-max-length = 128\n"
         "[[route]]\ncarriers = [\"Sprint\"]\nurl = \"snpp://a.example.net\"\nsnpp-user = \"own\"\n"
         "[[route]]\nurl = \"snpp://b.example.net\"\n",
         [](const GatewayOptions& o) {
             ASSERT_EQ(o.relay.routes.size(), 2u);
             EXPECT_EQ(o.relay.routes[0].snpp.user, "own");
             EXPECT_EQ(o.relay.routes[0].snpp.maxLength, 0u);
             EXPECT_EQ(o.relay.routes[1].snpp.user, "gw");
             EXPECT_EQ(o.relay.routes[1].snpp.password, "top");
             EXPECT_EQ(o.relay.routes[1].snpp.maxLength, 128u);
         }},
        {"relay = [\"Verizon=snpp://v.example.net\"]\n",
         [](const GatewayOptions& o) {
             ASSERT_EQ(o.relay.routes.size(), 1u);
             EXPECT_EQ(o.relay.routes[0].carrier, "Verizon");
         }},
#ifndef _WIN32
        {"mail-from = \"pages@example.net\"\nmail-to = \"{phone}@pager.example.net\"\nsmtp-user = \"u\"\n"
         "smtp-password = \"secret\"\n[[route]]\nurl = \"smtp://mail.example.net\"\n",
         [](const GatewayOptions& o) {
             EXPECT_EQ(o.relay.mail.user, "u");
             EXPECT_EQ(o.relay.mail.password, "secret");
         }},
#endif
    };
    for (const auto& c : cases) {
        GatewayOptions options;
        std::string error;
        EXPECT_TRUE(Parse(c.text, {}, options, error)) << c.text << "\n" << error;
        c.check(options);
    }
}

TEST_F(ConfigFileTest, BadFilesNameTheFileTheLineAndTheKey) {
    const struct {
        const char* text;
        const char* message;  // after "PATH:"
    } cases[] = {
        {"port = 80\nprot = 81\n", "2: prot: unknown key"},
        {"port = true\n", "1: port: needs a string or a whole number, not true or false"},
        {"port = 8.5\n", "1: port: needs a string or a whole number, not a number with a fraction"},
        {"port = 99999\n", "1: port: not a port number (1-65535): 99999"},
        {"smtp-tls = \"yes\"\n", "1: smtp-tls: needs true or false, not a string"},
        {"address = [\"1.2.3.4\", \"5.6.7.8\"]\n", "1: address: takes one value, not an array"},
        {"\n\nretry-first = \"5 s\"\n", "3: retry-first: --retry-first needs a duration"},
        {"config = \"other.toml\"\n", "1: config: belongs on the command line"},
        {"help = true\n", "1: help: belongs on the command line"},
        {"port = 1\nport = 2\n", "2: "},  // toml++'s own words for a key given twice
        {"port = \n", "1: "},
        {"[[route]]\ncarriers = [\"Sprint\"]\n", "1: route: a [[route]] needs url"},
        {"[[route]]\nurl = \"snpp://a\"\ncarriers = \"Sprint\"\n", "3: route.carriers: needs an array"},
        {"[[route]]\nurl = \"snpp://a\"\ncarriers = [\"Nextel\"]\n", "2: route.url: no carrier is called Nextel"},
        {"[[route]]\nurl = \"gopher://a\"\n", "2: route.url: "},
        {"[[route]]\nurl = \"snpp://a\"\nport = 80\n", "3: port: unknown key in a [[route]]"},
        {"[[route]]\nurl = \"snpp://a\"\nsnpp-max-length = 0\n", "3: snpp-max-length: needs a whole number"},
        {"[[route]]\nurl = \"snpp://a\"\nsnpp-before-page = \"LEVE 1\"\n", "3: snpp-before-page: needs an array"},
        {"[[route]]\nurl = \"snpp://a\"\nsnpp-send-timeout = \"soon\"\n", "3: snpp-send-timeout: needs a duration"},
        {"[[route]]\nurl = \"wctp+http://w.example.net/wctp\"\nsnpp-user = \"bob\"\n",
         "3: route.snpp-user: the snpp- keys are for an snpp:// route"},
        {"[[route]]\nurl = \"snpp://a\"\n[[route]]\nurl = \"snpp://a\"\n", "4: route.url: --relay snpp://a:444 twice"},
        {"[[route]]\nurl = \"snpp://a\"\nsnpp-user = \"gw\"\nsnpp-password = \"two words\"\n",
         "4: snpp-password: needs printable characters without blanks"},
        {"route = \"snpp://a\"\n", "1: route: needs [[route]] tables"},
    };
    for (const auto& c : cases) {
        GatewayOptions options;
        std::string error;
        EXPECT_FALSE(Parse(c.text, {}, options, error)) << c.text;
        const std::string expected = (folder / "gateway.toml").string() + ":" + c.message;
        EXPECT_EQ(error.compare(0, expected.size(), expected), 0) << c.text << "\nexpected: " << expected
                                                                   << "\nmessage:  " << error;
    }
}

TEST_F(ConfigFileTest, TheCommandLineWinsAndItsRelayReplacesTheFilesRoutes) {
    const char* text =
        "port = 8080\nstatus-allow = [\"10.0.0.0/8\"]\nretry-first = \"1s\"\n"
        "[[route]]\ncarriers = [\"Sprint\"]\nurl = \"snpp://file.example.net\"\n";
    GatewayOptions options;
    std::string error;
    ASSERT_TRUE(Parse(text, {"--port", "9090", "--relay", "snpp://line.example.net", "--status-allow",
                             "192.168.0.0/16"},
                      options, error))
        << error;
    EXPECT_EQ(options.port, 9090);
    EXPECT_EQ(options.relay.retryFirstMilliseconds, 1000);  // the file's, where the command line is silent
    ASSERT_EQ(options.relay.routes.size(), 1u);
    EXPECT_EQ(options.relay.routes[0].url.text, "snpp://line.example.net:444");
    EXPECT_EQ(options.relay.routes[0].carrier, "");
    ASSERT_EQ(options.statusAllow.size(), 1u);  // replaced, not added to

    // The file is read first wherever --config stands, and a bad option on the command line is still refused.
    GatewayOptions before;
    const std::string path = Write(text);
    const char* argv[] = {"paging_gateway", "--port", "7070", "--config", path.c_str()};
    ASSERT_TRUE(ParseOptions(5, argv, before, error)) << error;
    EXPECT_EQ(before.port, 7070);
    EXPECT_FALSE(Parse(text, {"--port", "0"}, options, error));
    EXPECT_FALSE(Parse(text, {"--check-config", "other.toml"}, options, error));
    EXPECT_EQ(error, "one configuration file at a time");
}

// Sets (or, given null, clears) both WCTP login variables.
void SetWctpLogins(const char* sender, const char* code) {
#ifdef _WIN32
    _putenv_s(WCTP_SENDER_VARIABLE, sender ? sender : "");
    _putenv_s(WCTP_SECURITY_CODE_VARIABLE, code ? code : "");
#else
    for (const auto& variable : {std::make_pair(WCTP_SENDER_VARIABLE, sender), std::make_pair(WCTP_SECURITY_CODE_VARIABLE, code)})
        variable.second ? setenv(variable.first, variable.second, 1) : unsetenv(variable.first);
#endif
}

TEST_F(ConfigFileTest, EnvironmentLoginsWinOverTheFiles) {
    const char* text = "wctp-sender = \"file-sender\"\nwctp-security-code = \"file-code\"\n"
                       "[[route]]\nurl = \"wctp+http://w.example.net/wctp\"\n";
    GatewayOptions options;
    std::string error;
    ASSERT_TRUE(Parse(text, {}, options, error)) << error;
    SetWctpLogins(nullptr, nullptr);
    WctpSettings fromFile = options.relay.wctp;
    ASSERT_TRUE(ReadWctpCredentials(options.relay, fromFile, error)) << error;
    EXPECT_EQ(fromFile.senderId, "file-sender");
    EXPECT_EQ(fromFile.securityCode, "file-code");
    SetWctpLogins("env-sender", "env-code");
    WctpSettings fromEnvironment = options.relay.wctp;
    ASSERT_TRUE(ReadWctpCredentials(options.relay, fromEnvironment, error)) << error;
    EXPECT_EQ(fromEnvironment.senderId, "env-sender");
    EXPECT_EQ(fromEnvironment.securityCode, "env-code");
    SetWctpLogins(nullptr, nullptr);
}

#ifndef _WIN32
TEST_F(ConfigFileTest, RefusesASecretOthersMayRead) {
    const std::string path = Write("wctp-security-code = \"s3cret\"\n");
    ConfigFile file;
    std::string error;
    EXPECT_TRUE(ReadConfigFile(path, file, error)) << error;
    chmod(path.c_str(), 0640);
    EXPECT_FALSE(ReadConfigFile(path, file, error));
    EXPECT_EQ(error, path + " holds a secret (wctp-security-code) but other users may read it: chmod 600 " + path);
    EXPECT_EQ(error.find("s3cret"), std::string::npos);
    // Without a secret, a readable file is fine.
    const std::string open = Write("port = 81\n[[route]]\nurl = \"snpp://a\"\nsnpp-password = \"\"\n", "open.toml");
    chmod(open.c_str(), 0644);
    EXPECT_TRUE(ReadConfigFile(open, file, error)) << error;
}
#endif

TEST_F(ConfigFileTest, AWrittenFileReadsBackAsTheOptionsItWasWrittenFrom) {
    const std::vector<std::string> given = {"--relay", "AT&T=snpp://a.example.net", "--relay", "snpp://b \"quoted\"",
                                            "--wctp-enterprise", "--status-allow", "10.0.0.0/8", "--status-allow",
                                            "192.168.1.0/24", "--retry-first", "500ms", "--spool", "C:\\Data\\spool"};
    ConfigLogins logins;
    logins.wctpSender = "sender";
    logins.wctpSecurityCode = "c\"o\\de";
    bool secret = false;
    const std::string text = ConfigText(given, logins, secret);
    EXPECT_TRUE(secret);
    ConfigFile file;
    std::string error;
    ASSERT_TRUE(ParseConfigText(text, "written.toml", file, error)) << error << "\n" << text;
    std::vector<std::string> read;
    for (const ConfigSetting& setting : file.settings) {
        read.push_back(setting.option);
        if (!setting.value.empty()) read.push_back(setting.value);
    }
    // Routes keep their order; the other options may come in another.
    const std::vector<std::string> routes = {"--relay", "AT&T=snpp://a.example.net", "--relay", "snpp://b \"quoted\""};
    EXPECT_NE(std::search(read.begin(), read.end(), routes.begin(), routes.end()), read.end()) << text;
    EXPECT_EQ(read.size(), given.size()) << text;
    for (const char* expected : {"--wctp-enterprise", "10.0.0.0/8", "192.168.1.0/24", "500ms", "C:\\Data\\spool"})
        EXPECT_NE(std::find(read.begin(), read.end(), expected), read.end()) << expected << "\n" << text;
    EXPECT_EQ(file.wctpSecurityCode, "c\"o\\de");
    EXPECT_EQ(file.secretKey, "wctp-security-code");

    std::string stripped;
    int removed = 0;
    ASSERT_TRUE(ConfigWithoutSecrets(text, stripped, removed, error)) << error;
    EXPECT_EQ(removed, 1);
    ASSERT_TRUE(ParseConfigText(stripped, "stripped.toml", file, error)) << error;
    EXPECT_EQ(file.secretKey, "");
    EXPECT_EQ(file.wctpSender, "sender");
    EXPECT_EQ(file.settings.size(), 7u);

    bool none = true;
    ConfigText({"--port", "81"}, ConfigLogins(), none);
    EXPECT_FALSE(none);
}

// The example that ships in both packages: every key there, and good both as it ships and with every key set.
TEST_F(ConfigFileTest, TheExampleNamesEveryKeyAndChecksOut) {
    const std::string example = std::string(MERVASTX_RES_DIR) + "/../paging_gateway/service/paging_gateway.toml";
    std::ifstream in(example, std::ios::binary);
    ASSERT_TRUE(in) << example;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* const* table : {GATEWAY_FLAGS, GATEWAY_VALUE_OPTIONS})
        for (const char* const* option = table; *option != nullptr; ++option) {
            const std::string key = std::string(*option).substr(2);
            if (key.empty() || key == "help" || key == "config" || key == "check-config") continue;
            EXPECT_NE(text.find("\n#" + key + " = "), std::string::npos) << "the example lacks " << key;
        }
    for (const char* key : {"smtp-password", "wctp-sender", "wctp-security-code", "snpp-user", "snpp-password",
                            "snpp-before-page", "snpp-max-length", "snpp-subject", "snpp-send-timeout"})
        EXPECT_NE(text.find("\n#" + std::string(key) + " = "), std::string::npos) << "the example lacks " << key;

    GatewayOptions shipped;
    std::string error;
    EXPECT_TRUE(Parse(text, {}, shipped, error)) << error;
    EXPECT_TRUE(shipped.relay.routes.empty());
#ifndef _WIN32
    // Every "#key" line set (prose comments have a blank after the "#"); e-mail and --ca-file are Linux's.
    std::string set;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        if (line.size() > 1 && line[0] == '#' && line[1] != ' ') line.erase(0, 1);
        set += line + "\n";
        start = end + 1;
    }
    GatewayOptions full;
    ASSERT_TRUE(Parse(set, {}, full, error)) << error << "\n" << set;
    ASSERT_TRUE(ReadWctpCredentials(full.relay, full.relay.wctp, error)) << error;
    ASSERT_TRUE(ReadMailCredentials(full.relay.mail, error)) << error;
    ASSERT_EQ(full.relay.routes.size(), 6u);
    EXPECT_EQ(full.relay.routes[1].carrier, "Sprint");
    EXPECT_EQ(full.relay.routes[1].snpp.user, "gateway");
    EXPECT_EQ(full.relay.routes[5].carrier, "");
#endif
}

}  // namespace
