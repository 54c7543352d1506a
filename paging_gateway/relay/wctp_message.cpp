// The WCTP operations the relay sends: a page and a question about it, as XML.
#include "paging_gateway/relay/wctp_message.h"

#include "paging_gateway/platform/cp1252.h"

namespace {

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// `fromCp1252` false: the bytes are UTF-8 already (what the network sent us).
std::string Escaped(const std::string& bytes, bool attribute, bool fromCp1252) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const unsigned byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            case '"': out += "&quot;"; continue;
            case '\'': out += "&apos;"; continue;
            case '\r': out += "&#13;"; continue;
            case '\n': out += attribute ? "&#10;" : "\n"; continue;
            case '\t': out += attribute ? "&#9;" : "\t"; continue;
            default: break;
        }
        if (byte < 0x20)
            out += '?';
        else if (!fromCp1252 || byte < 0x80)
            out += c;
        else
            AppendUtf8(out, UnicodeOfCp1252(static_cast<unsigned char>(byte)));
    }
    return out;
}

const char PROLOGUE[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r3.dtd\">\r\n"
    "<wctp-Operation wctpVersion=\"wctp-dtd-v1r3\">\r\n";
const char EPILOGUE[] = "</wctp-Operation>\r\n";

std::string Attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + XmlText(value, true) + "\"";
}

std::string Payload(const std::string& text) {
    return "<wctp-Payload><wctp-Alphanumeric>" + XmlText(text, false) + "</wctp-Alphanumeric></wctp-Payload>\r\n";
}

}  // namespace

std::string XmlText(const std::string& cp1252, bool attribute) { return Escaped(cp1252, attribute, true); }

std::string WctpSubmit(const WctpSettings& settings, const std::string& recipientId, const std::string& text,
                       const std::string& messageId, const std::string& timestamp) {
    const bool receipts = settings.receiptMilliseconds > 0;
    std::string xml = PROLOGUE;
    if (settings.enterprise) {
        xml += "<wctp-SubmitRequest>\r\n<wctp-SubmitHeader" + Attribute("submitTimestamp", timestamp) + ">\r\n";
        xml += "<wctp-Originator" + Attribute("senderID", settings.senderId) +
               (settings.securityCode.empty() ? "" : Attribute("securityCode", settings.securityCode)) + "/>\r\n";
        xml += "<wctp-MessageControl" + Attribute("messageID", messageId) + " allowResponse=\"false\"/>\r\n";
        xml += "<wctp-Recipient" + Attribute("recipientID", recipientId) + "/>\r\n</wctp-SubmitHeader>\r\n";
        xml += Payload(text) + "</wctp-SubmitRequest>\r\n";
    } else {
        xml += "<wctp-SubmitClientMessage>\r\n<wctp-SubmitClientHeader" + Attribute("submitTimestamp", timestamp) +
               ">\r\n";
        xml += "<wctp-ClientOriginator" + Attribute("senderID", settings.senderId) +
               (settings.securityCode.empty() ? "" : Attribute("miscInfo", settings.securityCode)) + "/>\r\n";
        xml += std::string("<wctp-ClientMessageControl allowResponse=\"false\"") +
               (receipts ? " notifyWhenDelivered=\"true\" notifyWhenRead=\"true\"" : "") + "/>\r\n";
        xml += "<wctp-Recipient" + Attribute("recipientID", recipientId) + "/>\r\n</wctp-SubmitClientHeader>\r\n";
        xml += Payload(text) + "</wctp-SubmitClientMessage>\r\n";
    }
    return xml + EPILOGUE;
}

std::string WctpClientQuery(const WctpSettings& settings, const std::string& recipientId,
                            const std::string& trackingNumber) {
    return PROLOGUE + std::string("<wctp-ClientQuery") + Attribute("senderID", settings.senderId) +
           Attribute("recipientID", recipientId) + " trackingNumber=\"" + Escaped(trackingNumber, true, false) +
           "\"/>\r\n" + EPILOGUE;
}
