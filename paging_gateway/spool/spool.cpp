// The relay's spool: one file per page, on disk before the page is acknowledged, gone once delivered.
#include "paging_gateway/spool/spool.h"

#include <algorithm>
#include <cstdio>

#include "paging_gateway/platform/files.h"

namespace {

const char VERSION_LINE[] = "paging_gateway spool 1\n";
const char END_LINE[] = "end\n";
const char PAGE_SUFFIX[] = ".page";
const char PARTIAL_SUFFIX[] = ".partial";
const size_t NUMBER_DIGITS = 12;
// Far above any page the program can send; a bigger file is not one of ours.
const size_t MAX_SPOOL_FILE_BYTES = 64 * 1024;

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string tail = suffix;
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The number of a page file's name ("000000000042.page"), or 0 for any other name.
unsigned long long NumberOf(const std::string& name) {
    if (name.size() != NUMBER_DIGITS + sizeof PAGE_SUFFIX - 1 || !EndsWith(name, PAGE_SUFFIX)) return 0;
    const std::string digits = name.substr(0, NUMBER_DIGITS);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoull(digits);
}

std::string NameOf(unsigned long long number) {
    char digits[32];
    snprintf(digits, sizeof digits, "%012llu", number);
    return std::string(digits) + PAGE_SUFFIX;
}

void AddField(std::string& text, const char* key, const std::string& value) {
    text += key;
    text += ' ';
    text += std::to_string(value.size());
    text += ':';
    text += value;
    text += '\n';
}

const Carrier* CarrierNamed(const std::string& name) {
    for (const Carrier& carrier : CARRIER_TABLE)
        if (name == carrier.displayName) return &carrier;
    return nullptr;
}

// Reads "key LENGTH:BYTES\n" at `at`; false when the text there is not one.
bool ReadField(const std::string& text, size_t& at, std::string& key, std::string& value) {
    const size_t blank = text.find(' ', at);
    if (blank == std::string::npos || blank == at) return false;
    const size_t colon = text.find(':', blank);
    if (colon == std::string::npos) return false;
    const std::string digits = text.substr(blank + 1, colon - blank - 1);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const size_t length = std::stoul(digits);
    if (colon + 1 + length >= text.size() || text[colon + 1 + length] != '\n') return false;
    key = text.substr(at, blank - at);
    value = text.substr(colon + 1, length);
    at = colon + 2 + length;
    return true;
}

}  // namespace

std::string SpoolText(const Page& page) {
    std::string text = VERSION_LINE;
    AddField(text, "carrier", page.carrier->displayName);
    AddField(text, "phone", page.phoneNumber);
    AddField(text, "message", page.message);
    if (page.sender) AddField(text, "sender", *page.sender);
    if (page.callback) AddField(text, "callback", *page.callback);
    return text + END_LINE;
}

bool ReadSpoolText(const std::string& text, Page& page, std::string& problem) {
    page = Page{};
    const std::string version = VERSION_LINE;
    if (text.compare(0, version.size(), version) != 0) {
        problem = "not a spool file of this version";
        return false;
    }
    bool havePhone = false, haveMessage = false;
    size_t at = version.size();
    while (text.compare(at, std::string::npos, END_LINE) != 0) {
        std::string key, value;
        if (!ReadField(text, at, key, value)) {
            problem = at >= text.size() ? "cut short" : "damaged field at byte " + std::to_string(at);
            return false;
        }
        bool repeated = false;
        if (key == "carrier") {
            repeated = page.carrier != nullptr;
            page.carrier = CarrierNamed(value);
            if (page.carrier == nullptr) {
                problem = "unknown carrier " + QuoteText(value);
                return false;
            }
        } else if (key == "phone") {
            repeated = havePhone;
            havePhone = true;
            page.phoneNumber = value;
        } else if (key == "message") {
            repeated = haveMessage;
            haveMessage = true;
            page.message = value;
        } else if (key == "sender") {
            repeated = page.sender.has_value();
            page.sender = value;
        } else if (key == "callback") {
            repeated = page.callback.has_value();
            page.callback = value;
        } else {
            problem = "unknown field " + QuoteText(key);
            return false;
        }
        if (repeated) {
            problem = "field " + key + " given twice";
            return false;
        }
    }
    if (page.carrier == nullptr || !havePhone || !haveMessage) {
        problem = page.carrier == nullptr ? "no carrier" : !havePhone ? "no phone number" : "no message";
        return false;
    }
    return true;
}

std::string Spool::PathOf(const std::string& name) const { return folder_ + "/" + name; }

std::string Spool::FailedFolder() const { return folder_ + "/failed"; }

bool Spool::Open(const std::string& folder, std::string& error) {
    folder_ = folder;
    if (!MakeFolder(folder_, error) || !MakeFolder(FailedFolder(), error)) return false;
    // A name is never used twice, so a page moved to failed/ cannot be overwritten by a later one.
    for (const std::string& where : {folder_, FailedFolder()})
        for (const std::string& name : ListFiles(where)) {
            lastNumber_ = std::max(lastNumber_, NumberOf(name));
            // Never renamed into place, so never acknowledged: the sender was told it did not go.
            if (where == folder_ && EndsWith(name, PARTIAL_SUFFIX)) {
                std::string ignored;
                RemoveFile(PathOf(name), ignored);
                lastNumber_ = std::max(lastNumber_, NumberOf(name.substr(0, name.size() - sizeof PARTIAL_SUFFIX + 1)));
            }
        }
    return true;
}

bool Spool::Put(const Page& page, std::string& name, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(numbering_);
        name = NameOf(++lastNumber_);
    }
    const std::string partial = PathOf(name) + PARTIAL_SUFFIX;
    if (!WriteNewFile(partial, SpoolText(page), error)) return false;
    if (RenameFile(partial, PathOf(name), error)) return true;
    std::string ignored;
    RemoveFile(partial, ignored);
    return false;
}

std::vector<std::string> Spool::Waiting() const {
    std::vector<std::string> names;
    for (const std::string& name : ListFiles(folder_))
        if (EndsWith(name, PAGE_SUFFIX)) names.push_back(name);
    // Page numbers have a fixed width, so the names sort in arrival order; other names come after.
    std::sort(names.begin(), names.end());
    return names;
}

bool Spool::Load(const std::string& name, Page& page, std::string& problem) const {
    std::string text;
    if (!ReadSmallFile(PathOf(name), MAX_SPOOL_FILE_BYTES, text, problem)) return false;
    return ReadSpoolText(text, page, problem);
}

bool Spool::Remove(const std::string& name, std::string& error) { return RemoveFile(PathOf(name), error); }

bool Spool::MoveToFailed(const std::string& name, const std::string& reason, std::string& error) {
    const std::string target = FailedFolder() + "/" + name;
    std::string ignored;
    RemoveFile(target + ".reason", ignored);
    if (!WriteNewFile(target + ".reason", reason + "\n", error)) return false;
    return RenameFile(PathOf(name), target, error);
}

bool Spool::Restore(const std::string& name, std::string& error) {
    // Names are never reused, so nothing waiting can have this one; the check keeps a page from being lost
    // should one somehow be there.
    std::string ignored, bytes;
    if (ReadSmallFile(PathOf(name), MAX_SPOOL_FILE_BYTES, bytes, ignored)) {
        error = name + " is already waiting in the spool";
        return false;
    }
    const std::string failed = FailedFolder() + "/" + name;
    if (!RenameFile(failed, PathOf(name), error)) return false;
    RemoveFile(failed + ".reason", ignored);
    return true;
}
