#include "wire.h"

namespace venuedb {

void ByteWriter::U16(uint16_t v) {
  U8(static_cast<uint8_t>(v));
  U8(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::U16Be(uint16_t v) {
  U8(static_cast<uint8_t>(v >> 8));
  U8(static_cast<uint8_t>(v));
}

void ByteWriter::U32(uint32_t v) {
  U16(static_cast<uint16_t>(v));
  U16(static_cast<uint16_t>(v >> 16));
}

void ByteWriter::U32Be(uint32_t v) {
  U16Be(static_cast<uint16_t>(v >> 16));
  U16Be(static_cast<uint16_t>(v));
}

void ByteWriter::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  U32(static_cast<uint32_t>(v >> 32));
}

void ByteWriter::BVarchar(const std::string& utf16) {
  size_t units = utf16.size() / 2;
  if (units > 255) units = 255;
  U8(static_cast<uint8_t>(units));
  bytes_.append(utf16, 0, units * 2);
}

void ByteWriter::UsVarchar(const std::string& utf16) {
  size_t units = utf16.size() / 2;
  if (units > 65535) units = 65535;
  U16(static_cast<uint16_t>(units));
  bytes_.append(utf16, 0, units * 2);
}

bool ByteReader::Need(size_t size) {
  if (failed_ || data_.size() - pos_ < size) {
    failed_ = true;
    return false;
  }
  return true;
}

uint8_t ByteReader::U8() {
  if (!Need(1)) return 0;
  return static_cast<uint8_t>(data_[pos_++]);
}

uint16_t ByteReader::U16() {
  uint16_t lo = U8();
  uint16_t hi = U8();
  return static_cast<uint16_t>(lo | (hi << 8));
}

uint16_t ByteReader::U16Be() {
  uint16_t hi = U8();
  uint16_t lo = U8();
  return static_cast<uint16_t>(lo | (hi << 8));
}

uint32_t ByteReader::U32() {
  uint32_t lo = U16();
  uint32_t hi = U16();
  return lo | (hi << 16);
}

uint64_t ByteReader::U64() {
  uint64_t lo = U32();
  uint64_t hi = U32();
  return lo | (hi << 32);
}

std::string ByteReader::Bytes(size_t size) {
  if (!Need(size)) return std::string();
  std::string out = data_.substr(pos_, size);
  pos_ += size;
  return out;
}

void ByteReader::Skip(size_t size) {
  if (Need(size)) pos_ += size;
}

std::string AsciiToUtf16(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

}  // namespace venuedb
