// The byte coding the library's own files share (the play outbox, the fire
// alarm's remembered answers): little-endian 32-bit integers written and read
// byte by byte, and the CRC-32 their entries carry.
#ifndef RONDEL_PLATFORM_CODING_H_
#define RONDEL_PLATFORM_CODING_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace rondel {
namespace platform {

// Appends `value` as 4 little-endian bytes.
inline void PutUint32(uint32_t value, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((value >> shift) & 0xFFu));
  }
}

// The 4 little-endian bytes at `at`. REQUIRES: 4 bytes readable there.
inline uint32_t GetUint32(const char* at) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(at);
  return static_cast<uint32_t>(bytes[0]) |
         static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

// CRC-32 with the reflected 0xEDB88320 polynomial, initial and final xor
// 0xFFFFFFFF ("123456789" gives 0xCBF43926).
uint32_t Crc32(const void* data, size_t length);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_CODING_H_
