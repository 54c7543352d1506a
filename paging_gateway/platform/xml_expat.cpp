// Reads an XML document with libexpat.
#include "paging_gateway/platform/xml_reader.h"

#include <expat.h>

#include <memory>

#include "common/text.h"
#include "paging_gateway/platform/cp1252.h"

namespace {

// windows-1252, which expat does not know by itself.
int UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    if (!SameIgnoringCase(name, "WINDOWS-1252") && !SameIgnoringCase(name, "CP1252")) return XML_STATUS_ERROR;
    for (int byte = 0; byte < 256; ++byte)
        info->map[byte] = static_cast<int>(UnicodeOfCp1252(static_cast<unsigned char>(byte)));
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
