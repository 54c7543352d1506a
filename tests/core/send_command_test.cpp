// The send command: its checks and boxes, what it stores, and what reaches a real listener.
#include <gtest/gtest.h>

#include <string>

#include "gateway/send_command.h"
#include "common/text.h"
#include "loopback_listener.h"

namespace {

const char* g_testHost;
int g_deliveries;

// The real delivery, redirected from the configured carrier host to the test's own address.
const char* DeliverToTestHost(GatewayRequest& request) {
    ++g_deliveries;
    CopyText(request.host, g_testHost);
    return DeliverRequest(request);
}

constexpr int ATT = 1, CINGULAR = 2, SPRINT = 3;

class SendCommand : public ::testing::Test {
protected:
    void SetUp() override {
        g_deliveries = 0;
        CopyText(details.sender, "Old");
        CopyText(details.callback, "999");
    }

    SendOutcome Send(const std::string& message, const std::string& phone, const std::string& sender,
                     const std::string& callback, int carrier, const char* host) {
        g_testHost = host;
        return RunSendCommand(request, details, {message.c_str(), phone.c_str(), sender.c_str(), callback.c_str(), carrier},
                              DeliverToTestHost);
    }

    GatewayRequest request{};
    UserDetails details{};
};

}  // namespace

TEST_F(SendCommand, MissingMessageOrPhoneStoresNothing) {
    for (auto [message, phone] : {std::pair{"", "5551234"}, std::pair{"hello", ""}}) {
        const SendOutcome outcome = Send(message, phone, "Bob", "555", CINGULAR, TEST_ADDRESS(20));
        EXPECT_STREQ(outcome.text, "Message and Phone # fields are required");
        EXPECT_STREQ(outcome.title, "Error");
        EXPECT_FALSE(outcome.clearMessage);
        EXPECT_STREQ(details.sender, "Old");
        EXPECT_STREQ(details.callback, "999");
    }
    EXPECT_EQ(g_deliveries, 0);
}

TEST_F(SendCommand, NoCarrierRefusesButHasStoredTheDetails) {
    for (int position : {-1, 6}) {
        const SendOutcome outcome = Send("hello", "5551234", "Bob Smith", "5550001111", position, TEST_ADDRESS(20));
        EXPECT_STREQ(outcome.text, "Please select a carrier");
        EXPECT_STREQ(outcome.title, "error");
        EXPECT_FALSE(outcome.clearMessage);
        EXPECT_STREQ(details.sender, "Bob Smith");
        EXPECT_STREQ(details.callback, "5550001111");
        EXPECT_STREQ(request.encodedSender, "Bob%20Smith");
    }
    EXPECT_EQ(g_deliveries, 0);
}

TEST_F(SendCommand, MaximumLengthIsAcceptedOneMoreIsRefused) {
    LoopbackListener listener(TEST_ADDRESS(21));
    ASSERT_TRUE(listener.listening());
    const std::string message(100, 'x');
    const SendOutcome refused = Send(message, "5551234", "Bob", "55500011", ATT, TEST_ADDRESS(21));
    EXPECT_STREQ(refused.text, "Maximum message length for AT&T is 110");
    EXPECT_STREQ(refused.title, "Error");
    EXPECT_FALSE(refused.clearMessage);
    EXPECT_EQ(g_deliveries, 0);

    const SendOutcome sent = Send(message, "5551234", "Bob", "5550001", ATT, TEST_ADDRESS(21));
    EXPECT_STREQ(sent.text, "Message sent!");
    EXPECT_STREQ(sent.title, "Message Status");
    EXPECT_TRUE(sent.clearMessage);
    EXPECT_EQ(listener.Received(), request.requestText);
    EXPECT_NE(std::string(request.requestText).find("pin=5551234&message=" + message + "&from=Bob&subject=5550001"),
              std::string::npos);
}

TEST_F(SendCommand, EachCarrierNamesItsMaximum) {
    const char* expected[] = {
        "Maximum message length for Ameritech is 230", "Maximum message length for AT&T is 110",
        "Maximum message length for Cingular is 160",  "Maximum message length for Sprint is 155",
        "Maximum message length for SunCom is 110",    "Maximum message length for Verizon is 160"};
    for (int carrier = 0; carrier < CARRIER_COUNT; ++carrier) {
        // Blanks and the sender and callback all count, even where they travel outside the message.
        const int maximum = CARRIER_TABLE[carrier].maxMessageLength;
        const std::string message(static_cast<size_t>(maximum - 50 + 1), ' ');
        const std::string sender(40, 's');
        const SendOutcome outcome = Send(message, "1", sender, "0123456789", carrier, TEST_ADDRESS(20));
        EXPECT_STREQ(outcome.text, expected[carrier]);
    }
    EXPECT_EQ(g_deliveries, 0);
}

TEST_F(SendCommand, LongSenderCountsInFullButIsStoredCut) {
    const std::string sender = "Bartholomew Q. Longname";  // 23 characters
    const SendOutcome outcome = Send(std::string(90, 'm'), "5551234", sender, "", ATT, TEST_ADDRESS(20));
    EXPECT_STREQ(outcome.text, "Maximum message length for AT&T is 110");  // 113 counted, not 109
    EXPECT_STREQ(details.sender, sender.substr(0, 19).c_str());
    EXPECT_STREQ(details.callback, "");
    EXPECT_EQ(CountedLength(std::string(250, 'a').c_str(), "", "12"), 201);
}

TEST_F(SendCommand, BlankMessageIsSentWithAnEmptyValue) {
    LoopbackListener listener(TEST_ADDRESS(22));
    ASSERT_TRUE(listener.listening());
    const SendOutcome outcome = Send("     ", "555 12", "", "", CINGULAR, TEST_ADDRESS(22));
    EXPECT_STREQ(outcome.text, "Message sent!");
    EXPECT_EQ(listener.Received(), "GET /stage2.shtml?min=555%2012&msg= HTTP/1.0\r\n\r\n");
}

// The user sends the same message again after any failure, so only "Message sent!" empties it.
TEST_F(SendCommand, FailedDeliveryIsShownAndKeepsTheMessage) {
    const SendOutcome outcome = Send("hello", "5551234", "Bob", "", SPRINT, TEST_ADDRESS(23));  // nobody listens
    EXPECT_STREQ(outcome.text, "Connect failed!");
    EXPECT_STREQ(outcome.title, "Message Status");
    EXPECT_FALSE(outcome.clearMessage);
    EXPECT_EQ(g_deliveries, 1);
    for (const char* status : {STATUS_SEND_FAILED, STATUS_NO_TCP, STATUS_NO_SOCKET, STATUS_SENT}) {
        static const char* s_status;
        s_status = status;
        const SendOutcome other = RunSendCommand(request, details, {"hello", "5551234", "", "", SPRINT},
                                                 [](GatewayRequest&) { return s_status; });
        EXPECT_STREQ(other.text, status);
        EXPECT_EQ(other.clearMessage, status == STATUS_SENT) << status;
    }
}

TEST_F(SendCommand, SameInputTwiceGivesTheSameBytes) {
    LoopbackListener listener(TEST_ADDRESS(24), 80, 2);
    ASSERT_TRUE(listener.listening());
    Send("see you at 5", "5551234567", "Bob", "5550001111", SPRINT, TEST_ADDRESS(24));
    const std::string first = request.requestText;
    Send("see you at 5", "5551234567", "Bob", "5550001111", SPRINT, TEST_ADDRESS(24));
    EXPECT_EQ(request.requestText, first);
    EXPECT_EQ(listener.Received(), first + first);
    EXPECT_EQ(first,
              "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=see%20you%20at%205%20-from%20Bob&callback=5550001111"
              " HTTP/1.0\r\n\r\n");
}
