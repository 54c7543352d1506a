// What the relay tests share: the real gateway as a child process, an SNPP stand-in and a real SMTP server,
// each on loopback addresses of the tests' own.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/assemble.h"
#include "gateway/request.h"
#include "paging_gateway/options.h"
#include "paging_gateway/spool/spool.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every wait of these tests is for a condition; this only bounds how long a broken gateway can hold them.
const milliseconds PATIENCE(15000);

inline std::string Address(int n) { return "127.77.11." + std::to_string(n); }
inline std::string LaterAddress(int n) { return "127.77.15." + std::to_string(n); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// "2026-12-08 03:10:00 ": how the gateway starts each line it prints.
inline bool StartsWithTimeStamp(const std::string& line) {
    const std::string shape = "0000-00-00 00:00:00 ";
    if (line.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '0' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i]) return false;
    return true;
}

// The lines as printed, without their time stamps.
inline std::string WithoutTimeStamps(const std::string& text) {
    std::string kept;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        const std::string line = text.substr(at, end - at);
        kept += StartsWithTimeStamp(line) ? line.substr(20) : line;
        at = end;
    }
    return kept;
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + PATIENCE;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    const std::string listing = "ls -1 '" + folder + "' 2>/dev/null";
    if (FILE* pipe = popen(listing.c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, pipe)) {
            std::string name = line;
            if (!name.empty() && name.back() == '\n') name.pop_back();
            if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name);
        }
        pclose(pipe);
    }
    return names;
}

// What the Python stand-ins record: one file per message, each line a field's name and its bytes in hex ("-"
// for none). The files' fields, in the order of their names.
std::vector<std::map<std::string, std::string>> HexFieldFiles(const std::string& folder, const std::string& suffix) {
    std::vector<std::map<std::string, std::string>> files;
    for (const std::string& name : FilesIn(folder, suffix)) {
        std::istringstream lines(ReadFile(folder + "/" + name));
        std::map<std::string, std::string> fields;
        std::string key, hex;
        while (lines >> key >> hex) {
            std::string bytes;
            for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
                bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            fields[key] = bytes;
        }
        files.push_back(fields);
    }
    return files;
}

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/relay_test.XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() {
        const std::string command = "rm -rf '" + path + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << command;
    }
};

// A child process with its output in files; killed however the test ends.
class Process {
public:
    Process(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
            const std::vector<std::string>& environment = {}) {
        pid_ = fork();
        if (pid_ != 0) return;
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(err, 2);
        for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~Process() { Kill(SIGTERM); }
    pid_t Pid() const { return pid_; }
    void Kill(int signal) {
        if (pid_ <= 0) return;
        kill(pid_, signal);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    pid_t pid_;
};

// The real paging_gateway, printing into DIR/out and DIR/err.
class Gateway {
public:
    Gateway(const std::string& folder, const std::string& address, std::vector<std::string> args,
            const std::vector<std::string>& environment = {})
        : out_(folder + "/out"), err_(folder + "/err"), address_(address) {
        args.insert(args.begin(), {PAGING_GATEWAY_BINARY, "--address", address, "--spool", folder + "/spool",
                                   "--retry-first", "200"});
        const size_t listening = Count(ReadFile(err_), "listening on");  // a restart prints into the same file
        process_ = std::make_unique<Process>(args, out_, err_, environment);
        EXPECT_TRUE(WaitFor([&] { return Count(ReadFile(err_), "listening on") > listening; })) << ReadFile(err_);
    }
    void KillHard() { process_->Kill(SIGKILL); }
    // The descriptors the gateway holds open.
    size_t OpenFiles() const {
        std::string listing = "ls /proc/" + std::to_string(process_->Pid()) + "/fd 2>/dev/null";
        size_t count = 0;
        if (FILE* pipe = popen(listing.c_str(), "r")) {
            for (int c; (c = fgetc(pipe)) != EOF;) count += c == '\n';
            pclose(pipe);
        }
        return count;
    }
    std::string Output() const { return WithoutTimeStamps(ReadFile(out_)); }
    // As printed, time stamps and all.
    std::string RawOutput() const { return ReadFile(out_); }
    std::string RawErrors() const { return ReadFile(err_); }
    bool WaitForLines(const std::string& start, size_t count) const {
        return WaitFor([&] { return Count("\n" + Output(), "\n" + start) >= count; });
    }

    // Sends the program's own request for this page and gives the answer's status code (0: no answer).
    int Send(char carrierCode, const std::string& message, const std::string& phone, const std::string& sender,
             const std::string& callback, milliseconds* took = nullptr) const {
        GatewayRequest request{};
        EncodeSender(request, sender.c_str());
        EncodeCallback(request, callback.c_str());
        ApplyGatewayProfile(request, carrierCode);
        EncodeMessage(request, message.c_str());
        SetPhoneNumber(request, phone.c_str());
        AssembleRequest(request);
        const auto start = Clock::now();
        const std::string answer = Exchange(request.requestText);
        if (took) *took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        return answer.compare(0, 9, "HTTP/1.0 ") == 0 ? std::atoi(answer.c_str() + 9) : 0;
    }

    // The gateway's whole answer to a GET of `path`, or to a form's POST of `form` there.
    std::string Http(const std::string& path, const std::string& form = std::string()) const {
        const std::string head = (form.empty() ? "GET " : "POST ") + path + " HTTP/1.0\r\nHost: " + address_ + "\r\n";
        if (form.empty()) return Exchange(head + "\r\n");
        return Exchange(head + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                        std::to_string(form.size()) + "\r\n\r\n" + form);
    }

    // Presses the status page's Send again for `id`, as the operator would; gives the answer's first line.
    std::string SendAgain(const std::string& id) const {
        const std::string html = Http("/status");
        const size_t token = html.find("name=\"token\" value=\"");
        if (token == std::string::npos) return "no form on the status page";
        const size_t start = token + 20;
        const std::string answer =
            Http("/status/send-again", "token=" + html.substr(start, html.find('"', start) - start) + "&id=" + id);
        return answer.substr(0, answer.find("\r\n"));
    }

private:
    std::string Exchange(const std::string& request) const {
        const int handle = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(80);
        where.sin_addr.s_addr = inet_addr(address_.c_str());
        std::string answer;
        if (connect(handle, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
            send(handle, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            timeval wait{5, 0};
            setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char chunk[512];
            for (ssize_t got; (got = recv(handle, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, got);
        }
        close(handle);
        return answer;
    }

    std::string out_, err_, address_;
    std::unique_ptr<Process> process_;
};

// An SNPP server of the tests' own, a thread per session: replies as a plain level 2 server (or as hfaxd did)
// unless its script says otherwise, each reply after the set delay, and keeps each page that got as far as
// SEND. DATA lines are kept as they came: RFC 1861 defines no dot transparency, and hfaxd undoes none.
class SnppStandIn {
public:
    struct Sent {
        std::string pagerId, text;
        bool viaData;
        int connection;
        std::string subject = {};
    };
    // How Debian's hfaxd 6.0.7 behaved: 530 to anything before LOGIn, 550 to a wrong login, SEND held until
    // the job is done unless SITE JQUEUE YES came before that job's PAGE, RESEt answered 220 with a log-out,
    // no text over its limit.
    struct Hfaxd {
        std::string user, password;
        size_t maxLength = 128;
        milliseconds held{3000};
    };
    void BehaveLikeHfaxd(const Hfaxd& hfaxd) {
        std::lock_guard<std::mutex> lock(mutex_);
        hfaxd_ = std::make_unique<Hfaxd>(hfaxd);
    }
    // Given the connection's number (from 0), the command's verb ("greeting" for the greeting) and the pager
    // id of the page under way, a reply to use instead of the usual one, or "" ("-": hang up instead).
    using Script = std::function<std::string(int connection, const std::string& verb, const std::string& pagerId)>;
    void SetScript(Script script) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_ = std::move(script);
    }
    void SetDelay(milliseconds delay) { delay_ = delay.count(); }

    explicit SnppStandIn(const std::string& address) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(444);
        where.sin_addr.s_addr = inet_addr(address.c_str());
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where), 0) << strerror(errno);
        listen(listener_, 64);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SnppStandIn() {
        stopping_ = true;
        Release();
        thread_.join();
        for (std::thread& session : sessions_) session.join();
        close(listener_);
    }
    // Until released, a connection gets nothing at all: not even the greeting.
    void Hold() { held_ = true; }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        released_.notify_all();
    }
    std::vector<Sent> Pages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pages_;
    }
    int Commands(const std::string& verb) {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_[verb];
    }
    int Connections() const { return connections_; }
    // Every session's dialogue, "C: " and "S: " lines, sessions in the order they ended.
    std::string Transcript() {
        std::lock_guard<std::mutex> lock(mutex_);
        return transcript_;
    }
    // The most sessions that were open at once.
    int MostAtOnce() const { return mostAtOnce_; }

private:
    void Serve() {
        while (!stopping_) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listener_, &readable);
            timeval wait{0, 50000};
            if (select(listener_ + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
            const int peer = accept(listener_, nullptr, nullptr);
            const int connection = connections_++;
            sessions_.emplace_back([this, peer, connection] {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    released_.wait(lock, [&] { return !held_; });
                }
                const int open = ++open_;
                for (int most = mostAtOnce_; open > most && !mostAtOnce_.compare_exchange_weak(most, open);) {
                }
                if (!stopping_) Session(peer, connection);
                --open_;
                close(peer);
            });
        }
    }

    bool ReadLine(int peer, std::string& buffered, std::string& line) {
        for (;;) {
            const size_t newline = buffered.find("\r\n");
            if (newline != std::string::npos) {
                line = buffered.substr(0, newline);
                buffered.erase(0, newline + 2);
                return true;
            }
            timeval wait{2, 0};  // a stand-in never outlives its test waiting on a client
            setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char chunk[512];
            const ssize_t got = recv(peer, chunk, sizeof chunk, 0);
            if (got > 0) buffered.append(chunk, got);
            if (got <= 0 && (got == 0 || errno != EAGAIN || stopping_)) return false;
        }
    }

    std::string Scripted(int connection, const std::string& verb, const std::string& pagerId) {
        std::lock_guard<std::mutex> lock(mutex_);
        return script_ ? script_(connection, verb, pagerId) : std::string();
    }

    // The reply given: the script's, or the usual one ("" when the script hung up).
    std::string Reply(int peer, int connection, const std::string& verb, const std::string& pagerId,
                      const std::string& usual, std::string& said) {
        const std::string scripted = Scripted(connection, verb, pagerId);
        if (scripted == "-") return "";
        const std::string reply = scripted.empty() ? usual : scripted;
        for (size_t at = 0; at < reply.size();) {  // a script may give a continued reply, each line delayed
            const size_t end = reply.find('\n', at);
            const std::string line = reply.substr(at, end - at) + "\r\n";
            std::this_thread::sleep_for(milliseconds(delay_));
            said += "S: " + line;
            if (send(peer, line.data(), line.size(), MSG_NOSIGNAL) < 0) break;
            at = end == std::string::npos ? reply.size() : end + 1;
        }
        return reply;
    }

    // Waits out a held SEND, as hfaxd did until the paging job was done; the gateway's hanging up ends it.
    void WaitOutHeldSend(int peer, milliseconds held) {
        const auto until = Clock::now() + held;
        while (Clock::now() < until && !stopping_) {
            char byte;
            if (recv(peer, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return;
            std::this_thread::sleep_for(milliseconds(20));
        }
    }

    void Session(int peer, int connection) {
        std::string said;
        SessionLines(peer, connection, said);
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_ += "-- session " + std::to_string(connection) + "\n" + said;
    }

    void SessionLines(int peer, int connection, std::string& said) {
        std::unique_ptr<Hfaxd> hfaxd;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (hfaxd_) hfaxd = std::make_unique<Hfaxd>(*hfaxd_);
        }
        const std::string ready = hfaxd ? "220 stand-in SNPP server (HylaFAX (tm) Version 6.0.7) ready."
                                        : "220 SNPP stand-in ready";
        std::string buffered;
        const std::string greeting = Reply(peer, connection, "greeting", "", ready, said);
        if (greeting.empty() || greeting[0] != '2') return;
        Sent page{};
        bool loggedIn = false, jobQueue = false, pageQueued = false;
        int jobs = 0;
        std::string line;
        while (!stopping_ && ReadLine(peer, buffered, line)) {
            said += "C: " + line + "\n";
            const std::string verb = line.substr(0, line.find(' '));
            const std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++commands_[verb];
            }
            const auto reply = [&](const std::string& usual) {
                return Reply(peer, connection, verb, page.pagerId, usual, said);
            };
            const bool tooLong = hfaxd && verb == "MESS" && argument.size() > hfaxd->maxLength;
            std::string replied;
            if (hfaxd && !loggedIn && verb != "LOGI" && verb != "QUIT") {
                replied = reply("530 Please login with LOGIN.");
            } else if (verb == "LOGI") {
                loggedIn = hfaxd && argument == hfaxd->user + " " + hfaxd->password;
                replied = reply(!hfaxd                ? std::string("500 Command Not Implemented")
                                : loggedIn ? "250 User " + hfaxd->user + " logged in."
                                           : std::string("550 Login incorrect."));
            } else if (verb == "SITE" && hfaxd) {
                jobQueue = jobQueue || argument == "JQUEUE YES";
                replied = reply("250 Job queue setting OK.");
            } else if (verb == "PAGE") {
                page.pagerId = argument;
                pageQueued = jobQueue;
                jobQueue = false;  // hfaxd takes it for the one job PAGE starts
                replied = reply(hfaxd ? "250 Pager ID accepted; provider: 18005551212 pin: " + argument +
                                            " jobid: " + std::to_string(++jobs) + "."
                                      : std::string("250 Pager ID Accepted"));
            } else if (verb == "SUBJ" && hfaxd) {
                page.subject = argument;
                replied = reply("250 Message subject OK.");
            } else if (verb == "MESS") {
                if (!tooLong) page.text = argument;
                replied = reply(tooLong ? "550 Error, message too long; no more than " +
                                              std::to_string(hfaxd->maxLength) + " characters accepted."
                                        : std::string(hfaxd ? "250 Message text OK." : "250 Message OK"));
            } else if (verb == "DATA") {
                replied = reply(hfaxd ? "354 Begin message input; end with <CRLF>'.'<CRLF>."
                                      : "354 Begin Input; End with <CRLF>'.'<CRLF>");
                std::vector<std::string> lines;
                while (!replied.empty() && replied[0] == '3' && ReadLine(peer, buffered, line) && line != ".") {
                    said += "C: " + line + "\n";
                    lines.push_back(line);
                }
                if (!replied.empty() && replied[0] == '3') said += "C: .\n";
                std::string text;
                for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
                const bool over = hfaxd && text.size() > hfaxd->maxLength;
                if (!over) page.text = text;
                page.viaData = true;
                if (!replied.empty() && replied[0] == '3')
                    replied = Reply(peer, connection, "DATA.", page.pagerId,
                                    over ? "550 Error, message too long; no more than " +
                                               std::to_string(hfaxd->maxLength) + " characters accepted."
                                         : std::string(hfaxd ? "250 Message text OK." : "250 Message OK"),
                                    said);
            } else if (verb == "SEND") {
                // hfaxd queues the job at SEND, answered or not.
                const bool job = hfaxd && !page.pagerId.empty();
                if (job) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    page.connection = connection;
                    pages_.push_back(page);
                }
                if (job && !pageQueued) WaitOutHeldSend(peer, hfaxd->held);
                replied = reply(!hfaxd       ? "250 Message Sent Successfully"
                                : pageQueued ? "250 Message successfully queued."
                                             : "250 Message processing completed.");
                if (job && !replied.empty() && replied[0] != '2') {  // a refused SEND queued nothing
                    std::lock_guard<std::mutex> lock(mutex_);
                    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it)
                        if (it->connection == connection) {
                            pages_.erase(std::next(it).base());
                            break;
                        }
                }
                if (!job && !replied.empty() && replied[0] == '2') {
                    std::lock_guard<std::mutex> lock(mutex_);
                    page.connection = connection;
                    pages_.push_back(page);
                }
                page = Sent{};
            } else if (verb == "RESE") {
                page = Sent{};
                loggedIn = false;
                replied = reply(hfaxd ? "220 stand-in SNPP server (HylaFAX (tm) Version 6.0.7) ready."
                                      : "250 Reset OK");
            } else if (verb == "QUIT") {
                reply(hfaxd ? "221 Goodbye." : "221 OK, Goodbye");
                return;
            } else {
                replied = reply(hfaxd ? "500 " + verb + ": Command not implemented." : "500 Command Not Implemented");
            }
            if (replied.empty() || replied[0] == '4') return;  // hung up, or a 4xx ends the session
        }
    }

    int listener_;
    std::thread thread_;
    std::vector<std::thread> sessions_;
    std::atomic<bool> stopping_{false};
    std::atomic<long> delay_{0};
    std::atomic<int> connections_{0}, open_{0}, mostAtOnce_{0};
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    Script script_;
    std::vector<Sent> pages_;
    std::map<std::string, int> commands_;
    std::unique_ptr<Hfaxd> hfaxd_;
    std::string transcript_;
};

// Each pager's pages arrived in the order they were sent: their texts, ending "... N", count up per pager.
inline void ExpectInOrderPerPager(const std::vector<SnppStandIn::Sent>& pages) {
    std::map<std::string, long> last;
    for (const auto& page : pages) {
        const long number = std::atol(page.text.substr(page.text.rfind(' ') + 1).c_str());
        const auto seen = last.find(page.pagerId);
        if (seen != last.end()) {
            EXPECT_GT(number, seen->second) << page.pagerId << ": " << page.text;
        }
        last[page.pagerId] = number;
    }
}

// A real SMTP server (aiosmtpd) that insists on a login; each message arrives as DIR/NNN.mail.
class SmtpServer {
public:
    SmtpServer(const std::string& address, const std::string& folder)
        : folder_(folder),
          process_({"/usr/bin/python3", SMTP_SINK_SCRIPT, address, "2525", folder, "pager-relay", "s3cret&=%+"},
                   folder + "/smtp.out", folder + "/smtp.err") {
        EXPECT_TRUE(WaitFor([&] { return access((folder + "/ready").c_str(), F_OK) == 0; }))
            << ReadFile(folder + "/smtp.err");
    }
    // Each message's fields, decoded: from, to, subject, body.
    std::vector<std::map<std::string, std::string>> Messages() const { return HexFieldFiles(folder_, ".mail"); }

private:
    std::string folder_;
    Process process_;
};

// A webhook receiver of the tests' own (webhook_standin.py) on port 8088: the first `refuse` posts get a 503.
// Given a certificate (`certs`/NAME.pem and NAME.key, as wctp_standin.py makes them), it speaks HTTPS.
class WebhookReceiver {
public:
    WebhookReceiver(const std::string& address, const std::string& folder, int refuse = 0,
                    const std::string& certs = "", const std::string& name = "")
        : folder_(folder),
          process_(Arguments(address, folder, refuse, certs, name), folder + "/webhook.out", folder + "/webhook.err") {
        EXPECT_TRUE(WaitFor([&] { return access((folder + "/ready").c_str(), F_OK) == 0; }))
            << ReadFile(folder + "/webhook.err");
    }
    // Each post taken (answered 2xx), in the order they came: path, type, body.
    std::vector<std::map<std::string, std::string>> Posts() const { return HexFieldFiles(folder_, ".post"); }
    size_t Refused() const { return FilesIn(folder_, ".refused").size(); }

private:
    static std::vector<std::string> Arguments(const std::string& address, const std::string& folder, int refuse,
                                              const std::string& certs, const std::string& name) {
        std::vector<std::string> args = {"/usr/bin/python3", WEBHOOK_STANDIN_SCRIPT, address, "8088", folder,
                                         std::to_string(refuse)};
        if (!certs.empty()) args.insert(args.end(), {certs + "/" + name + ".pem", certs + "/" + name + ".key"});
        return args;
    }

    std::string folder_;
    Process process_;
};

}  // namespace
