// The local paging gateway reads the program's own requests back into the five fields of a page.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/assemble.h"
#include "gateway/delivery.h"
#include "gateway/request.h"
#include "common/text.h"
#include "paging_gateway/intake/http.h"
#include "paging_gateway/options.h"
#include "paging_gateway/intake/server.h"
#include "paging_gateway/status/gateway_status.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

// Addresses of these tests' own; the two builds use different ranges so both can run at once.
#ifdef _WIN32
#define PAGING_TEST_ADDRESS(n) "127.77.4." #n
#define STATUS_TEST_ADDRESS "127.77.16.4"
#else
#define PAGING_TEST_ADDRESS(n) "127.77.3." #n
#define STATUS_TEST_ADDRESS "127.77.16.3"
#endif

namespace {

struct Input {
    const char* message;
    const char* phone;
    const char* sender;
    const char* callback;
};

const Input SAMPLE = {"hi there", "5551234567", "Bob", "5550001111"};

// The request text the real core assembles, filled the way the send command fills the record.
std::string ProgramRequest(char code, const Input& input) {
    GatewayRequest request{};
    EncodeSender(request, input.sender);
    EncodeCallback(request, input.callback);
    ApplyGatewayProfile(request, code);
    EncodeMessage(request, input.message);
    SetPhoneNumber(request, input.phone);
    AssembleRequest(request);
    return request.requestText;
}

Page Decoded(const std::string& text) {
    HttpRequest request;
    std::string problem;
    Page page;
    EXPECT_EQ(ExamineRequest(text, request, problem), RequestState::Complete) << problem << "\n" << text;
    EXPECT_EQ(ReadRequestPage(request, page, problem), 200) << problem << "\n" << text;
    return page;
}

void ExpectPage(const Page& page, const char* carrier, const Input& input) {
    ASSERT_NE(page.carrier, nullptr);
    EXPECT_STREQ(page.carrier->displayName, carrier);
    EXPECT_EQ(page.phoneNumber, input.phone);
    EXPECT_EQ(page.message, input.message);
    EXPECT_EQ(page.sender.value_or("(none)"), *input.sender ? input.sender : "(none)");
    EXPECT_EQ(page.callback.value_or("(none)"), *input.callback ? input.callback : "(none)");
}

RequestState Examined(const std::string& text) {
    HttpRequest request;
    std::string problem;
    return ExamineRequest(text, request, problem);
}

}  // namespace

TEST(PagingGatewayDecode, EachCarrierGivesBackTheFiveFields) {
    for (const Carrier& carrier : CARRIER_TABLE) {
        SCOPED_TRACE(carrier.displayName);
        ExpectPage(Decoded(ProgramRequest(carrier.carrierCode, SAMPLE)), carrier.displayName, SAMPLE);
    }
}

TEST(PagingGatewayDecode, EscapedCharactersComeBackAsTyped) {
    // Single blanks only in the texts: the program itself folds runs of blanks (but not in the phone number).
    const Input awkward = {"Tom & Jerry = 50%+1? #2\r\nnext line caf\xE9", "555  12&3+4", "A&B=C+D%", "555-000 11"};
    for (const Carrier& carrier : CARRIER_TABLE) {
        SCOPED_TRACE(carrier.displayName);
        ExpectPage(Decoded(ProgramRequest(carrier.carrierCode, awkward)), carrier.displayName, awkward);
    }
    // A callback of any characters, where the carrier gives it a key of its own.
    const Input oddCallback = {"x", "1", "Bob", "#1+2&3=4%"};
    for (char code : {'A', 'C', 'S', 'U', 'V'}) ExpectPage(Decoded(ProgramRequest(code, oddCallback)),
                                                           CarrierByCode(code)->displayName, oddCallback);
}

TEST(PagingGatewayDecode, OptionalPartsLeftOutStayAbsent) {
    const Input variants[] = {{"hi there", "5551234567", "", "5550001111"},
                              {"hi there", "5551234567", "Bob", ""},
                              {"hi there", "5551234567", "", ""}};
    for (const Carrier& carrier : CARRIER_TABLE)
        for (const Input& input : variants) {
            SCOPED_TRACE(std::string(carrier.displayName) + " sender '" + input.sender + "' callback '" +
                         input.callback + "'");
            ExpectPage(Decoded(ProgramRequest(carrier.carrierCode, input)), carrier.displayName, input);
        }
}

TEST(PagingGatewayDecode, JoinedPartsSplitWhereTheProgramJoinedThem) {
    const Input joins[] = {
        {"meet me -from now on", "1", "Bob", ""},       // Sprint: the last " -from " is the program's
        {"hi", "1", "Jean-Luc", "555-0001"},             // Ameritech: dashes on both sides of the join
        {"hi", "1", "R2-D2", "5550001111"},
        {"hi", "1", "Jean-Luc", ""},                      // no callback: "Luc" cannot be one
        {"well-known fact", "1", "", ""},
        {"hi", "1", "", "5 5.5-5"},
    };
    for (const Input& input : joins) {
        SCOPED_TRACE(std::string(input.message) + " / " + input.sender + " / " + input.callback);
        ExpectPage(Decoded(ProgramRequest('S', input)), "Sprint", input);
        ExpectPage(Decoded(ProgramRequest('M', input)), "Ameritech", input);
    }

    // What the request cannot tell apart is read the one documented way.
    std::string text, tail;
    EXPECT_TRUE(SplitJoinedCallback("room-101", text, tail));
    EXPECT_EQ(text + "|" + tail, "room|101");
    EXPECT_FALSE(SplitJoinedCallback("x-12345678901", text, tail));  // longer than any callback
    EXPECT_FALSE(SplitJoinedCallback("x-5-", text, tail));
    EXPECT_FALSE(SplitJoinedSender("ends -from ", text, tail));
    EXPECT_TRUE(SplitJoinedSender(" -from Bob", text, tail));
    EXPECT_EQ(text + "|" + tail, "|Bob");
}

TEST(PagingGatewayRequest, TruncatedRequestsWaitForTheRest) {
    for (char code : {'V', 'S'}) {
        const std::string whole = ProgramRequest(code, SAMPLE);
        // The POST's closing blank line after the body is extra: the request is complete without it.
        const size_t complete = IsPostMethod(CarrierByCode(code)->profile.method) ? whole.size() - 4 : whole.size();
        for (size_t length = 0; length < complete; ++length) {
            HttpRequest request;
            std::string problem;
            const RequestState state = ExamineRequest(whole.substr(0, length), request, problem);
            ASSERT_EQ(state, RequestState::Incomplete) << code << " cut at " << length << ": " << problem;
            const Answer closed = AnswerConnection(state, request, problem, length, false);
            EXPECT_EQ(closed.status, length == 0 ? 0 : 400);
        }
        for (size_t length = complete; length <= whole.size(); ++length)
            ExpectPage(Decoded(whole.substr(0, length)), CarrierByCode(code)->displayName, SAMPLE);
    }
    EXPECT_EQ(AnswerConnection(RequestState::Incomplete, HttpRequest{}, "", 7, true).line,
              "bad request: incomplete request (7 bytes), timed out");
}

TEST(PagingGatewayRequest, MalformedRequestsAreRejected) {
    const std::string badRequests[] = {
        "\r\n\r\n", "GET\r\n\r\n", "GET /stage2.shtml?min=1&msg=x\r\n\r\n", "get /stage2.shtml HTTP/1.0\r\n\r\n",
        "GET stage2.shtml HTTP/1.0\r\n\r\n", "GET /a b HTTP/1.0\r\n\r\n", "GET /stage2.shtml FTP/1.0\r\n\r\n",
        std::string("GET /\x01 HTTP/1.0\r\n\r\n"), "GET / HTTP/1.0\r\nno colon here\r\n\r\n",
        "POST /messagecenter/pagersend.cgi HTTP/1.0\r\n\r\npin=1&message=x",
        "POST /messagecenter/pagersend.cgi HTTP/1.0\r\nContent-Length: 1x\r\n\r\npin=1",
        "POST /messagecenter/pagersend.cgi HTTP/1.0\r\nContent-Length: 3\r\ncontent-length: 4\r\n\r\npin=",
        std::string("\x16\x03\x01\x00\xFF garbage\n", 14)};
    for (const std::string& text : badRequests) {
        HttpRequest request;
        std::string problem;
        const RequestState state = ExamineRequest(text, request, problem);
        EXPECT_EQ(state, RequestState::Bad) << text;
        EXPECT_EQ(AnswerConnection(state, request, problem, text.size(), false).status, 400) << text;
    }

    // Well-formed, but no carrier answers it, or the carrier's form lacks a field.
    const struct {
        const char* text;
        int status;
        const char* line;
    } refused[] = {
        {"GET /nothing?a=1 HTTP/1.0\r\n\r\n", 404, "unknown request: GET \"/nothing?a=1\""},
        {"GET /customer_site/jsp/disclaimer.jsp?min=1&text=x HTTP/1.0\r\n\r\n", 404,
         "unknown request: GET \"/customer_site/jsp/disclaimer.jsp?min=1&text=x\""},
        {"POST /stage2.shtml HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 404, "unknown request: POST \"/stage2.shtml\""},
        {"GET /stage2.shtml HTTP/1.0\r\n\r\n", 400, "bad request: Cingular page without \"min\""},
        {"GET /BMG/sendmessage.jsp?phoneMin=1&message=x HTTP/1.0\r\n\r\n", 400,
         "bad request: Sprint page without \"msg\""},
    };
    for (const auto& request : refused) {
        HttpRequest parsed;
        std::string problem;
        ASSERT_EQ(ExamineRequest(request.text, parsed, problem), RequestState::Complete) << request.text;
        const Answer answer = AnswerRequest(parsed);
        EXPECT_EQ(answer.status, request.status);
        EXPECT_EQ(answer.line, request.line);
    }
}

TEST(PagingGatewayRequest, OversizedRequestsAreRejected) {
    EXPECT_EQ(Examined("GET /" + std::string(MAX_REQUEST_BYTES, 'a')), RequestState::TooLarge);
    EXPECT_EQ(Examined("GET / HTTP/1.0\r\nX: " + std::string(MAX_REQUEST_BYTES, 'a') + "\r\n\r\n"),
              RequestState::TooLarge);
    const std::string post = "POST /messagecenter/pagersend.cgi HTTP/1.0\r\nContent-Length: ";
    EXPECT_EQ(Examined(post + std::to_string(MAX_REQUEST_BYTES) + "\r\n\r\n"), RequestState::TooLarge);
    EXPECT_EQ(Examined(post + "99999999999999999999999\r\n\r\n"), RequestState::TooLarge);
    EXPECT_EQ(Examined(post + "10000\r\n\r\n"), RequestState::Incomplete);  // within bounds: more may come
    EXPECT_EQ(AnswerConnection(RequestState::TooLarge, HttpRequest{}, "too big", 1, false).status, 413);
}

TEST(PagingGatewayRequest, DamagedRequestsNeverBreakTheLine) {
    // Random damage to real requests: whatever comes out is one clean line and a known status.
    std::mt19937 random(20240601);
    std::vector<std::string> originals;
    for (const Carrier& carrier : CARRIER_TABLE) originals.push_back(ProgramRequest(carrier.carrierCode, SAMPLE));
    for (int round = 0; round < 3000; ++round) {
        std::string text = originals[static_cast<size_t>(round) % originals.size()];
        const int damage = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < damage; ++i) text[random() % text.size()] = static_cast<char>(random() % 256);
        HttpRequest request;
        std::string problem;
        const RequestState state = ExamineRequest(text, request, problem);
        const Answer answer = AnswerConnection(state, request, problem, text.size(), false);
        EXPECT_TRUE(answer.status == 200 || answer.status == 400 || answer.status == 404 || answer.status == 413)
            << answer.status;
        for (char c : answer.line) ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << answer.line;
    }
}

TEST(PagingGatewayForm, DecodesAsAFormServerDoes) {
    EXPECT_EQ(DecodeFormText("a+b%20c%2Bd%2b%e9"), "a b c+d+\xE9");
    EXPECT_EQ(DecodeFormText("100%"), "100%");
    EXPECT_EQ(DecodeFormText("%4"), "%4");
    EXPECT_EQ(DecodeFormText("%G1%%41"), "%G1%A");
    EXPECT_EQ(DecodeFormText("%00"), std::string(1, '\0'));

    const FormFields form = DecodeForm("&a=1&&b&a=2&c%3D=x%3Dy&=z");
    ASSERT_EQ(form.size(), 5u);
    EXPECT_EQ(*FormValue(form, "a"), "1");  // the first of a repeated key
    EXPECT_EQ(*FormValue(form, "b"), "");
    EXPECT_EQ(*FormValue(form, "c="), "x=y");
    EXPECT_EQ(*FormValue(form, ""), "z");
    EXPECT_EQ(FormValue(form, "A"), nullptr);
}

TEST(PagingGatewayLine, QuotesEveryTextSoNothingBreaksTheLine) {
    Page page;
    page.carrier = CarrierByCode('S');
    page.phoneNumber = "555 1234";
    page.message = "say \"hi\"\\\r\n\t\x01\x7F\xE9!";
    EXPECT_EQ(FormatPageLine(page), "page via Sprint: to \"555 1234\": \"say \\\"hi\\\"\\\\\\r\\n\\t\\x01\\x7F\\xE9!\"");
    page.sender = "";
    page.callback = "5550001111";
    EXPECT_EQ(FormatPageLine(page).substr(FormatPageLine(page).find("!\"")), "!\" from \"\" callback \"5550001111\"");
    EXPECT_EQ(AnswerRequest(HttpRequest{"GET", "/BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there%20-from%20"
                                               "Bob&callback=5550001111", ""})
                  .line,
              "page via Sprint: to \"5551234567\": \"hi there\" from \"Bob\" callback \"5550001111\"");

    for (int status : {200, 400, 404, 408, 413}) {
        const std::string response = ResponseText(status);
        const size_t body = response.find("\r\n\r\n") + 4;
        EXPECT_EQ(response.compare(0, 13, "HTTP/1.0 " + std::to_string(status) + " "), 0) << response;
        EXPECT_NE(response.find("Content-Length: " + std::to_string(response.size() - body) + "\r\n"),
                  std::string::npos)
            << response;
    }
}

TEST(PagingGatewayOptions, ReadsTheCommandLine) {
    auto parse = [](std::vector<const char*> args, GatewayOptions& options, std::string& error) {
        args.insert(args.begin(), "paging_gateway");
        return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
    };
    GatewayOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_EQ(options.port, 80);
    EXPECT_EQ(options.pageLimit, 0);

    ASSERT_TRUE(parse({"--address", "127.77.3.9", "--port", "8080", "--count", "3"}, options, error)) << error;
    EXPECT_EQ(options.address, "127.77.3.9");
    EXPECT_EQ(options.port, 8080);
    EXPECT_EQ(options.pageLimit, 3);
    ASSERT_TRUE(parse({"--address", "localhost", "--once", "--help"}, options, error));
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_EQ(options.pageLimit, 1);
    EXPECT_TRUE(options.showHelp);

    ASSERT_TRUE(parse({"--status-allow", "10.1.2.3/8", "--status-allow", "192.168.1.9", "--ledger-pages", "500"},
                      options, error))
        << error;
    ASSERT_EQ(options.statusAllow.size(), 2u);
    EXPECT_TRUE(ClientAllowed("10.200.0.1", options.statusAllow) && ClientAllowed("192.168.1.9", options.statusAllow));
    EXPECT_FALSE(ClientAllowed("192.168.1.10", options.statusAllow) || ClientAllowed("11.0.0.1", options.statusAllow));
    EXPECT_EQ(options.ledger.pages, 500u);
    EXPECT_EQ(options.ledger.days, 30);

    const std::vector<std::vector<const char*>> wrong = {
        {"--port", "0"},      {"--port", "65536"},        {"--port", "8o"},   {"--port"},       {"--count", "0"},
        {"--count", "-2"},    {"--address", "127.1"},     {"--address", "300.0.0.1"}, {"--address", "1.2.3.4."},
        {"--verbose"},        {"--status-allow", "10.0.0.0/33"}, {"--status-allow", "10.0.0/8"}, {"--ledger-days", "0"}};
    for (const auto& args : wrong) {
        GatewayOptions fresh;
        error.clear();
        EXPECT_FALSE(parse(args, fresh, error)) << args[0];
        EXPECT_NE(error, "");
    }
}

namespace {

// A small receive buffer (`receiveBuffer` bytes) keeps a large answer from fitting in the sockets' buffers.
SocketHandle ConnectTo(const char* address, int receiveBuffer = 0) {
    StartSockets();
    SocketHandle handle = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        setsockopt(handle, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    sockaddr_in where;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(80);
    where.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(connect(handle, reinterpret_cast<const sockaddr*>(&where), sizeof where), 0);
    return handle;
}

std::string ReadToEnd(SocketHandle handle) {
    std::string received;
    char chunk[16384];
    for (long got; (got = recv(handle, chunk, sizeof chunk, 0)) > 0;) received.append(chunk, static_cast<size_t>(got));
    return received;
}

bool ReadableWithin(SocketHandle handle, long milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval wait{0, milliseconds * 1000};
    return select(static_cast<int>(handle) + 1, &readable, nullptr, nullptr, &wait) > 0;
}

// Stops and joins the serving thread however the test ends, so a failure cannot leave it running.
struct ServingThread {
    PagingServer& server;
    std::thread thread;
    ~ServingThread() {
        server.Stop();
        if (thread.joinable()) thread.join();
    }
};

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

void SendText(SocketHandle handle, const std::string& text) {
    EXPECT_EQ(SendBytes(handle, text.data(), static_cast<long>(text.size())), static_cast<long>(text.size()));
}

}  // namespace

TEST(PagingGatewayServer, ServesBadClientsAndRefusedPagesAlongsideAStalledOne) {
    const char* address = PAGING_TEST_ADDRESS(1);
    PagingServer server(300);
    std::string error;
    ASSERT_TRUE(server.Listen(address, 80, error)) << error;
    std::vector<std::string> clients;
    server.SetPageSink([&](const Page& page, const std::string& client, std::string& id, std::string& reason) {
        clients.push_back(client);
        if (page.phoneNumber != "0") {
            id = "000000000001";
            return true;
        }
        reason = "spool full\r\n";
        return false;
    });
    // An answer far larger than the sockets' buffers, written while every other peer is served; small enough
    // to be read within the server's 300 ms under Wine too.
    const std::string large = "HTTP/1.0 200 OK\r\n\r\n" + std::string(1 << 20, 'x');
    server.SetRequestHandler([&](const HttpRequest& request, const std::string& client, std::string& response) {
        if (request.target != "/large") return false;
        EXPECT_EQ(client, "127.0.0.1");  // the client's own address: the system picks it on loopback
        response = large;
        return true;
    });
    std::ostringstream out;
    ServingThread serving{server, std::thread([&] { server.Serve(out, 1); })};

    SocketHandle reader = ConnectTo(address, 8192);
    SendText(reader, "GET /large HTTP/1.0\r\n\r\n");

    const char* stalled = "POST /messagecenter/pagersend.cgi HTTP/1.0\r\nContent-Length: 50\r\n\r\npin=1";
    SocketHandle slow = ConnectTo(address);
    SendText(slow, stalled);

    // A byte every 40 ms: each one renews nothing, so it is cut at the deadline long before it is whole.
    const std::string dripped = "GET /nothing/but/a/slow/drip/of/bytes HTTP/1.0\r\n\r\n";
    std::string dripAnswer;
    std::thread drip([&] {
        SocketHandle handle = ConnectTo(address);
        for (size_t at = 0; at < dripped.size() && !ReadableWithin(handle, 40); ++at)
            SendText(handle, dripped.substr(at, 1));
        dripAnswer = ReadToEnd(handle);
        CloseSocket(handle);
    });

    // Each answered while the stalled one still holds its connection, and the large answer is unread.
    SocketHandle half = ConnectTo(address);
    SendText(half, "GET /stage2.shtml?min=5");
    CloseSocket(half);
    SocketHandle garbage = ConnectTo(address);
    SendText(garbage, "\x16\x03\x01 hello\r\n\r\n");
    EXPECT_EQ(ReadToEnd(garbage).compare(0, 24, "HTTP/1.0 400 Bad Request"), 0);
    CloseSocket(garbage);
    SocketHandle refused = ConnectTo(address);
    SendText(refused, "GET /stage2.shtml?min=0&msg=x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ReadToEnd(refused).compare(0, 32, "HTTP/1.0 503 Service Unavailable"), 0);
    CloseSocket(refused);
    EXPECT_TRUE(ReadToEnd(reader) == large) << "the large answer was cut or changed";
    CloseSocket(reader);

    EXPECT_EQ(ReadToEnd(slow).compare(0, 12, "HTTP/1.0 408"), 0);
    CloseSocket(slow);
    drip.join();
    EXPECT_EQ(dripAnswer.compare(0, 12, "HTTP/1.0 408"), 0) << dripAnswer;

    GatewayRequest request{};
    EncodeSender(request, "Ann & Bob");
    EncodeCallback(request, "555 0001");
    ApplyGatewayProfile(request, 'S');
    EncodeMessage(request, "50% off\r\ntoday?");
    SetPhoneNumber(request, "555 1234");
    CopyText(request.host, address);
    ASSERT_STREQ(DeliverRequest(request), "Message sent!");
    serving.thread.join();  // the refused page did not count as the one page
    EXPECT_EQ(clients, std::vector<std::string>(2, "127.0.0.1"));

    // The dripping client's byte count depends on timing; the rest is exact.
    std::vector<std::string> lines = SortedLines(out.str());
    const std::string cut = "bad request: incomplete request (";
    const std::string stalledLine = cut + std::to_string(strlen(stalled)) + " bytes), timed out";
    const auto dripLine = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, cut.size(), cut) == 0 && line != stalledLine &&
               line.find("bytes), timed out") != std::string::npos;
    });
    ASSERT_NE(dripLine, lines.end()) << out.str();
    EXPECT_LT(std::stoul(dripLine->substr(cut.size())), dripped.size() / 2) << *dripLine;
    lines.erase(dripLine);
    EXPECT_EQ(lines,
              SortedLines("bad request: incomplete request (23 bytes), connection closed\n"
                          "bad request: malformed request line\n"
                          "page via Cingular: to \"0\": \"x\" not taken: spool full\\r\\n\n"
                          "bad request: incomplete request (" + std::to_string(strlen(stalled)) + " bytes), timed out\n"
                          "page 000000000001 via Sprint: to \"555 1234\": \"50% off\\r\\ntoday?\" from \"Ann & Bob\" "
                          "callback \"555 0001\"\n"));
}

TEST(PagingGatewayServer, NeitherIdleNorManyClientsHoldPagesBack) {
    const char* address = PAGING_TEST_ADDRESS(3);
    PagingServer server;  // the gateway's own 5 s deadline
    std::string error;
    ASSERT_TRUE(server.Listen(address, 80, error)) << error;
    constexpr int IDLE = 500, CLIENTS = 1000;
    std::ostringstream out, many;
    std::promise<void> firstPage;
    ServingThread serving{server, std::thread([&] {
                              server.Serve(out, 1);
                              firstPage.set_value();
                              server.Serve(many, CLIENTS);
                          })};

    std::vector<SocketHandle> idle;
    for (int i = 0; i < IDLE; ++i) idle.push_back(ConnectTo(address));
    GatewayRequest request{};
    EncodeMessage(request, "behind the idle ones");
    ApplyGatewayProfile(request, 'C');
    SetPhoneNumber(request, "5551234567");
    CopyText(request.host, address);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_STREQ(DeliverRequest(request), "Message sent!");
    ASSERT_EQ(firstPage.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("page behind %d idle clients printed after %lld ms\n", IDLE, static_cast<long long>(waited));
    EXPECT_LT(waited, 1000);
    EXPECT_EQ(out.str(), "page via Cingular: to \"5551234567\": \"behind the idle ones\"\n");
    for (SocketHandle handle : idle) CloseSocket(handle);

    // All connected before any sends, so the server holds them all at once.
    std::vector<SocketHandle> clients;
    std::string expected;
    for (int i = 0; i < CLIENTS; ++i) clients.push_back(ConnectTo(address));
    for (int i = 0; i < CLIENTS; ++i) {
        const std::string message = "page " + std::to_string(i);
        const Carrier& carrier = CARRIER_TABLE[i % CARRIER_COUNT];
        SendText(clients[static_cast<size_t>(i)], ProgramRequest(carrier.carrierCode, {message.c_str(), "1", "", ""}));
        expected += std::string("page via ") + carrier.displayName + ": to \"1\": \"" + message + "\"\n";
    }
    for (SocketHandle handle : clients) {
        EXPECT_EQ(ReadToEnd(handle).compare(0, 15, "HTTP/1.0 200 OK"), 0);
        CloseSocket(handle);
    }
    serving.thread.join();
    EXPECT_EQ(SortedLines(many.str()), SortedLines(expected));
}

TEST(PagingGatewayServer, SaysWhyItCannotListen) {
    PagingServer first, second;
    std::string error;
    ASSERT_TRUE(first.Listen(PAGING_TEST_ADDRESS(2), 80, error)) << error;
    EXPECT_FALSE(second.Listen(PAGING_TEST_ADDRESS(2), 80, error));
    EXPECT_EQ(error, "Address already in use");
}

TEST(PagingGatewayServer, ServesTheStatusPagesBesideTheForms) {
    GatewayOptions options;
    options.address = STATUS_TEST_ADDRESS;
    PagingServer server;
    GatewayStatus status(options);
    std::string error;
    ASSERT_TRUE(server.Listen(options.address, 80, error)) << error;
    status.Serve(server, SendAgainCall());
    std::ostringstream out;
    ServingThread serving{server, std::thread([&] { server.Serve(out); })};
    auto ask = [&](const std::string& request) {
        SocketHandle handle = ConnectTo(STATUS_TEST_ADDRESS);
        SendText(handle, request);
        const std::string answer = ReadToEnd(handle);
        CloseSocket(handle);
        return answer;
    };

    GatewayRequest request{};
    EncodeMessage(request, "disk <full> & \"x\"");
    ApplyGatewayProfile(request, 'V');
    SetPhoneNumber(request, "5551234567");
    CopyText(request.host, STATUS_TEST_ADDRESS);
    ASSERT_STREQ(DeliverRequest(request), "Message sent!");

    const std::string json = ask("GET /status.json HTTP/1.0\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(json.compare(0, 15, "HTTP/1.0 200 OK"), 0) << json;
    EXPECT_NE(json.find("{\"id\": \"000000000001\", \"state\": \"received\", \"carrier\": \"Verizon\", "
                        "\"phone\": \"5551234567\", \"message\": \"disk <full> & \\\"x\\\"\""),
              std::string::npos)
        << json;
    const std::string html = ask("GET /status HTTP/1.1\r\nHost: " STATUS_TEST_ADDRESS "\r\n\r\n");
    EXPECT_NE(html.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
    EXPECT_NE(html.find("disk &lt;full&gt; &amp; &quot;x&quot;"), std::string::npos) << html;
    EXPECT_NE(ask("GET /metrics HTTP/1.0\r\n\r\n").find("\npaging_gateway_pages_received_total{route=\"\"} 1\n"),
              std::string::npos);
    EXPECT_EQ(ask("GET /status HTTP/1.1\r\nHost: rebound.example\r\n\r\n").compare(0, 12, "HTTP/1.0 403"), 0);
    EXPECT_EQ(ask("POST /status/send-again HTTP/1.0\r\nContent-Length: 17\r\n\r\nid=000000000001&x")
                  .compare(0, 12, "HTTP/1.0 403"),
              0);
    // A status path never takes a page, whatever fields it carries.
    EXPECT_EQ(ask("GET /status?min=1&msg=x HTTP/1.0\r\n\r\n").compare(0, 12, "HTTP/1.0 200"), 0);
    server.Stop();
    serving.thread.join();
    EXPECT_EQ(out.str(), "page 000000000001 via Verizon: to \"5551234567\": \"disk <full> & \\\"x\\\"\"\n");
}
