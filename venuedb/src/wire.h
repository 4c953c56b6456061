// Little helpers for the byte layouts of the wire: appending integers and
// UTF-16 texts to a buffer, and a bounded reader over a received message.
#ifndef VENUEDB_SRC_WIRE_H_
#define VENUEDB_SRC_WIRE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace venuedb {

// Appends to an owned byte string. All multi-byte integers are little-endian
// unless the name says Be.
class ByteWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v);
  void U16Be(uint16_t v);
  void U32(uint32_t v);
  void U32Be(uint32_t v);
  void U64(uint64_t v);
  void Raw(const void* data, size_t size) {
    bytes_.append(static_cast<const char*>(data), size);
  }
  void Raw(const std::string& data) { bytes_.append(data); }
  // A text already in UTF-16LE, preceded by its length in UTF-16 units (one
  // byte).
  void BVarchar(const std::string& utf16);
  // The same with a two-byte length.
  void UsVarchar(const std::string& utf16);

  std::string& bytes() { return bytes_; }
  size_t size() const { return bytes_.size(); }
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

// Reads from a byte range it does not own. Every read past the end sets
// failed() and yields zeros, so a parser checks once at the end instead of
// after every field.
class ByteReader {
 public:
  ByteReader(const std::string& data, size_t pos = 0)
      : data_(data), pos_(pos) {}

  uint8_t U8();
  uint16_t U16();
  uint16_t U16Be();
  uint32_t U32();
  uint64_t U64();
  // The next byte without taking it (0 at the end).
  uint8_t Peek() const {
    return !failed_ && pos_ < data_.size() ? static_cast<uint8_t>(data_[pos_])
                                           : 0;
  }
  // Takes size bytes as a string (empty and failed when fewer remain).
  std::string Bytes(size_t size);
  void Skip(size_t size);

  size_t pos() const { return pos_; }
  size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
  bool failed() const { return failed_; }

 private:
  bool Need(size_t size);
  const std::string& data_;
  size_t pos_;
  bool failed_ = false;
};

// ASCII text to UTF-16LE (characters above 0x7F pass as Latin-1 code points).
std::string AsciiToUtf16(const std::string& text);

// The type bytes of the wire's data types: what columns, returned values and
// a call's parameters are declared as.
namespace type {
constexpr uint8_t kInt1 = 0x30;
constexpr uint8_t kBit = 0x32;
constexpr uint8_t kInt2 = 0x34;
constexpr uint8_t kInt4 = 0x38;
constexpr uint8_t kInt8 = 0x7F;
constexpr uint8_t kIntN = 0x26;
constexpr uint8_t kBitN = 0x68;
constexpr uint8_t kFloat4 = 0x3B;
constexpr uint8_t kFloat8 = 0x3E;
constexpr uint8_t kFloatN = 0x6D;
constexpr uint8_t kDateTime = 0x3D;
constexpr uint8_t kDateTimeN = 0x6F;
constexpr uint8_t kDateTime4 = 0x3A;
constexpr uint8_t kMoney = 0x3C;
constexpr uint8_t kMoney4 = 0x7A;
constexpr uint8_t kMoneyN = 0x6E;
constexpr uint8_t kNumericN = 0x6C;
constexpr uint8_t kDecimalN = 0x6A;
constexpr uint8_t kBigVarChar = 0xA7;
constexpr uint8_t kBigChar = 0xAF;
constexpr uint8_t kNVarChar = 0xE7;
constexpr uint8_t kNChar = 0xEF;
constexpr uint8_t kBigVarBinary = 0xA5;
constexpr uint8_t kBigBinary = 0xAD;
constexpr uint8_t kText = 0x23;
constexpr uint8_t kNText = 0x63;
}  // namespace type

}  // namespace venuedb

#endif  // VENUEDB_SRC_WIRE_H_
