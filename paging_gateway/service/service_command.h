// The command-line words that concern the gateway as a service: --install-service, --uninstall-service, --service.
#pragma once

// True when the command line was one of them, with the exit code in `code`; false for an ordinary run.
// `mayPause` turns false with --no-pause, which an installer gives: nobody reads its console.
bool RunServiceCommand(int argc, char** argv, int& code, bool& mayPause);

extern const char SERVICE_USAGE[];
