// The gateway as a service: its command line, its credentials file, its log, and its run started and stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "paging_gateway/intake/server.h"
#include "paging_gateway/run_gateway.h"
#include "paging_gateway/service/command_line.h"
#include "paging_gateway/service/environment_file.h"
#include "paging_gateway/service/log_file.h"
#include "paging_gateway/platform/command_line_quote.h"
#include "paging_gateway/platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

// The two builds run at once, so each has addresses of its own.
#ifdef _WIN32
#define SERVICE_TEST_ADDRESS(n) "127.77.18.2" #n
#else
#define SERVICE_TEST_ADDRESS(n) "127.77.18.1" #n
#endif

namespace {

std::string Read(const std::string& path) {
    std::string bytes, error;
    return ReadSmallFile(path, 1 << 20, bytes, error) ? bytes : std::string();
}

// The service's command line and a notice program's are both read back by the C runtime.
TEST(GatewayService, QuotesArgumentsAsTheRuntimeReadsThemBack) {
    const struct {
        const char* argument;
        const char* quoted;
    } cases[] = {
        {"snpp://pager.example.net:444", "snpp://pager.example.net:444"},
        {"failed", "failed"},
        {"", "\"\""},
        {"C:\\Program Files\\mervasTX\\paging_gateway.exe", "\"C:\\Program Files\\mervasTX\\paging_gateway.exe\""},
        {"C:\\tools\\alarm.exe", "C:\\tools\\alarm.exe"},  // backslashes alone mean nothing
        {"C:\\a b\\", "\"C:\\a b\\\\\""},          // doubled before the closing quote
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
        {"tab\there", "\"tab\there\""},
        {"two  blanks", "\"two  blanks\""},
    };
    std::vector<std::string> arguments = {"C:\\Program Files\\mervasTX\\alarm.exe"};
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted) << c.argument;
        arguments.push_back(c.argument);
    }
    const std::string line = WindowsCommandLine(arguments);
    const std::string start = "\"C:\\Program Files\\mervasTX\\alarm.exe\" snpp://pager.example.net:444 failed \"\" ";
    EXPECT_EQ(line.substr(0, start.size()), start);
#ifdef _WIN32
    // Windows' own reading of the whole line gives every argument back.
    int count = 0;
    const std::wstring wide(line.begin(), line.end());
    LPWSTR* read = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(count, static_cast<int>(arguments.size()));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(std::wstring(read[i]), std::wstring(arguments[i].begin(), arguments[i].end()));
    LocalFree(read);
#endif
}

TEST(GatewayService, TakesOnlyOptionsAServiceCanRunWith) {
    const struct {
        std::vector<std::string> options;
        const char* error;  // nullptr: taken
    } cases[] = {
        {{"--relay", "snpp://pager.example.net", "--retry-first", "500"}, nullptr},
        {{"--relay", "snpp://h", "--spool", "C:\\x"}, "leave --spool out"},
        {{"--once"}, "leave --once out"},
        {{"--count", "5"}, "leave --count out"},
        {{"--relay", "http://h"}, "http://h"},
        {{"--bogus"}, "unknown option --bogus"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckServiceOptions(c.options, error), c.error == nullptr) << error;
        if (c.error != nullptr) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

TEST(GatewayService, CredentialsFileKeepsValuesAndNeverShowsThem) {
    const Variables written = {{"PAGING_GATEWAY_WCTP_SENDER", "dispatch"},
                               {"PAGING_GATEWAY_WCTP_SECURITY_CODE", "s3cr=t #1 "},
                               {"PAGING_GATEWAY_SNPP_PASSWORD", "hfaxd's"}};
    std::string text, error;
    ASSERT_TRUE(EnvironmentFileText(written, text, error)) << error;
    Variables read;
    ASSERT_TRUE(ParseEnvironmentFile("# logins\r\n\r\n" + text, read, error)) << error;
    EXPECT_EQ(read, written);

    EXPECT_FALSE(EnvironmentFileText({{"PAGING_GATEWAY_SMTP_PASSWORD", "two\nlines"}}, text, error));
    for (const char* bad : {"PAGING_GATEWAY_SMTP_USER=u\nPATH=C:\\evil\n", "PAGING_GATEWAY_SMTP_USER=u\nhunter2\n"}) {
        EXPECT_FALSE(ParseEnvironmentFile(bad, read, error)) << bad;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
        EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
        EXPECT_EQ(error.find("evil"), std::string::npos) << error;
    }
}

TEST(GatewayService, LogRotatesAndStaysBounded) {
    const std::string path = testing::TempDir() + "gateway_service_test.log";
    auto removeAll = [&] {
        for (const char* end : {"", ".1", ".2", ".3"}) std::remove((path + end).c_str());
    };
    removeAll();
    constexpr std::uintmax_t LIMIT = 300;
    {
        LogFile log(path, LIMIT, 2);
        ASSERT_TRUE(log.IsOpen());
        log.Err() << "paging_gateway: cannot " << "listen\n";
        log.Err() << "paging_gateway: another program uses port 80\n";
        EXPECT_EQ(log.RecentErrors(), "paging_gateway: cannot listen\npaging_gateway: another program uses port 80\n");
    }
    {
        LogFile log(path, LIMIT, 2);  // a restart appends, and counts what the file already holds
        for (int i = 10; i < 40; ++i) log.Out() << "page line " << i << "\n";
    }
    std::string all;
    for (const char* end : {".2", ".1", ""}) {
        const std::string part = Read(path + end);
        EXPECT_LE(part.size(), LIMIT) << end;
        EXPECT_FALSE(part.empty()) << end;
        all += part;
    }
    EXPECT_TRUE(Read(path + ".3").empty());
    // The newest lines, in order, none lost between the files, each with its time and the platform's line end.
#ifdef _WIN32
    const std::string end = "\r\n";
#else
    const std::string end = "\n";
#endif
    size_t at = all.find("page line 39" + end);
    ASSERT_NE(at, std::string::npos) << all;
    EXPECT_EQ(at + 12 + end.size(), all.size());
    for (int i = 38; i >= 30; --i) {
        const size_t earlier = all.rfind(" page line " + std::to_string(i) + end, at);
        ASSERT_NE(earlier, std::string::npos) << i << ": " << all;
        EXPECT_EQ(all[earlier - 9], ' ');  // "YYYY-MM-DD HH:MM:SS page line N"
        at = earlier;
    }
    removeAll();
}

TEST(GatewayService, RunSaysWhyItCannotStartAndStopsWhenAsked) {
    GatewayOptions options;
    options.address = SERVICE_TEST_ADDRESS(1);
    PagingServer holder;
    std::string error;
    ASSERT_TRUE(holder.Listen(options.address, 80, error)) << error;
    std::ostringstream out, err;
    std::atomic<bool> stop{false};
    EXPECT_EQ(RunGateway(options, out, err, stop), 1);
    EXPECT_NE(err.str().find("another program uses port 80"), std::string::npos) << err.str();

    options.address = SERVICE_TEST_ADDRESS(2);
    std::promise<void> listening;
    std::ostringstream out2, err2;
    auto run = std::async(std::launch::async, [&] {
        return RunGateway(options, out2, err2, stop, [&] { listening.set_value(); });
    });
    ASSERT_EQ(listening.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << err2.str();
    stop = true;
    ASSERT_EQ(run.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(run.get(), 0);
}

}  // namespace
