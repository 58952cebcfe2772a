// The HEX reader on arbitrary bytes: loadhexfile on a file of them, into an
// image of a fixed size. Whatever the file holds, the reader either loads it
// or ends the run with one of its errors; it never reads or writes outside the
// image and never takes more than the 14 configuration bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzinputfile.h"
#include "globaldata.h"
#include "hexfileread.h"
#include "runerror.h"

namespace {

constexpr int32_t imagesize = 0x8000;

using fuzzinput::inputfile;
using fuzzinput::writewhole;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    writewhole(data, size);

    // An image of exactly imagesize bytes on the heap, so that the address
    // sanitizer sees any byte touched beyond it.
    std::vector<uint8_t> image(imagesize, 0xFF);
    globaldata::reset();
    hexfileread::reset();
    globaldata::memimage = image.data();
    globaldata::imagesize = imagesize;

    try {
        hexfileread::loadhexfile(inputfile().path);
    } catch (const runerror::runfailure &e) {
        // Only the reader's own messages end a load.
        static const char *const known[] = {"checksum failure", "lengths don't match",
                                            "end of file without an end-of-file record",
                                            "extended address record too short"};
        bool isknown = false;
        for (const char *k : known) isknown = isknown || std::strcmp(e.what(), k) == 0;
        if (!isknown) {
            std::fprintf(stderr, "unexpected error: %s\n", e.what());
            std::abort();
        }
    }
    globaldata::memimage = nullptr;

    // The decoder alone: one byte for every two characters, the odd last left out.
    std::string_view text(reinterpret_cast<const char *>(data), size);
    if (hexfileread::hextobytes(text).size() != size / 2) std::abort();
    return 0;
}
