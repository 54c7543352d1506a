// Carrier table, field encoding, request assembly and delivery over real loopback sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "gateway/assemble.h"
#include "gateway/carriers.h"
#include "gateway/delivery.h"
#include "gateway/request.h"
#include "common/text.h"
#include "loopback_listener.h"

namespace {

std::string Encoded(const char* text) {
    char out[EncodedLength(MAX_MESSAGE_CHARS) + 1];
    EncodeSpaces(text, out, sizeof out);
    return out;
}

// Fills a fresh record the way the send command does, for the sample input of the carrier tables.
GatewayRequest Prepared(char code, const char* sender = "Bob", const char* callback = "5550001111",
                        const char* message = "hi there", const char* phone = "5551234567") {
    GatewayRequest request{};
    EncodeSender(request, sender);
    EncodeCallback(request, callback);
    ApplyGatewayProfile(request, code);
    EncodeMessage(request, message);
    SetPhoneNumber(request, phone);
    return request;
}

std::string Assembled(GatewayRequest& request) {
    AssembleRequest(request);
    return request.requestText;
}

// Open file descriptors of this process natively (a socket left open would show); -1 where not countable.
int OpenDescriptors() {
#ifdef _WIN32
    return -1;
#else
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) count += entry.is_symlink() ? 1 : 0;
    return count;
#endif
}

const std::string AMERITECH_PATH = "/cgi-bin/page.cgi?template=paging&email=" MERVASTX_FORM_EMAIL "&pin=";

}  // namespace

TEST(CarrierTable, RowsInIndexOrder) {
    const char* names[] = {"Ameritech", "AT&T", "Cingular", "Sprint", "SunCom", "Verizon"};
    const char codes[] = {'M', 'A', 'C', 'S', 'U', 'V'};
    const int maxima[] = {230, 110, 160, 155, 110, 160};
    for (int i = 0; i < CARRIER_COUNT; ++i) {
        ASSERT_NE(CarrierAt(i), nullptr);
        EXPECT_STREQ(CarrierAt(i)->displayName, names[i]);
        EXPECT_EQ(CarrierAt(i)->maxMessageLength, maxima[i]);
        EXPECT_EQ(CarrierCodeOf(i), codes[i]);
        EXPECT_EQ(CarrierByCode(codes[i]), CarrierAt(i));
        EXPECT_EQ(CarrierIndexOf(codes[i]), i);
    }
    EXPECT_EQ(CarrierAt(-1), nullptr);
    EXPECT_EQ(CarrierAt(6), nullptr);
    EXPECT_EQ(CarrierCodeOf(6), '\0');
    for (char code : {'m', 'v', 'X', '0', '\0'}) EXPECT_EQ(CarrierByCode(code), nullptr) << code;
}

TEST(Encoding, BlanksBecomeSingleSeparators) {
    EXPECT_EQ(Encoded("hi there"), "hi%20there");
    EXPECT_EQ(Encoded("  hi   there  "), "hi%20there");
    EXPECT_EQ(Encoded("Bob  Smith"), "Bob%20Smith");
    EXPECT_EQ(Encoded("555 000 11"), "555%20000%2011");
    EXPECT_EQ(Encoded(""), "");
    EXPECT_EQ(Encoded("     "), "");
}

TEST(Encoding, ReservedAndControlBytesAreEscaped) {
    EXPECT_EQ(Encoded("a+b&c=d%e?f"), "a%2Bb%26c%3Dd%25e%3Ff");
    EXPECT_EQ(Encoded("Tom & Jerry"), "Tom%20%26%20Jerry");
    EXPECT_EQ(Encoded("line\r\nbreak\there"), "line%0D%0Abreak%09here");
    EXPECT_EQ(Encoded("#/\"'"), "%23%2F%22%27");
    EXPECT_EQ(Encoded("caf\xE9 \xFF"), "caf%E9%20%FF");
    EXPECT_EQ(Encoded("A-z_0.9~"), "A-z_0.9~");
}

TEST(Encoding, LongestInputsFitWithoutCutting) {
    std::string message(MAX_MESSAGE_CHARS, '&');
    GatewayRequest request{};
    EncodeMessage(request, message.c_str());
    EXPECT_EQ(strlen(request.encodedMessage), EncodedLength(MAX_MESSAGE_CHARS));
    EncodeSender(request, std::string(MAX_SENDER_CHARS, '\n').c_str());
    EXPECT_EQ(strlen(request.encodedSender), EncodedLength(MAX_SENDER_CHARS));
    // Ten characters giving the most that the old rule could give (18), and the most that escaping can (30).
    EncodeCallback(request, "12 3 4 5 6");
    EXPECT_STREQ(request.encodedCallback, "12%203%204%205%206");
    EncodeCallback(request, "++++++++++");
    EXPECT_EQ(strlen(request.encodedCallback), EncodedLength(MAX_CALLBACK_CHARS));
}

TEST(Encoding, NeverSplitsAnEscapeWhenOutOfRoom) {
    char out[6];
    EncodeSpaces("ab&cd", out, sizeof out);
    EXPECT_STREQ(out, "ab%26");
    EncodeSpaces("a&", out, 4);
    EXPECT_STREQ(out, "a");
    EncodeEveryByte("1 2", out, sizeof out);
    EXPECT_STREQ(out, "1%202");
}

TEST(Encoding, InputStaysAndOutputIsReplaced) {
    const char sender[] = "Bob Smith";
    GatewayRequest request{};
    EncodeSender(request, sender);
    EXPECT_STREQ(sender, "Bob Smith");
    EncodeMessage(request, "a much longer first message");
    EncodeMessage(request, "short");
    EXPECT_STREQ(request.encodedMessage, "short");
    SetPhoneNumber(request, "555 1234");
    EXPECT_STREQ(request.phoneNumber, "555 1234");
}

TEST(Profiles, EachCarrierGivesItsRequestText) {
    const std::string tail = " HTTP/1.0\r\n\r\n";
    GatewayRequest m = Prepared('M');
    EXPECT_EQ(Assembled(m), "GET " + AMERITECH_PATH + "5551234567&message=hi%20there&from=Bob-5550001111" + tail);
    GatewayRequest c = Prepared('C');
    EXPECT_EQ(Assembled(c), "GET /stage2.shtml?min=5551234567&msg=hi%20there&FROM=Bob&CALLBACK=5550001111" + tail);
    GatewayRequest s = Prepared('S');
    const std::string sprint =
        "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there%20-from%20Bob&callback=5550001111" + tail;
    EXPECT_EQ(Assembled(s), sprint);
    EXPECT_EQ(sprint.size(), 106u);
    GatewayRequest u = Prepared('U');
    EXPECT_EQ(Assembled(u), "GET /cgi-bin/sms.cgi?number=5551234567&message=hi%20there&from=Bob&subject=5550001111" + tail);
}

TEST(Profiles, PostCarriersCarryAFormBody) {
    GatewayRequest v = Prepared('V');
    const std::string verizonBody =
        "disclaimer_submit.x=20&disclaimer_submit.y=20&min=5551234567&text=hi%20there&subject=Bob&callback=5550001111";
    const std::string verizon = "POST /customer_site/jsp/disclaimer.jsp HTTP/1.0\r\n"
                                "Content-type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: 108\r\n\r\n" + verizonBody + "\r\n\r\n";
    EXPECT_EQ(verizonBody.size(), 108u);
    EXPECT_EQ(Assembled(v), verizon);
    EXPECT_EQ(verizon.size(), 233u);

    GatewayRequest a = Prepared('A');
    const std::string attBody = "pin=5551234567&message=hi%20there&from=Bob&subject=5550001111";
    const std::string att = "POST /messagecenter/pagersend.cgi HTTP/1.0\r\n"
                            "Content-type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: 61\r\n\r\n" + attBody + "\r\n\r\n";
    EXPECT_EQ(Assembled(a), att);
    EXPECT_EQ(att.size(), 180u);
}

TEST(Profiles, OptionalSenderAndCallbackParts) {
    GatewayRequest none = Prepared('S', "", "");
    EXPECT_EQ(Assembled(none), "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there HTTP/1.0\r\n\r\n");
    GatewayRequest sprintNoSender = Prepared('S', "", "5550001111");
    EXPECT_EQ(Assembled(sprintNoSender),
              "GET /BMG/sendmessage.jsp?phoneMin=5551234567&msg=hi%20there&callback=5550001111 HTTP/1.0\r\n\r\n");
    GatewayRequest ameritechCallbackOnly = Prepared('M', "", "5550001111");
    EXPECT_EQ(Assembled(ameritechCallbackOnly),
              "GET " + AMERITECH_PATH + "5551234567&message=hi%20there-5550001111 HTTP/1.0\r\n\r\n");
    GatewayRequest ameritechBare = Prepared('M', "  ", " ");
    EXPECT_EQ(Assembled(ameritechBare), "GET " + AMERITECH_PATH + "5551234567&message=hi%20there HTTP/1.0\r\n\r\n");
}

TEST(Profiles, PhoneNumberIsEscapedByteForByte) {
    GatewayRequest request = Prepared('C', "", "", "x", "555  12&3");
    EXPECT_STREQ(request.phoneNumber, "555  12&3");
    EXPECT_EQ(Assembled(request), "GET /stage2.shtml?min=555%20%2012%263&msg=x HTTP/1.0\r\n\r\n");
}

TEST(Profiles, ApplyingAnotherCarrierLeavesNoTrace) {
    GatewayRequest request = Prepared('V');
    Assembled(request);
    ApplyGatewayProfile(request, 'C');
    EXPECT_STREQ(request.messagePrefix, "&msg=");
    const std::string get = Assembled(request);
    EXPECT_EQ(get, "GET /stage2.shtml?min=5551234567&msg=hi%20there&FROM=Bob&CALLBACK=5550001111 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(get.find("Content"), std::string::npos);

    ApplyGatewayProfile(request, 'A');
    const std::string post = Assembled(request);
    EXPECT_EQ(post.find("disclaimer"), std::string::npos);
    EXPECT_NE(post.find("\r\n\r\npin=5551234567&message="), std::string::npos);
    EXPECT_EQ(request.carrierCode, 'A');

    ApplyGatewayProfile(request, 'x');  // unknown code: nothing changes
    EXPECT_EQ(request.carrierCode, 'A');
}

TEST(Profiles, ContentLengthCountsTheBodyAlone) {
    for (const char* message : {"", "a", "hi there", "a+b&c=d%e?f \xE9\r\n"}) {
        GatewayRequest request = Prepared('V', "Ann Lee", "", message, "5 5");
        const std::string text = Assembled(request);
        const size_t bodyStart = text.find("\r\n\r\n") + 4;
        const size_t bodyEnd = text.size() - 4;
        const std::string body = text.substr(bodyStart, bodyEnd - bodyStart);
        EXPECT_NE(text.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos) << text;
        EXPECT_EQ(text.substr(bodyEnd), "\r\n\r\n");
    }
}

TEST(Profiles, LongestInputsFitEveryCarrier) {
    const std::string message(MAX_MESSAGE_CHARS, '%'), sender(MAX_SENDER_CHARS, '&'),
        callback(MAX_CALLBACK_CHARS, '#'), phone(MAX_PHONE_CHARS, ' ');
    for (const Carrier& carrier : CARRIER_TABLE) {
        GatewayRequest request =
            Prepared(carrier.carrierCode, sender.c_str(), callback.c_str(), message.c_str(), phone.c_str());
        const std::string text = Assembled(request);
        EXPECT_LE(text.size(), WorstRequestLength(carrier.profile));
        std::string escapedCallback;
        for (size_t i = 0; i < MAX_CALLBACK_CHARS; ++i) escapedCallback += "%23";
        const std::string ending = escapedCallback + (IsPostMethod(carrier.profile.method) ? "" : " HTTP/1.0") + "\r\n\r\n";
        EXPECT_EQ(text.substr(text.size() - ending.size()), ending) << carrier.displayName;
    }
}

TEST(Delivery, WritesTheAssembledBytesToTheServer) {
    LoopbackListener listener(TEST_ADDRESS(1));
    ASSERT_TRUE(listener.listening());
    GatewayRequest request = Prepared('S');
    CopyText(request.host, TEST_ADDRESS(1));
    EXPECT_STREQ(DeliverRequest(request), "Message sent!");
    EXPECT_EQ(listener.Received(), request.requestText);
    EXPECT_EQ(strlen(request.requestText), 106u);
    EXPECT_EQ(request.portNumber, 80);
}

TEST(Delivery, PostThenGetThenPostEachArriveWhole) {
    LoopbackListener listener(TEST_ADDRESS(2), 80, 3);
    ASSERT_TRUE(listener.listening());
    GatewayRequest request = Prepared('V');
    std::string expected;
    for (char code : {'V', 'U', 'A'}) {
        ApplyGatewayProfile(request, code);
        CopyText(request.host, TEST_ADDRESS(2));
        EXPECT_STREQ(DeliverRequest(request), "Message sent!");
        expected += request.requestText;
    }
    EXPECT_EQ(listener.Received(), expected);
    EXPECT_EQ(listener.accepted(), 3);
}

TEST(Delivery, RefusedConnectionWritesNothing) {
    GatewayRequest request = Prepared('C');
    CopyText(request.host, TEST_ADDRESS(3));  // nothing listens here
    const int descriptorsBefore = OpenDescriptors();
    EXPECT_STREQ(DeliverRequest(request), "Connect failed!");
    if (descriptorsBefore >= 0) {
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    }
    EXPECT_STREQ(request.requestText, "");  // never assembled, so never written
    // The socket was closed: a later delivery to a real listener still works.
    LoopbackListener listener(TEST_ADDRESS(3));
    ASSERT_TRUE(listener.listening());
    EXPECT_STREQ(DeliverRequest(request), "Message sent!");
    EXPECT_EQ(listener.Received(), request.requestText);
}

TEST(Delivery, UnknownHostFailsToConnect) {
    GatewayRequest request = Prepared('C');
    CopyText(request.host, "mervastx-no-such-host.invalid");
    EXPECT_STREQ(DeliverRequest(request), "Connect failed!");
    EXPECT_STREQ(request.requestText, "");
}
