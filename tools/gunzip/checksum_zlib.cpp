// gunzip.exe's CRC-32 from zlib.
#include "checksum.h"

#include <zlib.h>

namespace gunzip {

uint32_t crc32(uint32_t crc, const unsigned char* data, size_t size) {
    return static_cast<uint32_t>(crc32_z(crc, data, size));
}

}  // namespace gunzip
