// The WCTP operations the relay sends: a page and a question about it, as XML.
#pragma once

#include <string>

#include "paging_gateway/relay/upstream.h"

// Windows-1252 bytes as UTF-8 XML character data (or an attribute value, whose blanks XML would otherwise
// fold). Every markup byte is escaped and CR written as a reference so it survives line-end handling; C0
// controls other than TAB, LF and CR, which XML 1.0 cannot carry even as references, become '?'.
std::string XmlText(const std::string& cp1252, bool attribute);

// The page as one wctp-Operation: wctp-SubmitClientMessage with the security code in the originator's
// miscInfo, or with `settings.enterprise` wctp-SubmitRequest with it in securityCode. `messageId` names the
// page to the network (enterprise form only); `timestamp` is UTC, YYYY-MM-DDTHH:MM:SS.
std::string WctpSubmit(const WctpSettings& settings, const std::string& recipientId, const std::string& text,
                       const std::string& messageId, const std::string& timestamp);

// wctp-ClientQuery for the status of a page the network took.
std::string WctpClientQuery(const WctpSettings& settings, const std::string& recipientId,
                            const std::string& trackingNumber);
