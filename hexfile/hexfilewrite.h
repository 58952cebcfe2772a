// Writing Intel HEX records, one line per record, to a file the caller created.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "bytestring.h"

namespace hexfilewrite {

inline constexpr char hexdigits[] = "0123456789ABCDEF";

struct hexwriter {
    int32_t upperaddress = -1;  // upper 16 address bits last announced; -1 = none yet
    int stream = -1;            // file descriptor; the caller creates and closes it
    int error = 0;              // errno of the first failed or short write, 0 = none
};

std::string bytestohex(const bytestring &bytes);
void inithexwriter(hexwriter &writer, int stream);
// Each returns false when the line could not be written whole (writer.error
// then tells why); the writer keeps no partial line hidden. Data of more than
// 255 bytes or an address below 0 is refused (EINVAL) and nothing written.
bool writerecord(hexwriter &writer, uint16_t address, uint8_t type, const bytestring &data);
bool writedatarecord(hexwriter &writer, int32_t address, const bytestring &data);
bool writeeofrecord(hexwriter &writer);

}  // namespace hexfilewrite
