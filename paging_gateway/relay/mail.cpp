// Hands a page to a paging network as one e-mail, through libcurl's SMTP (STARTTLS, login).
#include "paging_gateway/relay/mail.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

const char HEX[] = "0123456789ABCDEF";
const char CHARSET[] = "windows-1252";  // the program's single-byte ANSI text
const size_t MAX_ENCODED_LINE = 75;     // quoted-printable lines stay within 76 with the soft break's "="
const size_t MAX_ENCODED_WORD_TEXT = 40;

void AppendHex(std::string& out, unsigned char byte, char escape) {
    out += escape;
    out += HEX[byte >> 4];
    out += HEX[byte & 0x0F];
}

bool IsAtomByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("!#$%&'*+-/=?^_`{|}~.", c) != nullptr;
}

bool IsPlainHeaderText(const std::string& text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return text.find("=?") == std::string::npos;
}

// A header value that any bytes survive: RFC 2047 encoded words, folded, when plain ASCII will not do.
std::string HeaderValue(const std::string& text) {
    if (IsPlainHeaderText(text)) return text;
    std::string folded, word;
    auto flush = [&] {
        if (!folded.empty()) folded += "\r\n ";
        folded += std::string("=?") + CHARSET + "?Q?" + word + "?=";
        word.clear();
    };
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (word.size() + 3 > MAX_ENCODED_WORD_TEXT) flush();
        if (c == ' ')
            word += '_';
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("!*+-/", c))
            word += c;
        else
            AppendHex(word, byte, '=');
    }
    if (!word.empty() || folded.empty()) flush();
    return folded;
}

// Quoted-printable: CR LF stays a line break, every other control byte, "=" and byte above 0x7E is
// escaped, and so are a blank before a line break and a "." that would open a line.
std::string QuotedPrintable(const std::string& text) {
    std::string encoded, line;
    auto breakLine = [&](bool soft) {
        if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            const unsigned char blank = static_cast<unsigned char>(line.back());
            line.pop_back();
            AppendHex(line, blank, '=');
        }
        encoded += line + (soft ? "=\r\n" : "\r\n");
        line.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            breakLine(false);
            ++i;
            continue;
        }
        std::string piece;
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((c >= 0x21 && c <= 0x7E && c != '=' && !(c == '.' && line.empty())) || c == ' ' || c == '\t')
            piece = c;
        else
            AppendHex(piece, byte, '=');
        if (line.size() + piece.size() > MAX_ENCODED_LINE - 3) breakLine(true);
        line += piece;
    }
    // A soft break to end with, so the text decodes to exactly its own bytes, with no line break added.
    breakLine(true);
    return encoded;
}

std::string DateHeader() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

struct Upload {
    const std::string* text;
    size_t sent;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* state) {
    Upload& upload = *static_cast<Upload*>(state);
    const size_t part = std::min(size * count, upload.text->size() - upload.sent);
    memcpy(buffer, upload.text->data() + upload.sent, part);
    upload.sent += part;
    return part;
}

struct ServerReplies {
    std::string last;
    std::string lastRefusal;  // the last 4xx or 5xx: after a refusal the goodbye comes last
};

// Keeps the server's replies, so a refusal is reported in the server's own words.
int KeepServerReply(CURL*, curl_infotype type, char* data, size_t size, void* replies) {
    if (type != CURLINFO_HEADER_IN) return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) return 0;
    ServerReplies& kept = *static_cast<ServerReplies*>(replies);
    kept.last = PrintableText(line);
    if (line[0] == '4' || line[0] == '5') kept.lastRefusal = kept.last;
    return 0;
}

// Refusals of the page itself (the sender, the recipient, the message) are final; a refused login, failed
// TLS or a lost connection is the gateway's or the network's trouble, and the page waits for it to pass.
Outcome Judge(CURLcode result, long lastCode) {
    if (result == CURLE_OK) return Outcome::Delivered;
    const bool pageRefused = result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_UPLOAD_FAILED;
    return pageRefused && lastCode >= 500 && lastCode <= 599 ? Outcome::Permanent : Outcome::Temporary;
}

}  // namespace

bool MailRecipient(const std::string& toTemplate, const Page& page, std::string& recipient) {
    std::string pagerId;
    if (!PagerIdOf(page.phoneNumber, pagerId)) return false;
    for (char c : pagerId)
        if (!IsAtomByte(c)) return false;
    recipient = toTemplate;
    const std::string placeholder = "{phone}";
    for (size_t at = recipient.find(placeholder); at != std::string::npos; at = recipient.find(placeholder, at))
        recipient.replace(at, placeholder.size(), pagerId), at += pagerId.size();
    return true;
}

std::string MailSubject(const Page& page) {
    std::string subject = "Page";
    if (page.sender && !page.sender->empty()) subject += " from " + *page.sender;
    if (page.callback && !page.callback->empty()) subject += ", callback " + *page.callback;
    return subject;
}

std::string MailText(const MailSettings& settings, const std::string& recipient, const Page& page) {
    return "Date: " + DateHeader() + "\r\nFrom: <" + settings.from + ">\r\nTo: <" + recipient +
           ">\r\nSubject: " + HeaderValue(MailSubject(page)) +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=" + CHARSET +
           "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + QuotedPrintable(page.message);
}

void StartMail() { curl_global_init(CURL_GLOBAL_DEFAULT); }

Delivery SendMailPage(const UpstreamUrl& url, const MailSettings& settings, const Page& page,
                      long timeoutMilliseconds) {
    std::string recipient;
    if (!MailRecipient(settings.toTemplate, page, recipient))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot stand in an address", ""};
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return {Outcome::Temporary, "libcurl could not start", ""};
    const std::string text = MailText(settings, recipient, page);
    Upload upload{&text, 0};
    ServerReplies replies;
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + recipient + ">").c_str());
    const std::string address = (url.implicitTls ? "smtps://" : "smtp://") + url.host + ":" + std::to_string(url.port);

    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + settings.from + ">").c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE, static_cast<long>(text.size()));
    if (!url.implicitTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, settings.requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY);
    if (!settings.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMilliseconds);
    // No byte either way for that long is a server that stopped answering; and a whole mail is a few hundred
    // bytes, so a session longer than a handful of replies' time-outs is stuck too.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, timeoutMilliseconds / 1000));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMilliseconds * 4);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // signals cannot reach a worker thread safely
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, KeepServerReply);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &replies);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);  // feeds KeepServerReply; prints nothing itself

    const CURLcode result = curl_easy_perform(curl);
    long lastCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &lastCode);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);

    const Outcome outcome = Judge(result, lastCode);
    if (outcome == Outcome::Delivered) return {outcome, replies.last, ""};
    std::string why = *error ? error : curl_easy_strerror(result);
    if (!replies.lastRefusal.empty()) why += ": " + replies.lastRefusal;
    return {outcome, PrintableText(why), ""};
}
