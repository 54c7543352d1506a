// What every mail the gateway sends through libcurl needs: its Date header and the reader that uploads its text.
#pragma once

#include <cstddef>
#include <string>

// Now, as a Date header's value in UTC: "Tue, 08 Dec 2026 03:44:42 +0000".
std::string MailDate();

// The text libcurl uploads, and how much of it went.
struct MailUpload {
    const std::string* text;
    size_t sent;
};

// libcurl's CURLOPT_READFUNCTION for a MailUpload given as CURLOPT_READDATA.
size_t ReadMailUpload(char* buffer, size_t size, size_t count, void* upload);
