// The relay's spool: one file per page, on disk before the page is acknowledged, gone once delivered.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "paging_gateway/intake/page.h"
#include "paging_gateway/platform/files.h"

// The file's text: a version line, then "key LENGTH:BYTES" fields, then "end", so any bytes fit.
std::string SpoolText(const Page& page);

// False, saying why in `problem`, for anything but a whole file of the one known version.
bool ReadSpoolText(const std::string& text, Page& page, std::string& problem);

// A page's id is its file's name without the suffix: the id of a name ("" for names that are not page
// files), and the name of an id.
std::string PageIdOf(const std::string& name);
std::string PageFileName(const std::string& id);

class Spool {
public:
    // Makes the folder and its failed/ folder when missing, locks it for this object's life and clears
    // half-written files that were never acknowledged; false, with a whole sentence saying why (another
    // gateway holds it, it cannot be written), when the folder cannot be used.
    bool Open(const std::string& folder, std::string& error);

    // Writes the page under a new name, flushed to disk before it takes that name, and gives the name; never
    // replaces a file. May be called from any thread.
    bool Put(const Page& page, std::string& name, std::string& error);

    // Names given from now on count on above `number`: an id the ledger still has names no later page.
    void CountPast(unsigned long long number);

    // Keeps `number` in the folder, on disk, as the highest id given, so that no later run gives it again
    // even when nothing else remembers it; false, with the reason, when it cannot be written.
    bool KeepLastNumber(unsigned long long number, std::string& error);

    // The page files waiting, in the order they are to go: by number, a page sent again behind every page
    // that came before it was sent again.
    std::vector<std::string> Waiting() const;

    // False, with the reason, when the file is missing or unreadable.
    bool Load(const std::string& name, Page& page, std::string& problem) const;

    bool Remove(const std::string& name, std::string& error);

    // Into failed/, with failed/NAME.reason holding `reason`; never over a page already there.
    bool MoveToFailed(const std::string& name, const std::string& reason, std::string& error);

    // Back from failed/ under its own name, its reason file gone, its life begun anew and in line behind every
    // page given a name so far (NAME.again holds its place in line across restarts); false, with the reason,
    // when it cannot be.
    bool Restore(const std::string& name, std::string& error);

    // When the page's life began, in milliseconds since 1970: when it was written (just before its 200) or
    // sent again; now when the file cannot say.
    long long LifeBegan(const std::string& name) const;

    const std::string& Folder() const { return folder_; }
    std::string FailedFolder() const;

private:
    std::string PathOf(const std::string& name) const;

    std::string folder_;
    FileLock lock_;
    std::mutex numbering_;
    unsigned long long lastNumber_ = 0;
    unsigned long long keptNumber_ = 0;  // what the last-id file holds
};
