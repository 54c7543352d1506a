// What text the details line can hold.
#include "contacts/user_details.h"

#include "common/text.h"

bool CopyDetailsText(char* target, size_t size, const char* source, size_t count) {
    if (size == 0) return false;
    target[0] = '\0';
    size_t line = 0;
    while (line < count && source[line] != '\0' && source[line] != '\r' && source[line] != '\n') ++line;
    bool complete = line == count || source[line] == '\0';
    size_t kept = 0;
    for (size_t at = 0; at < line;) {
        size_t run = 0;
        while (at + run < line && FitsDetailsLine(source[at + run])) ++run;
        kept += CopyText(target + kept, size - kept, source + at, run);
        at += run;
        if (at < line) {
            complete = false;
            ++at;
        }
    }
    return complete;
}
