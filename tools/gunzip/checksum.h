// gunzip.exe's CRC-32.
#pragma once
// gzip's CRC-32 (zlib's polynomial and conventions: 0 to start, the running
// value in), from the fastest implementation each platform's build has.
#include <cstddef>
#include <cstdint>

namespace gunzip {

uint32_t crc32(uint32_t crc, const unsigned char* data, size_t size);

}  // namespace gunzip
