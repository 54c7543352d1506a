// Hands pages to a paging network as e-mails, several to a connection, through libcurl's SMTP (STARTTLS, login).
#include "paging_gateway/relay/mail.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "paging_gateway/platform/mail_upload.h"

namespace {

const char HEX[] = "0123456789ABCDEF";
const char CHARSET[] = "windows-1252";  // the program's single-byte ANSI text
const size_t MAX_ENCODED_LINE = 75;     // quoted-printable lines stay within 76 with the soft break's "="
const size_t MAX_ENCODED_WORD_TEXT = 40;  // with "=?windows-1252?Q?" and "?=": 59, within 75
const size_t MAX_HEADER_LINE = 78;

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

// Encoded words (RFC 2047) any bytes survive, each no longer than 75 characters and on a line of its own.
std::string EncodedWords(const std::string& text) {
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

// "Name: value" folded at blanks so that no line passes 78 characters; a value that plain ASCII cannot
// carry, or that has no blank where it must break, goes as encoded words instead.
std::string HeaderField(const std::string& name, const std::string& text) {
    const std::string start = name + ": ";
    if (!IsPlainHeaderText(text)) return start + EncodedWords(text);
    if (start.size() + text.size() <= MAX_HEADER_LINE) return start + text;
    if (text.find("  ") != std::string::npos || text.front() == ' ' || text.back() == ' ')
        return start + EncodedWords(text);
    std::string folded = start;
    size_t lineLength = start.size();
    bool fresh = true;  // nothing on this line yet but the name
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(' ', at + 1);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(at, end - at);  // a word, with the blank before it after the first
        if (lineLength + piece.size() > MAX_HEADER_LINE && !fresh) {
            folded += "\r\n";
            lineLength = 0;
        }
        if (lineLength + piece.size() > MAX_HEADER_LINE) return start + EncodedWords(text);
        folded += piece;
        lineLength += piece.size();
        fresh = false;
        at = end;
    }
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

struct ServerReplies {
    std::string last;
    std::string lastRefusal;  // the last 4xx or 5xx: after a refusal the goodbye comes last
    bool mailBegun = false;   // MAIL FROM went out: what follows is about this mail, not the connection
};

// Keeps the server's replies, so a refusal is reported in the server's own words.
int KeepServerReply(CURL*, curl_infotype type, char* data, size_t size, void* replies) {
    ServerReplies& kept = *static_cast<ServerReplies*>(replies);
    if (type == CURLINFO_HEADER_OUT && size >= 10 && memcmp(data, "MAIL FROM:", 10) == 0) kept.mailBegun = true;
    if (type != CURLINFO_HEADER_IN) return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) return 0;
    kept.last = PrintableText(line);
    if (line[0] == '4' || line[0] == '5') kept.lastRefusal = kept.last;
    return 0;
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
    return "Date: " + MailDate() + "\r\nFrom: <" + settings.from + ">\r\nTo: <" + recipient +
           ">\r\n" + HeaderField("Subject", MailSubject(page)) +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=" + CHARSET +
           "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + QuotedPrintable(page.message);
}

// Once the mail is under way, the server's reply code decides: any 5xx refuses the page for good (the
// sender, the recipient, or the text after it went: libcurl calls that last one a weird server reply), a 4xx
// has this page wait; 421 closes the connection whatever the command was. Before it (a greeting, TLS, the
// login) and without a reply, the trouble is the network's or the gateway's, and every page waits for it.
Delivery MailVerdict(bool performed, long code, bool mailBegun, const std::string& text) {
    if (performed) return {Outcome::Delivered, text, Scope::Page};
    if (!mailBegun || code == 421 || code < 400 || code > 599) return {Outcome::Temporary, text, Scope::Upstream};
    return {code >= 500 ? Outcome::Permanent : Outcome::Temporary, text, Scope::Page};
}

void StartMail() { curl_global_init(CURL_GLOBAL_DEFAULT); }

MailSession::MailSession(const UpstreamUrl& url, const MailSettings& settings, long timeoutMilliseconds)
    : url_(url), settings_(settings), timeoutMilliseconds_(timeoutMilliseconds) {}

MailSession::~MailSession() { Close(); }

void MailSession::Close() {
    // libcurl says goodbye to a kept connection as the handle goes.
    if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
    curl_ = nullptr;
}

Delivery MailSession::Send(const Page& page, size_t) {
    std::string recipient;
    if (!MailRecipient(settings_.toTemplate, page, recipient))
        return {Outcome::Permanent, "phone number " + QuoteText(page.phoneNumber) + " cannot stand in an address",
                Scope::Page};
    if (curl_ == nullptr && !Start()) return {Outcome::Temporary, "libcurl could not start"};
    CURL* curl = static_cast<CURL*>(curl_);
    const std::string text = MailText(settings_, recipient, page);
    MailUpload upload{&text, 0};
    ServerReplies replies;
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + recipient + ">").c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE, static_cast<long>(text.size()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &replies);

    const CURLcode result = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(recipients);

    if (result == CURLE_OK) return MailVerdict(true, code, replies.mailBegun, replies.last);
    std::string why = *error ? error : curl_easy_strerror(result);
    if (!replies.lastRefusal.empty()) why += ": " + replies.lastRefusal;
    return MailVerdict(false, code, replies.mailBegun, PrintableText(why));
}

bool MailSession::Start() {
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;
    curl_ = curl;
    const std::string address =
        (url_.implicitTls ? "smtps://" : "smtp://") + url_.host + ":" + std::to_string(url_.port);
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + settings_.from + ">").c_str());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMailUpload);
    if (!url_.implicitTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, settings_.requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY);
    if (!settings_.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings_.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings_.password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMilliseconds_);
    // No byte either way for that long is a server that stopped answering; and a whole mail is a few hundred
    // bytes, so a session longer than a handful of replies' time-outs is stuck too.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, timeoutMilliseconds_ / 1000));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMilliseconds_ * 4);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // signals cannot reach a worker thread safely
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, KeepServerReply);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);  // feeds KeepServerReply; prints nothing itself
    return true;
}
