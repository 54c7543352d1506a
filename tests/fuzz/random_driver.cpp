// Bounded randomized run of a fuzz target, for compilers without libFuzzer: settings-like files and their
// damaged copies, whose bytes the request targets read as fields and requests of their own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Random = std::mt19937;

size_t Below(Random& random, size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(random); }

// Mostly the bytes the reader reacts to, so random lines often look like contact and details lines.
char SomeByte(Random& random) {
    static const char interesting[] = "::::\r\n\n0123MACSUVv9 aZ\x01\x80\xff";
    if (Below(random, 8) == 0) return static_cast<char>(Below(random, 256));
    return interesting[Below(random, sizeof interesting - 1)];
}

std::string SomeText(Random& random, size_t longest) {
    std::string text;
    for (size_t n = Below(random, longest + 1); n > 0; --n) text += SomeByte(random);
    return text;
}

std::string ValidFile(Random& random, int contacts) {
    static const char* names[] = {"Ann", "Anna", "Annabel", "Bob", "bob", "Carl", "Zed", "Al", "Maria Lopez"};
    std::string file = "CONTACTS\r\n";
    for (int i = 0; i < contacts; ++i)
        file += std::string(names[Below(random, 9)]) + ":" + std::to_string(5550000000 + Below(random, 10000)) +
                ":" + "MACSUV"[Below(random, 6)] + ":\r\n";
    return file + "USER DETAILS\r\nSam:5550001111:";
}

void Mutate(Random& random, std::string& bytes) {
    for (size_t edits = 1 + Below(random, 8); edits > 0; --edits) {
        const size_t at = bytes.empty() ? 0 : Below(random, bytes.size() + 1);
        switch (Below(random, 5)) {
            case 0: bytes.insert(at, 1, SomeByte(random)); break;
            case 1: if (at < bytes.size()) bytes[at] = SomeByte(random); break;
            case 2: bytes.erase(at, Below(random, 20)); break;
            case 3: bytes.insert(at, bytes.substr(at, Below(random, 120))); break;
            default: bytes.insert(at, SomeText(random, 120)); break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long inputs = argc > 1 ? std::atol(argv[1]) : 2000;
    Random random(argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1u);
    for (long run = 0; run < inputs; ++run) {
        std::string bytes;
        switch (run % 4) {
            case 0: bytes = SomeText(random, 400); break;
            case 1: bytes = ValidFile(random, static_cast<int>(Below(random, 12))); break;
            default: bytes = ValidFile(random, static_cast<int>(Below(random, 6))); Mutate(random, bytes); break;
        }
        if (run % 500 == 499) bytes = ValidFile(random, 505 + static_cast<int>(Below(random, 10)));  // past capacity
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s: %ld inputs run\n", argv[0], inputs);
    return 0;
}
