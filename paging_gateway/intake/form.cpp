// Reads an application/x-www-form-urlencoded query or body the way a form server does.
#include "paging_gateway/intake/form.h"

namespace {

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
}

}  // namespace

std::string DecodeFormText(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 && HexValue(text[at + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

FormFields DecodeForm(const std::string& text) {
    FormFields form;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            if (equals == std::string::npos)
                form.emplace_back(DecodeFormText(pair), std::string());
            else
                form.emplace_back(DecodeFormText(pair.substr(0, equals)), DecodeFormText(pair.substr(equals + 1)));
        }
        start = end + 1;
    }
    return form;
}

const std::string* FormValue(const FormFields& form, const char* key) {
    for (const auto& field : form)
        if (field.first == key) return &field.second;
    return nullptr;
}
