// Reads an XML document with the system's own parser: libexpat on Linux, XmlLite on Windows.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Names and text arrive as UTF-8; no external entity or DTD is ever fetched.
class XmlEvents {
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>;
    virtual ~XmlEvents() = default;
    virtual void Start(const std::string& name, const Attributes& attributes) = 0;
    virtual void Text(const std::string& text) = 0;
    virtual void End(const std::string& name) = 0;
};

// False, with the parser's reason, when the document is not well-formed XML.
bool ReadXml(const std::string& document, XmlEvents& events, std::string& error);
