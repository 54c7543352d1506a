// Reads the gateway's configuration file with toml++ into the options the command line would give.
#include "paging_gateway/config/config_file.h"

#include <algorithm>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "paging_gateway/options.h"
#include "paging_gateway/platform/files.h"

const char* const CONFIG_SECRET_KEYS[] = {"smtp-password", "wctp-security-code", "snpp-password", nullptr};

namespace {

constexpr size_t MAX_CONFIG_BYTES = 1024 * 1024;

// Options that say which file to read, or only what to show, mean nothing inside one.
const char* const NOT_IN_A_FILE[] = {"--config", "--check-config", "--help", "-h", nullptr};

bool InTable(const char* const* table, const std::string& name) {
    for (; *table != nullptr; ++table)
        if (name == *table) return true;
    return false;
}

const char* TypeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "a whole number";
        case toml::node_type::floating_point: return "a number with a fraction";
        case toml::node_type::boolean: return "true or false";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

class Reader {
public:
    Reader(const std::string& path, ConfigFile& config, std::string& error)
        : path_(path), config_(config), error_(error) {}

    std::string Where(const toml::node& node, const std::string& key) const {
        return path_ + ":" + std::to_string(node.source().begin.line) + ": " + key;
    }

    bool Fail(const toml::node& node, const std::string& key, const std::string& reason) {
        error_ = Where(node, key) + ": " + reason;
        return false;
    }

    // A string, or a whole number written as the command line would; `what` names what else it should be.
    bool Scalar(const toml::node& node, const std::string& key, std::string& value) {
        if (const auto* text = node.as_string()) {
            value = text->get();
            return true;
        }
        if (const auto* number = node.as_integer()) {
            value = std::to_string(number->get());
            return true;
        }
        return Fail(node, key, std::string("needs a string or a whole number, not ") + TypeName(node));
    }

    bool Text(const toml::node& node, const std::string& key, std::string& value) {
        if (const auto* text = node.as_string()) {
            value = text->get();
            return true;
        }
        return Fail(node, key, std::string("needs a string, not ") + TypeName(node));
    }

    void Add(const toml::node& node, const std::string& key, const std::string& option, const std::string& value) {
        ConfigSetting setting;
        setting.option = option;
        setting.value = value;
        setting.where = Where(node, key);
        setting.line = node.source().begin.line;
        config_.settings.push_back(setting);
    }

    bool Secret(const toml::node& node, const std::string& key, std::string& value) {
        if (!Text(node, key, value)) return false;
        if (!value.empty() && config_.secretKey.empty()) config_.secretKey = key;
        return true;
    }

    // A top-level key: an option without its "--", or a login.
    bool Option(const std::string& key, const toml::node& node) {
        if (key == "smtp-password") return Secret(node, key, config_.smtpPassword);
        if (key == "wctp-security-code") return Secret(node, key, config_.wctpSecurityCode);
        if (key == "snpp-password") return Secret(node, key, config_.snppPassword);
        if (key == "wctp-sender") return Text(node, key, config_.wctpSender);
        const std::string option = "--" + key;
        bool takesValue = false;
        if (!IsGatewayOption(option, takesValue) || key == "h")
            return Fail(node, key, "unknown key (every option of paging_gateway --help is a key, without its --)");
        if (InTable(NOT_IN_A_FILE, option)) return Fail(node, key, "belongs on the command line, not in the file");
        if (!takesValue) {
            const auto* flag = node.as_boolean();
            if (flag == nullptr) return Fail(node, key, std::string("needs true or false, not ") + TypeName(node));
            if (flag->get()) Add(node, key, option, "");
            return true;
        }
        if (const auto* list = node.as_array()) {
            if (!InTable(GATEWAY_REPEATABLE_OPTIONS, option) && list->size() != 1)
                return Fail(node, key, "takes one value, not an array");
            for (const toml::node& item : *list) {
                std::string value;
                if (!Scalar(item, key, value)) return false;
                Add(item, key, option, value);
            }
            return true;
        }
        std::string value;
        if (!Scalar(node, key, value)) return false;
        Add(node, key, option, value);
        return true;
    }

    // A route's own SNPP key, into `snpp`.
    bool SnppKey(const std::string& key, const toml::node& node, SnppSettings& snpp) {
        if (key == "snpp-user") return Text(node, key, snpp.user);
        if (key == "snpp-password") {
            if (!Secret(node, key, snpp.password)) return false;
            for (char c : snpp.password)
                if (c <= 0x20 || c > 0x7E)
                    return Fail(node, key, "needs printable characters without blanks (LOGIn sends it as one word)");
            return true;
        }
        if (key == "snpp-subject") {
            const auto* flag = node.as_boolean();
            if (flag == nullptr) return Fail(node, key, std::string("needs true or false, not ") + TypeName(node));
            snpp.senderInSubject = flag->get();
            return true;
        }
        if (key == "snpp-before-page") {
            const auto* list = node.as_array();
            if (list == nullptr) return Fail(node, key, std::string("needs an array of strings, not ") + TypeName(node));
            snpp.beforePage.clear();
            for (const toml::node& item : *list) {
                std::string command;
                if (!Text(item, key, command)) return false;
                if (command.empty() || command.find_first_of("\r\n") != std::string::npos)
                    return Fail(item, key, "needs one SNPP command per string, without line breaks");
                snpp.beforePage.push_back(command);
            }
            return true;
        }
        if (key == "snpp-max-length") {
            const auto* number = node.as_integer();
            if (number == nullptr || number->get() < 1 || number->get() > 65535)
                return Fail(node, key, "needs a whole number of characters from 1 to 65535");
            snpp.maxLength = static_cast<size_t>(number->get());
            return true;
        }
        if (key == "snpp-send-timeout") {
            std::string text;
            long milliseconds = 0;
            if (!Scalar(node, key, text)) return false;
            if (!ParseDuration(text, 1000, milliseconds) || milliseconds < 1)
                return Fail(node, key, "needs a duration such as \"5m\" or \"90s\" (a bare number is seconds)");
            snpp.sendTimeoutMilliseconds = milliseconds;
            return true;
        }
        return Fail(node, key,
                    "unknown key in a [[route]] (it takes carriers, url and the snpp- keys; other options go "
                    "before the first [[route]])");
    }

    // [[route]]: one --relay per carrier it names (one for every other carrier without carriers), in order.
    bool Route(const toml::node& node) {
        const toml::table* route = node.as_table();
        if (route == nullptr) return Fail(node, "route", "needs [[route]] tables");
        std::string url;
        std::vector<std::string> carriers;
        const toml::node* urlNode = nullptr;
        SnppSettings snpp;
        std::string snppWhere;
        for (auto&& [key, value] : *route) {
            const std::string name(key.str());
            if (name == "url") {
                if (!Text(value, "route.url", url)) return false;
                urlNode = &value;
            } else if (name == "carriers") {
                const auto* list = value.as_array();
                if (list == nullptr || list->empty())
                    return Fail(value, "route.carriers", "needs an array of carrier names, such as [\"Sprint\"]");
                for (const toml::node& item : *list) {
                    std::string carrier;
                    if (!Text(item, "route.carriers", carrier)) return false;
                    if (carrier.empty() || carrier.find('=') != std::string::npos)
                        return Fail(item, "route.carriers", "not a carrier's name: " + PrintableText(carrier));
                    carriers.push_back(carrier);
                }
            } else {
                if (!SnppKey(name, value, snpp)) return false;
                if (snppWhere.empty()) snppWhere = Where(value, "route." + name);
            }
        }
        if (urlNode == nullptr) return Fail(node, "route", "a [[route]] needs url = \"snpp://...\" (or smtp://, wctp+https://)");
        if (carriers.empty()) carriers.push_back("");
        for (const std::string& carrier : carriers) {
            Add(*urlNode, "route.url", "--relay", carrier.empty() ? url : carrier + "=" + url);
            config_.settings.back().snpp = snpp;
            config_.settings.back().snppWhere = snppWhere;
        }
        return true;
    }

    bool Read(const toml::table& table) {
        for (auto&& [key, node] : table) {
            const std::string name(key.str());
            if (name == "route") {
                const auto* routes = node.as_array();
                if (routes == nullptr) return Fail(node, "route", "needs [[route]] tables");
                for (const toml::node& route : *routes)
                    if (!Route(route)) return false;
            } else if (!Option(name, node)) {
                return false;
            }
        }
        // The table keeps its keys sorted; options are applied in the order the file gives them.
        std::stable_sort(config_.settings.begin(), config_.settings.end(),
                         [](const ConfigSetting& a, const ConfigSetting& b) { return a.line < b.line; });
        return true;
    }

private:
    std::string path_;
    ConfigFile& config_;
    std::string& error_;
};

}  // namespace

bool ParseConfigText(const std::string& text, const std::string& path, ConfigFile& config, std::string& error) {
    config = ConfigFile();
    config.path = path;
    toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        const toml::parse_error& failure = parsed.error();
        error = path + ":" + std::to_string(failure.source().begin.line) + ": " + std::string(failure.description());
        return false;
    }
    return Reader(path, config, error).Read(parsed.table());
}

bool ReadConfigFile(const std::string& path, ConfigFile& config, std::string& error) {
    std::string text;
    if (!ReadSmallFile(path, MAX_CONFIG_BYTES, text, error)) {
        error = "cannot read the configuration file " + path + ": " + error;
        return false;
    }
    if (!ParseConfigText(text, path, config, error)) return false;
#ifndef _WIN32
    struct stat status {};
    if (!config.secretKey.empty() && stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH))) {
        error = path + " holds a secret (" + config.secretKey + ") but other users may read it: chmod 600 " + path;
        return false;
    }
#endif
    return true;
}
