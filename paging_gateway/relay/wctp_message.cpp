// The WCTP operations the relay sends: a page and a question about it, as XML.
#include "paging_gateway/relay/wctp_message.h"

namespace {

// Windows' own mapping of 0x80-0x9F; its five unassigned bytes map to the C1 controls of the same value.
const unsigned short CP1252_HIGH[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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
        else if (byte < 0xA0)
            AppendUtf8(out, CP1252_HIGH[byte - 0x80]);
        else
            AppendUtf8(out, byte);
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
