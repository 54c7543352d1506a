// Notices as a short e-mail through libcurl's SMTP: the title as the subject, the object below it.
#include <curl/curl.h>

#include <memory>

#include "paging_gateway/notice/channel.h"
#include "paging_gateway/platform/mail_upload.h"

namespace {

// Far within SMTP's 998 characters a line.
constexpr size_t MAX_SUBJECT = 300;

// Line ends as SMTP wants them.
std::string CrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

class MailChannel : public NoticeChannel {
public:
    MailChannel(const UpstreamUrl& server, const MailSettings& settings, const std::string& to, long timeout)
        : server_(server), settings_(settings), to_(to), timeoutMilliseconds_(timeout) {}
    const char* Name() const override { return "mail"; }

    bool Deliver(const Outgoing& outgoing, std::string& error) override {
        std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
        if (!curl) {
            error = "libcurl could not start";
            return false;
        }
        CURL* handle = curl.get();
        const std::string text = NoticeMailText(settings_, to_, outgoing);
        const std::string address =
            (server_.implicitTls ? "smtps://" : "smtp://") + server_.host + ":" + std::to_string(server_.port);
        const std::string from = "<" + settings_.from + ">";
        curl_slist* recipients = curl_slist_append(nullptr, ("<" + to_ + ">").c_str());
        std::unique_ptr<curl_slist, void (*)(curl_slist*)> recipientList(recipients, curl_slist_free_all);
        MailUpload upload{&text, 0};
        char problem[CURL_ERROR_SIZE] = "";
        curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
        curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.c_str());
        curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients);
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadMailUpload);
        curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
        curl_easy_setopt(handle, CURLOPT_INFILESIZE, static_cast<long>(text.size()));
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, problem);
        if (!server_.implicitTls)
            curl_easy_setopt(handle, CURLOPT_USE_SSL, settings_.requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY);
        if (!settings_.user.empty()) {
            curl_easy_setopt(handle, CURLOPT_USERNAME, settings_.user.c_str());
            curl_easy_setopt(handle, CURLOPT_PASSWORD, settings_.password.c_str());
        }
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMilliseconds_);
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMilliseconds_ * 4);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        const CURLcode result = curl_easy_perform(handle);
        if (result == CURLE_OK) return true;
        error = PrintableText(*problem ? problem : curl_easy_strerror(result));
        return false;
    }

private:
    UpstreamUrl server_;
    MailSettings settings_;
    std::string to_;
    long timeoutMilliseconds_;
};

}  // namespace

std::string NoticeMailText(const MailSettings& settings, const std::string& to, const Outgoing& outgoing) {
    std::string subject = PrintableText(outgoing.title);
    if (subject.size() > MAX_SUBJECT) subject = subject.substr(0, MAX_SUBJECT - 3) + "...";
    std::string body;
    for (const std::string& title : outgoing.titles) body += "- " + PrintableText(title) + "\n";
    if (!body.empty()) body += "\n";
    // The object as the other channels send it, in ASCII (JSON's \u escapes), so any mail server carries it.
    body += outgoing.json + "\n";
    return "Date: " + MailDate() + "\r\nFrom: <" + settings.from + ">\r\nTo: <" + to + ">\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"
           "Content-Transfer-Encoding: 7bit\r\n\r\n" +
           CrLf(body);
}

std::unique_ptr<NoticeChannel> MakeMailChannel(const UpstreamUrl& server, const MailSettings& settings,
                                               const std::string& to, long timeoutMilliseconds) {
    return std::make_unique<MailChannel>(server, settings, to, timeoutMilliseconds);
}
