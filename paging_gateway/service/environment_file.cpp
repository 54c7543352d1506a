// The credentials file of a service: written at installation, read at every start.
#include "paging_gateway/service/environment_file.h"

#include "paging_gateway/platform/line_end.h"

const char* const CREDENTIAL_VARIABLES[5] = {"PAGING_GATEWAY_SMTP_USER", "PAGING_GATEWAY_SMTP_PASSWORD",
                                             "PAGING_GATEWAY_WCTP_SENDER", "PAGING_GATEWAY_WCTP_SECURITY_CODE",
                                             "PAGING_GATEWAY_SNPP_PASSWORD"};

namespace {

bool IsCredential(const std::string& name) {
    for (const char* variable : CREDENTIAL_VARIABLES)
        if (name == variable) return true;
    return false;
}

}  // namespace

bool EnvironmentFileText(const Variables& variables, std::string& text, std::string& error) {
    text.clear();
    for (const auto& variable : variables) {
        if (variable.second.find_first_of("\r\n") != std::string::npos) {
            error = variable.first + " holds a line break, which the file cannot keep";
            return false;
        }
        text += variable.first + "=" + variable.second + LINE_END;
    }
    return true;
}

bool ParseEnvironmentFile(const std::string& text, Variables& variables, std::string& error) {
    variables.clear();
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#' || line[first] == ';') continue;
        const size_t equals = line.find('=');
        const std::string name = equals == std::string::npos ? std::string() : line.substr(first, equals - first);
        if (!IsCredential(name)) {
            error = "line " + std::to_string(number) + " is not one of ";
            for (const char* variable : CREDENTIAL_VARIABLES)
                error += std::string(variable) + (variable == CREDENTIAL_VARIABLES[4] ? "=..." : "=..., ");
            return false;
        }
        variables.emplace_back(name, line.substr(equals + 1));
    }
    return true;
}
