// Where notices are sent: the webhook's address.
#include "paging_gateway/notice/notice_settings.h"

#include "paging_gateway/relay/upstream.h"

bool ParseNotifyUrl(const std::string& text, HttpTarget& target, std::string& error) {
    const bool tls = text.compare(0, 8, "https://") == 0;
    if (!tls && text.compare(0, 7, "http://") != 0) {
        error = "--notify-url must start with http:// or https://: " + PrintableText(text);
        return false;
    }
    const std::string rest = text.substr(tls ? 8 : 7);
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    std::string host = authority;
    int port = tls ? 443 : 80;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(digits) < 1 || std::stol(digits) > 65535) {
            error = "--notify-url has no port number 1-65535: " + PrintableText(text);
            return false;
        }
        port = static_cast<int>(std::stol(digits));
        host = authority.substr(0, colon);
    }
    if (host.empty() || host.find_first_of("@ \t[]") != std::string::npos) {
        error = host.find('@') != std::string::npos
                    ? "--notify-url may not hold a login (it is printed): " + PrintableText(text)
                    : "--notify-url has no host name: " + PrintableText(text);
        return false;
    }
    for (char c : rest)
        if (c <= 0x20 || c > 0x7E) {
            error = "--notify-url holds a blank or a byte outside printable ASCII: " + PrintableText(text);
            return false;
        }
    target.tls = tls;
    target.host = host;
    target.port = port;
    target.path = slash == std::string::npos ? "/" : rest.substr(slash);
    return true;
}
