// What every mail the gateway sends through libcurl needs: its Date header and the reader that uploads its text.
#include "paging_gateway/platform/mail_upload.h"

#include <algorithm>
#include <cstring>
#include <ctime>

std::string MailDate() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

size_t ReadMailUpload(char* buffer, size_t size, size_t count, void* state) {
    MailUpload& upload = *static_cast<MailUpload*>(state);
    const size_t part = std::min(size * count, upload.text->size() - upload.sent);
    std::memcpy(buffer, upload.text->data() + upload.sent, part);
    upload.sent += part;
    return part;
}
