// The notices' PageEvents, in front of the ledger: passes every event on to it, then turns a failed page, a
// late page, a route down and a route up again into one notice per channel, on disk before it returns.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/notice/notice_settings.h"
#include "paging_gateway/notice/notice_store.h"
#include "paging_gateway/notice/sender.h"
#include "paging_gateway/relay/relay.h"

// Where the notices wait, inside the spool folder.
constexpr char NOTICES_FOLDER_NAME[] = "notices";

class Notices : public PageEvents {
public:
    Notices(const NoticeSettings& settings, const RelaySettings& relay, Ledger& ledger, std::ostream& out);
    ~Notices() override;

    // DIR/notices made or read, and the channels set up; false, with the reason.
    bool Open(const std::string& spoolFolder, std::string& error);
    void Start();
    void Stop();

    // A page the ledger settled as failed at this start (the spool had it in failed/: the gateway stopped
    // between failing it and its notice) is noticed now. `since`: when the ledger was opened.
    void NoticeRecovered(std::time_t since);

    void Received(const std::string& id, const Page& page, const std::string& client,
                  const std::string& route) override;
    void Attempted(const std::string& id, const std::string& route, const Delivery& delivery,
                   long retryMilliseconds) override;
    void SentAgain(const std::string& id, const std::string& who) override;
    void Receipt(const std::string& id, ReceiptState state, const std::string& text) override;
    void Failed(const std::string& id, const std::string& reason, bool expired) override;
    void Late(const std::string& id) override;
    void RouteDown(const std::string& route, const std::string& reason) override;
    void RouteUp(const std::string& route) override;

private:
    void PageNotice(const std::string& id, const std::string& event, const std::string& why, bool expired);
    void RouteNotice(const std::string& route, const std::string& event, const std::string& why);
    // Writes one notice per channel, then tells the sender; false when none could be written.
    void Issue(Notice notice);
    void Reported(const Notice& notice, const std::string& outcome, const std::string& detail);
    void Print(const std::string& line);

    NoticeSettings settings_;
    RelaySettings relay_;
    Ledger& ledger_;
    std::ostream& out_;
    std::string host_;
    NoticeStore store_;
    std::unique_ptr<NoticeSender> sender_;
    std::vector<std::string> channelNames_;
    std::mutex mutex_;      // one event's notices at a time
};
