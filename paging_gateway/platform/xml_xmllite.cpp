// Reads an XML document with Windows' XmlLite, loaded when first needed.
#include "paging_gateway/platform/xml_reader.h"

#include <objbase.h>
#include <windows.h>
#include <xmllite.h>

#include <mutex>

namespace {

using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateReader ReaderMaker() {
    static CreateReader maker = nullptr;
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        if (HMODULE library = LoadLibraryA("xmllite.dll"))
            maker = reinterpret_cast<CreateReader>(reinterpret_cast<void*>(GetProcAddress(library, "CreateXmlReader")));
    });
    return maker;
}

std::string Utf8(const WCHAR* text, UINT length) {
    if (length == 0) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], bytes, nullptr, nullptr);
    return out;
}

template <typename T>
struct Released {
    T* pointer = nullptr;
    ~Released() {
        if (pointer) pointer->Release();
    }
};

std::string Name(IXmlReader* reader) {
    const WCHAR* name = nullptr;
    UINT length = 0;
    return SUCCEEDED(reader->GetLocalName(&name, &length)) ? Utf8(name, length) : std::string();
}

std::string Value(IXmlReader* reader) {
    const WCHAR* value = nullptr;
    UINT length = 0;
    return SUCCEEDED(reader->GetValue(&value, &length)) ? Utf8(value, length) : std::string();
}

// A memory stream holding a copy of the document.
IStream* StreamOf(const std::string& document) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, document.size() ? document.size() : 1);
    if (memory == nullptr) return nullptr;
    if (void* bytes = GlobalLock(memory)) {
        if (!document.empty()) memcpy(bytes, document.data(), document.size());
        GlobalUnlock(memory);
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    ULARGE_INTEGER size;
    size.QuadPart = document.size();
    stream->SetSize(size);
    return stream;
}

}  // namespace

bool ReadXml(const std::string& document, XmlEvents& events, std::string& error) {
    const CreateReader maker = ReaderMaker();
    if (maker == nullptr) {
        error = "this system has no XmlLite (xmllite.dll)";
        return false;
    }
    Released<IXmlReader> reader;
    Released<IStream> stream;
    stream.pointer = StreamOf(document);
    if (stream.pointer == nullptr ||
        FAILED(maker(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader.pointer), nullptr))) {
        error = "XmlLite could not start";
        return false;
    }
    // A DOCTYPE is read but nothing outside the document is ever fetched: the reader has no resolver.
    reader.pointer->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
    reader.pointer->SetProperty(XmlReaderProperty_XmlResolver, 0);
    if (FAILED(reader.pointer->SetInput(stream.pointer))) {
        error = "XmlLite refused the input";
        return false;
    }
    XmlNodeType type;
    HRESULT result;
    while ((result = reader.pointer->Read(&type)) == S_OK) {
        switch (type) {
            case XmlNodeType_Element: {
                const std::string name = Name(reader.pointer);
                const bool empty = reader.pointer->IsEmptyElement();
                XmlEvents::Attributes attributes;
                for (HRESULT more = reader.pointer->MoveToFirstAttribute(); more == S_OK;
                     more = reader.pointer->MoveToNextAttribute())
                    attributes.emplace_back(Name(reader.pointer), Value(reader.pointer));
                events.Start(name, attributes);
                if (empty) events.End(name);
                break;
            }
            case XmlNodeType_EndElement: events.End(Name(reader.pointer)); break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA:
            case XmlNodeType_Whitespace: events.Text(Value(reader.pointer)); break;
            default: break;
        }
    }
    if (FAILED(result)) {
        UINT line = 0;
        reader.pointer->GetLineNumber(&line);
        char code[16];
        wsprintfA(code, "%08lX", static_cast<unsigned long>(result));
        error = std::string("XmlLite error 0x") + code + " at line " + std::to_string(line);
        return false;
    }
    return true;
}
