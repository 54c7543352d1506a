// Page text made safe for where the status pages put it: HTML, JSON strings, Prometheus label values.
#pragma once

#include <string>

// For HTML text and quoted attributes; the program's windows-1252 bytes pass, control bytes become '?'.
std::string HtmlEscaped(const std::string& text);

// The body of a JSON string: windows-1252 read as such, every byte outside printable ASCII as \uXXXX.
std::string JsonEscaped(const std::string& text);

// A Prometheus label value: backslash, double quote and line feed escaped; bytes outside printable ASCII dropped.
std::string LabelEscaped(const std::string& text);
