// The relay's spool: one file per page, on disk before the page is acknowledged, gone once delivered.
#include "paging_gateway/spool/spool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "paging_gateway/platform/files.h"

namespace {

const char VERSION_LINE[] = "paging_gateway spool 1\n";
const char END_LINE[] = "end\n";
const char PAGE_SUFFIX[] = ".page";
const char PARTIAL_SUFFIX[] = ".partial";
const char LOCK_NAME[] = "paging_gateway.lock";
const char WRITE_CHECK_NAME[] = "write-check.partial";
const char LAST_ID_NAME[] = "last-id";
const char AGAIN_SUFFIX[] = ".again";
// Names are zero-padded to 12 digits and simply grow past them, up to what the counter holds.
const size_t NUMBER_DIGITS = 12;
const size_t MOST_DIGITS = 19;
// A name taken by some other hand is skipped; this many in a row means something else is wrong.
const int MOST_CLASHES = 100;
// Far above any page the program can send; a bigger file is not one of ours.
const size_t MAX_SPOOL_FILE_BYTES = 64 * 1024;

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string tail = suffix;
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The number of a page file's name ("000000000042.page", "1000000000000.page"), or 0 for any other name.
unsigned long long NumberOf(const std::string& name) {
    const std::string digits = PageIdOf(name);
    if (digits.size() < NUMBER_DIGITS || digits.size() > MOST_DIGITS ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoull(digits);
}

// The number a small file of digits holds, or 0.
unsigned long long NumberIn(const std::string& path) {
    std::string text, ignored;
    if (!ReadSmallFile(path, 64, text, ignored)) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty() || text.size() > MOST_DIGITS || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoull(text);
}

// A sent-again page's place in line as its .again file holds it, "NUMBER TURN": behind the page of that
// number and the pages sent again before it since; {0, 0} when unreadable.
std::pair<unsigned long long, unsigned long long> PlaceIn(const std::string& path) {
    std::string text, ignored;
    if (!ReadSmallFile(path, 64, text, ignored)) return {0, 0};
    const size_t blank = text.find(' ');
    std::string number = text.substr(0, blank);
    std::string turn = blank == std::string::npos ? std::string("1") : text.substr(blank + 1);
    while (!turn.empty() && (turn.back() == '\n' || turn.back() == '\r')) turn.pop_back();
    for (const std::string* digits : {&number, &turn})
        if (digits->empty() || digits->size() > MOST_DIGITS ||
            digits->find_first_not_of("0123456789") != std::string::npos)
            return {0, 0};
    return {std::stoull(number), std::stoull(turn)};
}

std::string NameOf(unsigned long long number) {
    char digits[32];
    snprintf(digits, sizeof digits, "%012llu", number);
    return PageFileName(digits);
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

std::string PageIdOf(const std::string& name) {
    if (name.size() <= sizeof PAGE_SUFFIX - 1 || !EndsWith(name, PAGE_SUFFIX)) return std::string();
    return name.substr(0, name.size() - (sizeof PAGE_SUFFIX - 1));
}

std::string PageFileName(const std::string& id) { return id + PAGE_SUFFIX; }

std::string Spool::PathOf(const std::string& name) const { return folder_ + "/" + name; }

std::string Spool::FailedFolder() const { return folder_ + "/failed"; }

bool Spool::Open(const std::string& folder, std::string& error) {
    folder_ = folder;
    const std::string cannot = "cannot use the spool folder " + NativePath(folder_) + ": ";
    std::string holder;
    if (!MakeFolder(folder_, error) || !MakeFolder(FailedFolder(), error)) {
        error = cannot + error;
        return false;
    }
    switch (lock_.Take(PathOf(LOCK_NAME), holder, error)) {
        case FileLock::Taken: break;
        case FileLock::HeldByAnother:
            error = "the spool folder " + NativePath(folder_) + " is in use by another paging_gateway (process " +
                    (holder.empty() ? std::string("unknown") : holder) + ")";
            return false;
        case FileLock::Failed: error = cannot + error; return false;
    }
    // Better refused at start-up than every page answered 503.
    for (const std::string& where : {folder_, FailedFolder()}) {
        const std::string check = where + "/" + WRITE_CHECK_NAME;
        std::string ignored;
        RemoveFile(check, ignored);
        if (!WriteNewFile(check, "", error) || !RemoveFile(check, error)) {
            error = "cannot write in the spool folder " + NativePath(where) + ": " + error;
            return false;
        }
    }
    // A name is never used twice, so a page moved to failed/ cannot be overwritten by a later one.
    keptNumber_ = NumberIn(PathOf(LAST_ID_NAME));
    lastNumber_ = keptNumber_;
    for (const std::string& where : {folder_, FailedFolder()})
        for (const std::string& name : ListFiles(where)) {
            lastNumber_ = std::max(lastNumber_, NumberOf(name));
            if (where == folder_ && EndsWith(name, AGAIN_SUFFIX)) {
                lastNumber_ = std::max(lastNumber_, PlaceIn(PathOf(name)).first);
                // Its page was relayed, or failed again, before the stop.
                const std::string page = name.substr(0, name.size() - (sizeof AGAIN_SUFFIX - 1));
                std::string ignored;
                if (!FileExists(PathOf(page))) RemoveFile(PathOf(name), ignored);
            }
            // Never renamed into place, so never acknowledged: the sender was told it did not go.
            if (where == folder_ && EndsWith(name, PARTIAL_SUFFIX)) {
                std::string ignored;
                RemoveFile(PathOf(name), ignored);
                lastNumber_ = std::max(lastNumber_, NumberOf(name.substr(0, name.size() - sizeof PARTIAL_SUFFIX + 1)));
            }
        }
    return true;
}

void Spool::CountPast(unsigned long long number) {
    std::lock_guard<std::mutex> lock(numbering_);
    lastNumber_ = std::max(lastNumber_, number);
}

bool Spool::KeepLastNumber(unsigned long long number, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(numbering_);
        number = std::max(number, lastNumber_);
        if (number <= keptNumber_) return true;
    }
    // Written aside and renamed over, so a crash leaves the old number or the new one.
    const std::string fresh = PathOf(std::string(LAST_ID_NAME) + PARTIAL_SUFFIX);
    std::string ignored;
    RemoveFile(fresh, ignored);
    if (!WriteNewFile(fresh, std::to_string(number) + "\n", error) || !RenameOver(fresh, PathOf(LAST_ID_NAME), error)) {
        error = "cannot keep the last id in " + NativePath(PathOf(LAST_ID_NAME)) + ": " + error;
        return false;
    }
    std::lock_guard<std::mutex> lock(numbering_);
    keptNumber_ = std::max(keptNumber_, number);
    return true;
}

bool Spool::Put(const Page& page, std::string& name, std::string& error) {
    for (int clashes = 0; clashes < MOST_CLASHES; ++clashes) {
        {
            std::lock_guard<std::mutex> lock(numbering_);
            name = NameOf(++lastNumber_);
        }
        const std::string partial = PathOf(name) + PARTIAL_SUFFIX;
        if (!WriteNewFile(partial, SpoolText(page), error)) {
            if (FileExists(partial)) continue;
            return false;
        }
        std::string ignored;
        switch (RenameWithoutReplacing(partial, PathOf(name), error)) {
            case Renamed::Done: return true;
            case Renamed::Taken: RemoveFile(partial, ignored); continue;
            case Renamed::Failed: RemoveFile(partial, ignored); return false;
        }
    }
    error = "every new name is taken";
    return false;
}

std::vector<std::string> Spool::Waiting() const {
    std::vector<std::string> names, again;
    for (const std::string& name : ListFiles(folder_)) {
        if (EndsWith(name, PAGE_SUFFIX)) names.push_back(name);
        if (EndsWith(name, AGAIN_SUFFIX)) again.push_back(name.substr(0, name.size() - (sizeof AGAIN_SUFFIX - 1)));
    }
    // A page's place in line: its number, or for a page sent again the last number given before it was, and
    // then behind the page of that number.
    std::map<std::string, std::pair<unsigned long long, unsigned long long>> place;
    for (const std::string& name : names) place[name] = {NumberOf(name), 0};
    for (const std::string& name : again) {
        const auto page = place.find(name);
        if (page != place.end()) page->second = PlaceIn(PathOf(name + AGAIN_SUFFIX));
    }
    // In arrival order, which past 12 digits is not the names' order; other names come after.
    std::sort(names.begin(), names.end(), [&place](const std::string& a, const std::string& b) {
        const auto first = place.at(a), second = place.at(b);
        if ((first.first == 0) != (second.first == 0)) return second.first == 0;
        return first != second ? first < second : a < b;
    });
    return names;
}

bool Spool::Load(const std::string& name, Page& page, std::string& problem) const {
    std::string text;
    if (!ReadSmallFile(PathOf(name), MAX_SPOOL_FILE_BYTES, text, problem)) return false;
    return ReadSpoolText(text, page, problem);
}

bool Spool::Remove(const std::string& name, std::string& error) {
    if (!RemoveFile(PathOf(name), error)) return false;
    std::string ignored;
    RemoveFile(PathOf(name + AGAIN_SUFFIX), ignored);  // a leftover is cleared at the next start
    return true;
}

bool Spool::MoveToFailed(const std::string& name, const std::string& reason, std::string& error) {
    const std::string target = FailedFolder() + "/" + name;
    if (FileExists(target)) {
        error = NativePath("failed/" + name) + " exists already";
        return false;
    }
    std::string ignored;
    RemoveFile(target + ".reason", ignored);
    if (!WriteNewFile(target + ".reason", reason + "\n", error)) return false;
    if (RenameWithoutReplacing(PathOf(name), target, error) != Renamed::Done) return false;
    RemoveFile(PathOf(name + AGAIN_SUFFIX), ignored);
    return true;
}

bool Spool::Restore(const std::string& name, std::string& error) {
    const std::string failed = FailedFolder() + "/" + name;
    if (FileExists(PathOf(name))) {
        error = name + " is already waiting in the spool";
        return false;
    }
    // Behind every page named so far, and every page sent again since the last of them, taking no id.
    unsigned long long place = 0, turn = 1;
    {
        std::lock_guard<std::mutex> lock(numbering_);
        place = lastNumber_;
    }
    for (const std::string& other : ListFiles(folder_))
        if (EndsWith(other, AGAIN_SUFFIX)) {
            const auto taken = PlaceIn(PathOf(other));
            if (taken.first == place) turn = std::max(turn, taken.second + 1);
        }
    const std::string again = PathOf(name + AGAIN_SUFFIX);
    std::string ignored;
    RemoveFile(again, ignored);
    if (!WriteNewFile(again, std::to_string(place) + " " + std::to_string(turn) + "\n", error)) return false;
    switch (RenameWithoutReplacing(failed, PathOf(name), error)) {
        case Renamed::Done: break;
        case Renamed::Taken: error = name + " is already waiting in the spool"; return false;
        case Renamed::Failed: RemoveFile(again, ignored); return false;
    }
    RemoveFile(failed + ".reason", ignored);
    // The page's life counts from now; should that fail, it keeps the time it came.
    MarkFileChangedNow(PathOf(name), ignored);
    return true;
}

long long Spool::LifeBegan(const std::string& name) const {
    long long milliseconds = 0;
    if (FileChangedAt(PathOf(name), milliseconds)) return milliseconds;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
