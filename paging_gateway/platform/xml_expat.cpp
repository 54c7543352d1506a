// Reads an XML document with libexpat.
#include "paging_gateway/platform/xml_reader.h"

#include <expat.h>

#include <memory>

#include "common/text.h"

namespace {

// windows-1252, which expat does not know by itself: 0x80-0x9F as Windows maps them, the rest as Latin-1.
const int CP1252_HIGH[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                             0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                             0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    if (!SameIgnoringCase(name, "WINDOWS-1252") && !SameIgnoringCase(name, "CP1252")) return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte)
        info->map[byte] = byte >= 0x80 && byte < 0xA0 ? CP1252_HIGH[byte - 0x80] : byte;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

void XMLCALL OnStart(void* context, const XML_Char* name, const XML_Char** attributes) {
    XmlEvents::Attributes list;
    for (size_t i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2)
        list.emplace_back(attributes[i], attributes[i + 1]);
    static_cast<XmlEvents*>(context)->Start(name, list);
}

void XMLCALL OnEnd(void* context, const XML_Char* name) { static_cast<XmlEvents*>(context)->End(name); }

void XMLCALL OnText(void* context, const XML_Char* text, int length) {
    static_cast<XmlEvents*>(context)->Text(std::string(text, static_cast<size_t>(length)));
}

}  // namespace

bool ReadXml(const std::string& document, XmlEvents& events, std::string& error) {
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) {
        error = "out of memory for the XML parser";
        return false;
    }
    XML_Parser handle = parser.get();
    XML_SetUserData(handle, &events);
    XML_SetElementHandler(handle, OnStart, OnEnd);
    XML_SetCharacterDataHandler(handle, OnText);
    XML_SetUnknownEncodingHandler(handle, UnknownEncoding, nullptr);
    XML_SetParamEntityParsing(handle, XML_PARAM_ENTITY_PARSING_NEVER);
    if (document.size() > static_cast<size_t>(INT32_MAX) ||
        XML_Parse(handle, document.data(), static_cast<int>(document.size()), XML_TRUE) != XML_STATUS_OK) {
        error = std::string(XML_ErrorString(XML_GetErrorCode(handle))) + " at line " +
                std::to_string(XML_GetCurrentLineNumber(handle));
        return false;
    }
    return true;
}
