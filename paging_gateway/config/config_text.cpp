// Writes a configuration file from command-line options with toml++, and takes the secrets out of one.
#include "paging_gateway/config/config_text.h"

#include <sstream>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "paging_gateway/config/config_file.h"
#include "paging_gateway/options.h"
#include "paging_gateway/platform/line_end.h"

namespace {

constexpr const char HEADER[] =
    "# The mervasTX paging gateway's settings, written by paging_gateway --install-service.\n"
    "# Each key is an option of paging_gateway --help without its --; routes are [[route]] tables, the\n"
    "# first that serves a carrier taking its pages. Restart the service after a change.\n\n";

bool Repeatable(const std::string& option) {
    for (const char* const* name = GATEWAY_REPEATABLE_OPTIONS; *name != nullptr; ++name)
        if (option == *name) return true;
    return false;
}

// "URL" or "CARRIER=URL" as a route table.
toml::table Route(const std::string& value) {
    toml::table route;
    const size_t equals = value.find('=');
    if (equals != std::string::npos && value.find("://") > equals) {
        route.insert("carriers", toml::array{value.substr(0, equals)});
        route.insert("url", value.substr(equals + 1));
    } else {
        route.insert("url", value);
    }
    return route;
}

// Line ends as the platform's editors want them.
std::string PlatformLines(const std::string& text) {
    std::string lines;
    for (char c : text) {
        if (c == '\n') lines += LINE_END;
        else lines += c;
    }
    return lines;
}

}  // namespace

std::string ConfigText(const std::vector<std::string>& options, const ConfigLogins& logins, bool& holdsSecret) {
    toml::table table;
    toml::array routes;
    for (size_t i = 0; i < options.size(); ++i) {
        bool takesValue = false;
        if (!IsGatewayOption(options[i], takesValue)) continue;
        const std::string key = options[i].substr(2);
        if (!takesValue) {
            table.insert_or_assign(key, true);
        } else if (i + 1 < options.size()) {
            const std::string& value = options[++i];
            if (options[i - 1] == "--relay") {
                routes.push_back(Route(value));
            } else if (Repeatable(options[i - 1])) {
                if (!table.contains(key)) table.insert(key, toml::array{});
                table[key].as_array()->push_back(value);
            } else {
                table.insert_or_assign(key, value);
            }
        }
    }
    const std::pair<const char*, const std::string*> LOGINS[] = {{"smtp-user", &logins.smtpUser},
                                                                 {"smtp-password", &logins.smtpPassword},
                                                                 {"wctp-sender", &logins.wctpSender},
                                                                 {"wctp-security-code", &logins.wctpSecurityCode},
                                                                 {"snpp-password", &logins.snppPassword}};
    holdsSecret = false;
    for (const auto& login : LOGINS)
        if (!login.second->empty() && !table.contains(login.first)) {
            table.insert(login.first, *login.second);
            holdsSecret = holdsSecret || (login.second != &logins.smtpUser && login.second != &logins.wctpSender);
        }
    if (!routes.empty()) table.insert("route", std::move(routes));
    std::ostringstream text;
    text << HEADER << table << "\n";
    return PlatformLines(text.str());
}

bool ConfigWithoutSecrets(const std::string& text, std::string& result, int& removed, std::string& error) {
    toml::parse_result parsed = toml::parse(text);
    if (!parsed) {
        error = "line " + std::to_string(parsed.error().source().begin.line) + ": " +
                std::string(parsed.error().description());
        return false;
    }
    toml::table& table = parsed.table();
    removed = 0;
    auto strip = [&removed](toml::table& from) {
        for (const char* const* key = CONFIG_SECRET_KEYS; *key != nullptr; ++key) removed += from.erase(*key) ? 1 : 0;
    };
    strip(table);
    if (toml::array* routes = table["route"].as_array())
        for (toml::node& route : *routes)
            if (toml::table* own = route.as_table()) strip(*own);
    std::ostringstream written;
    written << "# The mervasTX paging gateway's settings; paging_gateway --uninstall-service took the logins out.\n\n"
            << table << "\n";
    result = PlatformLines(written.str());
    return true;
}
