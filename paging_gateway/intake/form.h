// Reads an application/x-www-form-urlencoded query or body the way a form server does.
#pragma once

#include <string>
#include <utility>
#include <vector>

using FormFields = std::vector<std::pair<std::string, std::string>>;

// "+" as a blank and "%XX" as its byte; a "%" without two hex digits after it stays as it is.
std::string DecodeFormText(const std::string& text);

// The key=value pairs between "&"s, decoded and in order; a pair without "=" has an empty value.
FormFields DecodeForm(const std::string& text);

// The first value of `key` (case matters), or null when the form has no such key.
const std::string* FormValue(const FormFields& form, const char* key);
