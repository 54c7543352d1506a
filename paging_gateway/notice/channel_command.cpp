// Notices as a program run without a shell: the event and the page id or route URL as its arguments, the
// JSON object on its standard input; exit code 0 delivers.
#include "paging_gateway/notice/channel.h"

#include "paging_gateway/platform/run_program.h"

namespace {

class CommandChannel : public NoticeChannel {
public:
    CommandChannel(const std::string& program, long timeoutMilliseconds)
        : program_(program), timeoutMilliseconds_(timeoutMilliseconds) {}
    const char* Name() const override { return "command"; }
    bool Deliver(const Outgoing& outgoing, std::string& error) override {
        const ProgramRun run = RunProgram({program_, outgoing.event, outgoing.subject}, outgoing.json + "\n",
                                          timeoutMilliseconds_);
        if (run.finished && run.exitCode == 0) return true;
        error = run.finished ? program_ + " exited with " + std::to_string(run.exitCode) : run.error;
        return false;
    }

private:
    std::string program_;
    long timeoutMilliseconds_;
};

}  // namespace

std::unique_ptr<NoticeChannel> MakeCommandChannel(const std::string& program, long timeoutMilliseconds) {
    return std::make_unique<CommandChannel>(program, timeoutMilliseconds);
}
