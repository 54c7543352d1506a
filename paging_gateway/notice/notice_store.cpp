// The notices on disk in DIR/notices, and the record of page events already noticed.
#include "paging_gateway/notice/notice_store.h"

#include <algorithm>
#include <cstdio>

#include "paging_gateway/platform/files.h"

namespace {

const char SUFFIX[] = ".notice";
const char MARKS[] = "noticed";
const char* const MARKED_EVENTS[] = {"failed", "late"};
constexpr size_t MAX_NOTICE_BYTES = 4 * 1024 * 1024;  // a digest of many pages is still far below this

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

nlohmann::json ToJson(const Notice& notice) {
    return {{"channel", notice.channel},   {"event", notice.event},
            {"subject", notice.subject},   {"page", notice.pageId},
            {"title", notice.title},       {"created", static_cast<long long>(notice.created)},
            {"due_ms", notice.dueMilliseconds}, {"backoff_ms", notice.backoffMilliseconds},
            {"attempts", notice.attempts}, {"last_error", notice.lastError},
            {"body", notice.body}};
}

bool FromJson(const std::string& text, Notice& notice) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("body") || !json["channel"].is_string()) return false;
    try {
        notice.channel = json.at("channel").get<std::string>();
        notice.event = json.at("event").get<std::string>();
        notice.subject = json.at("subject").get<std::string>();
        notice.pageId = json.at("page").get<std::string>();
        notice.title = json.at("title").get<std::string>();
        notice.created = static_cast<std::time_t>(json.at("created").get<long long>());
        notice.dueMilliseconds = json.at("due_ms").get<long long>();
        notice.backoffMilliseconds = json.at("backoff_ms").get<long>();
        notice.attempts = json.at("attempts").get<int>();
        notice.lastError = json.at("last_error").get<std::string>();
        notice.body = json.at("body");
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    return true;
}

}  // namespace

bool NoticeStore::Open(const std::string& folder, std::string& error) {
    folder_ = folder;
    if (!MakeFolder(folder, error) || !MakeFolder(folder + "/" + MARKS, error)) {
        error = "cannot make the notices folder " + NativePath(folder) + ": " + error;
        return false;
    }
    for (const std::string& name : ListFiles(folder))
        if (EndsWith(name, SUFFIX)) {
            unsigned long long number = 0;
            if (std::sscanf(name.c_str(), "%llu", &number) == 1) lastNumber_ = std::max(lastNumber_, number);
        }
    return true;
}

std::vector<Notice> NoticeStore::Load(std::vector<std::string>& damaged) {
    std::vector<std::string> names;
    for (const std::string& name : ListFiles(folder_))
        if (EndsWith(name, SUFFIX)) names.push_back(name);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::vector<Notice> notices;
    for (const std::string& name : names) {
        std::string text, error;
        Notice notice;
        if (!ReadSmallFile(folder_ + "/" + name, MAX_NOTICE_BYTES, text, error) || !FromJson(text, notice)) {
            damaged.push_back(name);
            continue;
        }
        notice.name = name;
        notices.push_back(notice);
    }
    return notices;
}

bool NoticeStore::Write(const Notice& notice, bool fresh, std::string& error) {
    const std::string path = folder_ + "/" + notice.name;
    // Written aside and renamed, so a crash leaves the whole notice or none (the spool's way with pages).
    const std::string aside = path + ".new";
    std::string ignored;
    RemoveFile(aside, ignored);
    if (!WriteNewFile(aside, ToJson(notice).dump() + "\n", error)) return false;
    if (fresh) {
        const Renamed renamed = RenameWithoutReplacing(aside, path, error);
        if (renamed == Renamed::Taken) error = NativePath(path) + " exists already";
        if (renamed != Renamed::Done) RemoveFile(aside, ignored);
        return renamed == Renamed::Done;
    }
    return RenameOver(aside, path, error);
}

bool NoticeStore::Add(Notice& notice, std::string& error) {
    char number[32];
    std::snprintf(number, sizeof number, "%012llu", ++lastNumber_);
    notice.name = std::string(number) + "." + notice.channel + SUFFIX;
    return Write(notice, true, error);
}

bool NoticeStore::Update(const Notice& notice, std::string& error) { return Write(notice, false, error); }

bool NoticeStore::Remove(const Notice& notice, std::string& error) {
    return RemoveFile(folder_ + "/" + notice.name, error);
}

std::string NoticeStore::MarkPath(const std::string& pageId, const std::string& event) const {
    return folder_ + "/" + MARKS + "/" + pageId + "." + event;
}

bool NoticeStore::Noticed(const std::string& pageId, const std::string& event) const {
    return FileExists(MarkPath(pageId, event));
}

bool NoticeStore::MarkNoticed(const std::string& pageId, const std::string& event, std::string& error) {
    if (Noticed(pageId, event)) return true;
    return WriteNewFile(MarkPath(pageId, event), event + "\n", error);
}

void NoticeStore::Forget(const std::string& pageId) {
    std::string ignored;
    for (const char* event : MARKED_EVENTS)
        if (Noticed(pageId, event)) RemoveFile(MarkPath(pageId, event), ignored);
}

void NoticeStore::Prune(const std::function<bool(const std::string& pageId)>& known) {
    std::string ignored;
    for (const std::string& name : ListFiles(folder_ + "/" + MARKS))
        if (!known(name.substr(0, name.find('.')))) RemoveFile(folder_ + "/" + MARKS + "/" + name, ignored);
}
