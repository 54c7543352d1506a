// Recognises a carrier's paging form by method and path, and reads the five fields of a page out of it.
#include "paging_gateway/intake/page.h"

#include "gateway/request.h"

namespace {

// The carriers' forms as their servers define them, kept apart from the program's own profiles on purpose:
// the tests then show that what the program sends is what these servers read.
constexpr CarrierForm CARRIER_FORMS[] = {
    {'M', "GET", "/cgi-bin/page.cgi", "pin", "message", "from", nullptr},
    {'A', "POST", "/messagecenter/pagersend.cgi", "pin", "message", "from", "subject"},
    {'C', "GET", "/stage2.shtml", "min", "msg", "FROM", "CALLBACK"},
    {'S', "GET", "/BMG/sendmessage.jsp", "phoneMin", "msg", nullptr, "callback"},
    {'U', "GET", "/cgi-bin/sms.cgi", "number", "message", "from", "subject"},
    {'V', "POST", "/customer_site/jsp/disclaimer.jsp", "min", "text", "subject", "callback"},
};

const char SENDER_JOIN[] = " -from ";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool LooksLikeCallback(const std::string& text) {
    if (text.empty() || text.size() > MAX_CALLBACK_CHARS) return false;
    if (!IsDigit(text.front()) || !IsDigit(text.back())) return false;
    for (char c : text)
        if (!IsDigit(c) && c != '-' && c != '.' && c != ' ') return false;
    return true;
}

}  // namespace

const CarrierForm* FindCarrierForm(const std::string& method, const std::string& path) {
    for (const CarrierForm& carrierForm : CARRIER_FORMS)
        if (method == carrierForm.method && path == carrierForm.path) return &carrierForm;
    return nullptr;
}

bool SplitJoinedSender(const std::string& joined, std::string& message, std::string& sender) {
    // The last join wins: a message may well say " -from " itself, a sender of at most 19 characters hardly.
    const size_t at = joined.rfind(SENDER_JOIN);
    if (at == std::string::npos) return false;
    const size_t rest = at + sizeof SENDER_JOIN - 1;
    if (rest >= joined.size()) return false;
    sender = joined.substr(rest);
    message = joined.substr(0, at);
    return true;
}

bool SplitJoinedCallback(const std::string& joined, std::string& text, std::string& callback) {
    // Both sides may hold "-" ("Jean-Luc-555-0001"), so the callback is the longest tail after a "-" that a
    // callback can be: at most 10 characters of digits, "-", "." and blanks, starting and ending with a digit.
    // Text that happens to end that way ("call me-5" with no callback) cannot be told apart and is split too.
    const size_t first = joined.size() > MAX_CALLBACK_CHARS ? joined.size() - MAX_CALLBACK_CHARS - 1 : 0;
    for (size_t at = first; at < joined.size(); ++at) {
        if (joined[at] != '-' || !LooksLikeCallback(joined.substr(at + 1))) continue;
        callback = joined.substr(at + 1);
        text = joined.substr(0, at);
        return true;
    }
    return false;
}

bool ReadPage(const CarrierForm& carrierForm, const FormFields& form, Page& page, std::string& problem) {
    page = Page{};
    page.carrier = CarrierByCode(carrierForm.carrierCode);
    const std::string* phone = FormValue(form, carrierForm.phoneKey);
    const std::string* message = FormValue(form, carrierForm.messageKey);
    if (phone == nullptr || message == nullptr) {
        problem = std::string(page.carrier->displayName) + " page without \"" +
                  (phone == nullptr ? carrierForm.phoneKey : carrierForm.messageKey) + "\"";
        return false;
    }
    page.phoneNumber = *phone;
    page.message = *message;

    std::string head, tail;
    if (carrierForm.senderKey != nullptr) {
        if (const std::string* sender = FormValue(form, carrierForm.senderKey)) page.sender = *sender;
    } else if (SplitJoinedSender(page.message, head, tail)) {
        page.message = head;
        page.sender = tail;
    }

    if (carrierForm.callbackKey != nullptr) {
        if (const std::string* callback = FormValue(form, carrierForm.callbackKey)) page.callback = *callback;
    } else {
        std::string& carrying = page.sender ? *page.sender : page.message;
        if (SplitJoinedCallback(carrying, head, tail)) {
            carrying = head;
            page.callback = tail;
        }
    }
    return true;
}

std::string QuoteText(const std::string& text) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\r': quoted += "\\r"; break;
            case '\n': quoted += "\\n"; break;
            case '\t': quoted += "\\t"; break;
            default:
                // Bytes above 0x7E too: the program's text is single-byte ANSI, which a terminal may not be.
                if (byte < 0x20 || byte > 0x7E) {
                    quoted += "\\x";
                    quoted += HEX[byte >> 4];
                    quoted += HEX[byte & 0x0F];
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string PageTooLarge(const Page& page) {
    const size_t text = page.message.size() + (page.sender ? page.sender->size() : 0) +
                        (page.callback ? page.callback->size() : 0);
    if (text > MAX_PAGE_TEXT_BYTES)
        return std::to_string(text) + " bytes of text, more than the " + std::to_string(MAX_PAGE_TEXT_BYTES) +
               " a page may bring";
    if (page.phoneNumber.size() > MAX_PAGE_PHONE_BYTES)
        return "a phone number of " + std::to_string(page.phoneNumber.size()) + " bytes, more than the " +
               std::to_string(MAX_PAGE_PHONE_BYTES) + " a page may bring";
    return std::string();
}

std::string FormatPageLine(const Page& page) {
    std::string line = std::string("page via ") + page.carrier->displayName + ": to " + QuoteText(page.phoneNumber) +
                       ": " + QuoteText(page.message);
    if (page.sender) line += " from " + QuoteText(*page.sender);
    if (page.callback) line += " callback " + QuoteText(*page.callback);
    return line;
}
