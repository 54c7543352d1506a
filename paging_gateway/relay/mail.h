// Hands pages to a paging network as e-mails, several to a connection, through libcurl's SMTP (STARTTLS, login).
#pragma once

#include <string>

#include "paging_gateway/relay/session.h"

// The recipient for this page, or false when the pager id cannot stand in an address.
bool MailRecipient(const std::string& toTemplate, const Page& page, std::string& recipient);

// "Page from Bob, callback 5550001111", or just "Page" when the page has neither.
std::string MailSubject(const Page& page);

// The whole message: headers, then the text as quoted-printable, which keeps every byte as it came.
std::string MailText(const MailSettings& settings, const std::string& recipient, const Page& page);

// What a mail that did not go comes to: `performed` is libcurl's success, `code` the last reply code it read,
// `mailBegun` whether MAIL FROM had gone out.
Delivery MailVerdict(bool performed, long code, bool mailBegun, const std::string& text);

// Call once before any thread sends mail.
void StartMail();

// One libcurl handle kept from page to page, so its connection carries several mails.
class MailSession : public UpstreamSession {
public:
    MailSession(const UpstreamUrl& url, const MailSettings& settings, long timeoutMilliseconds);
    ~MailSession() override;
    Delivery Send(const Page& page, size_t partsDone) override;
    void Close() override;

private:
    bool Start();

    UpstreamUrl url_;
    MailSettings settings_;
    long timeoutMilliseconds_;
    void* curl_ = nullptr;  // CURL*, kept out of this header
};
