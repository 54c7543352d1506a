// The notices on disk in DIR/notices: one file each, written whole before the event counts as handled, and
// the record of which page events were noticed already, so a restart never repeats one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "paging_gateway/notice/notice.h"

class NoticeStore {
public:
    // Creates the folders when needed; false, with the reason, when they cannot be used.
    bool Open(const std::string& folder, std::string& error);

    // Every notice kept, oldest first; files that cannot be read are named in `damaged`.
    std::vector<Notice> Load(std::vector<std::string>& damaged);

    // Gives the notice its file name and writes it; false, with the reason, when it cannot be written.
    bool Add(Notice& notice, std::string& error);
    // After a try: its attempts and next try, written over the old file whole.
    bool Update(const Notice& notice, std::string& error);
    bool Remove(const Notice& notice, std::string& error);

    // Whether a page's event was noticed already, and the record that it was; Forget clears both of a page's
    // events (the page was sent again, so a new failure is news).
    bool Noticed(const std::string& pageId, const std::string& event) const;
    bool MarkNoticed(const std::string& pageId, const std::string& event, std::string& error);
    void Forget(const std::string& pageId);
    // Drops the records of pages `known` no longer has (the ledger let them go), so the folder stays bounded.
    void Prune(const std::function<bool(const std::string& pageId)>& known);

    const std::string& Folder() const { return folder_; }

private:
    bool Write(const Notice& notice, bool fresh, std::string& error);
    std::string MarkPath(const std::string& pageId, const std::string& event) const;

    std::string folder_;
    unsigned long long lastNumber_ = 0;
};
