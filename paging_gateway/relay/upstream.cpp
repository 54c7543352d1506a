// What the relay needs to know about an upstream paging network, and what one delivery came to.
#include "paging_gateway/relay/upstream.h"

#include "paging_gateway/platform/cp1252.h"

namespace {

struct Scheme {
    const char* prefix;
    UpstreamKind kind;
    bool implicitTls;
    int defaultPort;
};

// What this build relays: e-mail goes through libcurl, which the Windows build lacks.
constexpr Scheme SCHEMES[] = {
    {"snpp://", UpstreamKind::Snpp, false, 444},
#ifdef PAGING_GATEWAY_MAIL
    {"smtp://", UpstreamKind::Smtp, false, 25},
    {"smtps://", UpstreamKind::Smtp, true, 465},
#endif
    {"wctp+https://", UpstreamKind::Wctp, true, 443},
    {"wctp+http://", UpstreamKind::Wctp, false, 80},
};

// "snpp://, smtp://, ... or wctp+http://", as this build has them.
std::string SchemeList() {
    std::string list;
    const size_t count = sizeof SCHEMES / sizeof SCHEMES[0];
    for (size_t i = 0; i < count; ++i)
        list += std::string(i == 0 ? "" : i + 1 == count ? " or " : ", ") + SCHEMES[i].prefix;
    return list;
}

bool IsHostByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Printable ASCII without blanks, quotes or a fragment; '%' escapes are passed on as written.
bool IsPathText(const std::string& path) {
    for (char c : path)
        if (c <= 0x20 || c > 0x7E || c == '"' || c == '<' || c == '>' || c == '\\' || c == '#') return false;
    return true;
}

}  // namespace

bool ParseUpstreamUrl(const std::string& text, UpstreamUrl& url, std::string& error) {
    const Scheme* scheme = nullptr;
    for (const Scheme& candidate : SCHEMES)
        if (text.compare(0, std::string(candidate.prefix).size(), candidate.prefix) == 0) scheme = &candidate;
    if (scheme == nullptr) {
#ifndef PAGING_GATEWAY_MAIL
        if (text.compare(0, 7, "smtp://") == 0 || text.compare(0, 8, "smtps://") == 0) {
            error = "this paging_gateway relays SNPP and WCTP, not e-mail (built without libcurl): " +
                    PrintableText(text);
            return false;
        }
#endif
        error = "relay address must start with " + SchemeList() + ": " + PrintableText(text);
        return false;
    }
    std::string rest = text.substr(std::string(scheme->prefix).size());
    url.path.clear();
    if (scheme->kind == UpstreamKind::Wctp) {
        const size_t slash = rest.find('/');
        if (slash != std::string::npos) url.path = rest.substr(slash);
        rest = rest.substr(0, slash);
        if (url.path.empty()) url.path = "/";
        if (!IsPathText(url.path)) {
            error = "bad path in relay address: " + PrintableText(text);
            return false;
        }
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('@') != std::string::npos || url.path.find('@') != std::string::npos) {
        error = "put no credentials in the relay address; see --help for where they go";
        return false;
    }
    const size_t colon = rest.find(':');
    url.host = rest.substr(0, colon);
    url.port = scheme->defaultPort;
    if (colon != std::string::npos) {
        const std::string digits = rest.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(digits) < 1 || std::stol(digits) > 65535) {
            error = "bad port in relay address: " + PrintableText(text);
            return false;
        }
        url.port = static_cast<int>(std::stol(digits));
    }
    if (url.host.empty() || url.host.size() > 253) {
        error = "no host in relay address: " + PrintableText(text);
        return false;
    }
    for (char c : url.host)
        if (!IsHostByte(c)) {
            error = "bad host in relay address: " + PrintableText(text);
            return false;
        }
    url.kind = scheme->kind;
    url.implicitTls = scheme->implicitTls;
    url.text = scheme->prefix + url.host + ":" + std::to_string(url.port) +
               (url.kind == UpstreamKind::Wctp ? url.path : std::string());
    return true;
}

bool PagerIdOf(const std::string& phoneNumber, std::string& pagerId) {
    pagerId.clear();
    for (char c : phoneNumber) {
        if (c == ' ') continue;
        if (c < 0x21 || c > 0x7E) return false;
        pagerId += c;
    }
    return !pagerId.empty();
}

std::string ConsoleText(const std::string& text) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string ascii;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x7E) {
            ascii += c;
            continue;
        }
        const char escape[] = {'\\', 'x', HEX[byte >> 4], HEX[byte & 15]};
        ascii.append(escape, sizeof escape);
    }
    return ascii;
}

std::string PrintableText(const std::string& text) {
    std::string printable;
    for (char c : Cp1252Text(text)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        printable += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return printable;
}
