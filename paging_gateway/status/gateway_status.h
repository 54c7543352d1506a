// The ledger and the status pages of one run of the gateway, set up together.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/options.h"
#include "paging_gateway/status/status_pages.h"

class PagingServer;
class Spool;

// The ledger's file in the spool folder.
constexpr char LEDGER_FILE_NAME[] = "ledger.txt";

class GatewayStatus {
public:
    explicit GatewayStatus(const GatewayOptions& options);

    // With a relay, once the spool is open and before the relay starts: the ledger's file in the spool folder,
    // brought in line with what the spool holds, and the spool's numbers counted on past its ids (a relayed
    // page leaves the spool, not the ledger). False, with the reason, when the file cannot be used.
    bool Open(Spool& spool, std::string& error);

    // What the ledger found worth saying at start (damaged lines, a file trimmed to its bounds).
    std::vector<std::string> Notes() const { return ledger_.Notes(); }

    // What the relay tells each page's story to.
    PageEvents* Events() { return &ledger_; }
    Ledger& Book() { return ledger_; }

    // Puts the status pages on the server, failed pages sent again through `sendAgain`; without a relay the
    // ledger lives in memory and gives each page its id.
    void Serve(PagingServer& server, SendAgainCall sendAgain);

private:
    const GatewayOptions& options_;
    Ledger ledger_;
    std::unique_ptr<StatusPages> pages_;
};
