// The console integer reader over a stream of arbitrary bytes, called again
// and again until the stream ends, as the menu does. Each call either gives a
// number or raises "Invalid numeric input", and always moves on in the
// stream, so that a menu can never spin on the same input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "consoleinput.h"
#include "runerror.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    // Every call but the last consumes at least one byte.
    for (size_t calls = 0;; ++calls) {
        if (calls > size + 1) {
            std::fprintf(stderr, "readinteger does not get on through the input\n");
            std::abort();
        }
        const std::streamoff before = in.tellg();
        try {
            consoleinput::readinteger(in);
        } catch (const runerror::runfailure &e) {
            if (std::strcmp(e.what(), "Invalid numeric input") != 0 || e.kind != runerror::kinouterror) {
                std::fprintf(stderr, "unexpected error: %s %s\n", e.kind.c_str(), e.what());
                std::abort();
            }
        }
        if (in.bad()) std::abort();
        if (in.peek() == EOF) break;
        in.clear();
        if (in.tellg() <= before) {
            std::fprintf(stderr, "readinteger consumed nothing at offset %lld\n", static_cast<long long>(before));
            std::abort();
        }
    }
    return 0;
}
