// Hands a page to a paging network as one e-mail, through libcurl's SMTP (STARTTLS, login).
#pragma once

#include <string>

#include "paging_gateway/relay/upstream.h"

// The recipient for this page, or false when the pager id cannot stand in an address.
bool MailRecipient(const std::string& toTemplate, const Page& page, std::string& recipient);

// "Page from Bob, callback 5550001111", or just "Page" when the page has neither.
std::string MailSubject(const Page& page);

// The whole message: headers, then the text as quoted-printable, which keeps every byte as it came.
std::string MailText(const MailSettings& settings, const std::string& recipient, const Page& page);

// Call once before any thread sends mail.
void StartMail();

Delivery SendMailPage(const UpstreamUrl& url, const MailSettings& settings, const Page& page,
                      long timeoutMilliseconds);
