// The six carriers: names, codes, length limits and how each one's paging form is filled in.
#pragma once

#include <cstddef>
#include <string>

#include "carrier_hosts.h"  // generated from the MERVASTX_HOST_* and MERVASTX_FORM_EMAIL cache variables

struct GatewayProfile {
    const char* method;  // "GET " or "POST ", the blank separating it from the path
    const char* host;
    const char* path;    // GET: up to and including the phone number's key
    const char* bodyPrefix;  // POST only: form body up to and including the phone number's key
    const char* messagePrefix;
    const char* senderPrefix;
    const char* callbackPrefix;
};

struct Carrier {
    const char* displayName;
    char carrierCode;
    int maxMessageLength;  // largest accepted counted length
    GatewayProfile profile;
};

constexpr int CARRIER_COUNT = 6;

inline constexpr Carrier CARRIER_TABLE[CARRIER_COUNT] = {
    {"Ameritech", 'M', 230,
     {"GET ", MERVASTX_HOST_AMERITECH,
      "/cgi-bin/page.cgi?template=paging&email=" MERVASTX_FORM_EMAIL "&pin=", "", "&message=", "&from=", "-"}},
    {"AT&T", 'A', 110,
     {"POST ", MERVASTX_HOST_ATT, "/messagecenter/pagersend.cgi", "pin=", "&message=", "&from=", "&subject="}},
    {"Cingular", 'C', 160,
     {"GET ", MERVASTX_HOST_CINGULAR, "/stage2.shtml?min=", "", "&msg=", "&FROM=", "&CALLBACK="}},
    {"Sprint", 'S', 155,
     {"GET ", MERVASTX_HOST_SPRINT, "/BMG/sendmessage.jsp?phoneMin=", "", "&msg=", "%20-from%20", "&callback="}},
    {"SunCom", 'U', 110,
     {"GET ", MERVASTX_HOST_SUNCOM, "/cgi-bin/sms.cgi?number=", "", "&message=", "&from=", "&subject="}},
    {"Verizon", 'V', 160,
     {"POST ", MERVASTX_HOST_VERIZON, "/customer_site/jsp/disclaimer.jsp",
      "disclaimer_submit.x=20&disclaimer_submit.y=20&min=", "&text=", "&subject=", "&callback="}},
};

// The carrier at a position of the carrier lists, or null outside 0..5.
const Carrier* CarrierAt(int index);

// The carrier with this code letter (upper case only), or null for any other letter.
const Carrier* CarrierByCode(char code);

// The carrier index of a code letter, or -1.
int CarrierIndexOf(char code);

// The code letter of a carrier index, or '\0' outside 0..5.
char CarrierCodeOf(int index);

constexpr size_t TextLength(const char* text) { return std::char_traits<char>::length(text); }

// Longest value of one profile field over all six carriers (for sizing buffers at compile time).
template <typename Field>
constexpr size_t LongestProfileText(Field field) {
    size_t longest = 0;
    for (const Carrier& carrier : CARRIER_TABLE) {
        const size_t length = TextLength(carrier.profile.*field);
        if (length > longest) longest = length;
    }
    return longest;
}

// A request is a POST exactly when its method is the five characters "POST ".
constexpr bool IsPostMethod(const char* method) {
    const char* post = "POST ";
    for (; *post != '\0'; ++post, ++method)
        if (*method != *post) return false;
    return *method == '\0';
}
