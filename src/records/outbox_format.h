// The play outbox file format, described once: the outbox's writer and reader
// and the tests take the layout, the encoders and the decoder from here.
//
// clang-format off
// The file "PlayRecords.outbox" in the snapshot directory is an 8-byte magic
// followed by entries, one after another to the end of the file:
//   offset size field     content
//        0    8 Magic     "RNDLPLY1"
//        8    n Entries
// Each entry is an 8-byte header and a body:
//   offset size field     content
//        0    4 Length    uint32, bytes of Body (1..kMaxBodySize)
//        4    4 Checksum  uint32, CRC-32 of Body (the reflected 0xEDB88320
//                         polynomial, initial and final xor 0xFFFFFFFF)
//        8    L Body      a play or a sent mark, told apart by its first byte
// A play (kind 1), 12 + n1 + n2 + n3 bytes, the arguments of one
// SaveVideoTime whose texts are each at most 255 bytes:
//        0    1 Kind        1
//        1    4 MediaId     int32
//        5    4 SongType    int32
//        9    1 RoomLength  n1 (0..255)
//       10   n1 Room        the room address, bytes as the host passed them
//   10+n1     1 BeginLength n2 (0..255)
//   11+n1    n2 Begin       the begin-of-playing time text
//   11+n1+n2  1 EndLength   n3 (0..255)
//   12+n1+n2 n3 End         the end-of-playing time text
// A long play (kind 3), 21 + n1 + n2 + n3 bytes: the same with 4-byte lengths,
// for a play with a text longer than 255 bytes:
//        0    1 Kind        3
//        1    4 MediaId     int32
//        5    4 SongType    int32
//        9    4 RoomLength  n1 (0..kMaxLongTextBytes)
//       13   n1 Room
//   13+n1     4 BeginLength n2
//   17+n1    n2 Begin
//   17+n1+n2  4 EndLength   n3
//   21+n1+n2 n3 End
// A sent mark (kind 2), 5 bytes:
//        0    1 Kind        2
//        1    4 Sent        uint32: the first Sent plays of this file have been
//                           sent (the count of the whole file, not an increment)
// Byte order: every integer is little-endian, written and read byte by byte.
// clang-format on
//
// An entry is whole when its header, all Length bytes of its body and a
// matching checksum are present and the body parses to exactly Length bytes.
// Bytes that are not a whole entry and that no whole entry follows are a write
// cut short by a crash: they end the file and are cut off. Bytes that are not
// a whole entry but are followed by one (the first offset where a whole entry
// decodes, records/entry_scan.h) are damage inside the file: readers skip them
// and read on.
#ifndef RONDEL_RECORDS_OUTBOX_FORMAT_H_
#define RONDEL_RECORDS_OUTBOX_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/coding.h"

namespace rondel {

// One play as SaveVideoTime received it.
struct PlayRecord {
  int32_t media_id = 0;
  int32_t song_type = 0;
  std::string room_address;  // texts: bytes, no terminator
  std::string begin_time;
  std::string end_time;

  bool operator==(const PlayRecord& other) const {
    return media_id == other.media_id && song_type == other.song_type &&
           room_address == other.room_address &&
           begin_time == other.begin_time && end_time == other.end_time;
  }
};

namespace outbox {

constexpr char kFileName[] = "PlayRecords.outbox";
// Plays the server refused (a text it cannot take) are set aside beside the
// outbox in a file of the same layout under its own magic, plays only, for
// someone to look at; nothing reads it back into the outbox.
constexpr char kRejectedFileName[] = "PlayRecords.rejected";
constexpr char kRejectedMagic[] = "RNDLREJ1";
constexpr char kMagic[] = "RNDLPLY1";  // the 8 bytes without the terminator
constexpr size_t kMagicSize = 8;
constexpr size_t kEntryHeaderSize = 8;
// The longest text a play (kind 1) holds; a play with a longer one is written
// as a long play (kind 3).
constexpr size_t kMaxTextBytes = 255;
// The longest text a long play holds: far beyond any address or time text; a
// longer one is cut (and the outbox says so in its log).
constexpr size_t kMaxLongTextBytes = 1 << 20;
constexpr size_t kPlayFixedSize = 12;
constexpr size_t kLongPlayFixedSize = 21;
constexpr size_t kSentMarkSize = 5;
constexpr size_t kMaxBodySize = kLongPlayFixedSize + 3 * kMaxLongTextBytes;
constexpr size_t kMaxEntrySize = kEntryHeaderSize + kMaxBodySize;

static_assert(sizeof kMagic == kMagicSize + 1, "magic is 8 bytes");
static_assert(sizeof kRejectedMagic == kMagicSize + 1, "magic is 8 bytes");
static_assert(kMaxTextBytes <= 255, "text lengths are one byte");
static_assert(kMaxBodySize < UINT32_MAX, "body lengths are four bytes");

enum Kind : uint8_t { kPlay = 1, kSentMark = 2, kLongPlay = 3 };

// True when EncodePlay keeps every text of `play` whole.
bool KeepsWhole(const PlayRecord& play);

// The entries' checksum (platform/coding.h).
using platform::Crc32;

// Append one whole entry (header and body) to `out`: a play (kind 1) when
// every text fits in 255 bytes, else a long play (kind 3), whose texts are cut
// to kMaxLongTextBytes.
void EncodePlay(const PlayRecord& play, std::string* out);
void EncodeSentMark(uint32_t sent, std::string* out);

struct Entry {
  Kind kind = kPlay;
  PlayRecord play;    // kPlay and kLongPlay (read back as kPlay)
  uint32_t sent = 0;  // kSentMark
};

enum class Decoded {
  kWhole,      // *entry and *size are set
  kTruncated,  // fewer bytes than the entry needs: a cut-off write at the end
  kDamaged     // a length, checksum or body that no writer produces
};

// Decodes the entry at the start of `data` (`available` bytes). On kWhole,
// `*size` is the entry's size, header included.
Decoded DecodeEntry(const char* data, size_t available, Entry* entry,
                    size_t* size);

}  // namespace outbox
}  // namespace rondel

#endif  // RONDEL_RECORDS_OUTBOX_FORMAT_H_
