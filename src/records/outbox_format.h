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
// SaveVideoTime:
//        0    1 Kind        1
//        1    4 MediaId     int32
//        5    4 SongType    int32
//        9    1 RoomLength  n1 (0..255)
//       10   n1 Room        the room address, bytes as the host passed them
//   10+n1     1 BeginLength n2 (0..255)
//   11+n1    n2 Begin       the begin-of-playing time text
//   11+n1+n2  1 EndLength   n3 (0..255)
//   12+n1+n2 n3 End         the end-of-playing time text
// A sent mark (kind 2), 5 bytes:
//        0    1 Kind        2
//        1    4 Sent        uint32: the first Sent plays of this file have been
//                           sent (the count of the whole file, not an increment)
// Byte order: every integer is little-endian, written and read byte by byte.
// clang-format on
//
// An entry is whole when its header, all Length bytes of its body and a
// matching checksum are present and the body parses to exactly Length bytes.
// Readers stop at the first entry that is not whole: that is where a write cut
// short by a crash ends the file.
#ifndef RONDEL_RECORDS_OUTBOX_FORMAT_H_
#define RONDEL_RECORDS_OUTBOX_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

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
constexpr char kMagic[] = "RNDLPLY1";  // the 8 bytes without the terminator
constexpr size_t kMagicSize = 8;
constexpr size_t kEntryHeaderSize = 8;
// A text of a play keeps at most this many bytes; longer ones are cut.
constexpr size_t kMaxTextBytes = 255;
constexpr size_t kPlayFixedSize = 12;
constexpr size_t kSentMarkSize = 5;
constexpr size_t kMaxBodySize = kPlayFixedSize + 3 * kMaxTextBytes;
constexpr size_t kMaxEntrySize = kEntryHeaderSize + kMaxBodySize;

static_assert(sizeof kMagic == kMagicSize + 1, "magic is 8 bytes");
static_assert(kMaxTextBytes <= 255, "text lengths are one byte");

enum Kind : uint8_t { kPlay = 1, kSentMark = 2 };

uint32_t Crc32(const void* data, size_t length);

// Append one whole entry (header and body) to `out`. A text longer than
// kMaxTextBytes is cut to its first kMaxTextBytes bytes.
void EncodePlay(const PlayRecord& play, std::string* out);
void EncodeSentMark(uint32_t sent, std::string* out);

struct Entry {
  Kind kind = kPlay;
  PlayRecord play;    // kPlay
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
