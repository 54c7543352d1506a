// A notice command for the Windows test: each run leaves NNN.cmd in %NOTICE_PROBE_OUT%, holding its arguments
// as the C runtime read them (one a line, after their count) and then its standard input.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const char* folder = std::getenv("NOTICE_PROBE_OUT");
    if (folder == nullptr) return 2;
    std::string text = std::to_string(argc - 1) + "\n";
    for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) text.append(chunk, got);
    for (int n = 1; n < 1000; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "\\%03d.cmd", n);
        const std::string path = folder + std::string(name);
        if (std::FILE* taken = std::fopen(path.c_str(), "rb")) {
            std::fclose(taken);
            continue;
        }
        std::FILE* out = std::fopen((path + ".tmp").c_str(), "wb");
        if (out == nullptr) return 3;
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        return std::rename((path + ".tmp").c_str(), path.c_str()) == 0 ? 0 : 4;
    }
    return 5;
}
