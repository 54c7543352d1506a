// The status paths of the gateway's port: who may ask, and what each path answers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "paging_gateway/intake/http.h"
#include "paging_gateway/ledger/ledger.h"
#include "paging_gateway/status/access.h"

struct StatusSettings {
    std::string listenAddress = "127.0.0.1";
    int port = 80;
    std::vector<AddressRange> allowed;  // beyond loopback
};

// Puts a failed page back in its lane; false, with the reason, when it cannot.
using SendAgainCall = std::function<bool(const std::string& id, const std::string& who, std::string& error)>;

// /status, /status.json, /status/ and below, /metrics: never a carrier's form.
bool IsStatusPath(const std::string& path);

class StatusPages {
public:
    // Without `sendAgain` (print-only) there is nothing to send again.
    StatusPages(const Ledger& ledger, StatusSettings settings, SendAgainCall sendAgain = nullptr);

    // The server's request handler: true, with the whole response, for a status path; false leaves the request
    // to the carriers' forms.
    bool Handle(const HttpRequest& request, const std::string& client, std::string& response) const;

    // The per-start secret every form carries.
    const std::string& Token() const { return token_; }

private:
    std::string Respond(const HttpRequest& request, const std::string& path, const std::string& client) const;
    std::string SendAgain(const HttpRequest& request, const std::string& client) const;

    const Ledger& ledger_;
    StatusSettings settings_;
    SendAgainCall sendAgain_;
    std::string token_;
};
