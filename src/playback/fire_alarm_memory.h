// The fire alarm's remembered answers: what the database last said for each
// step of the fire-alarm calls (the file name of each player address, the
// default file name, the page), kept in memory and in one small file in the
// snapshot directory, so that a room can still be shown its evacuation video
// and page while the database cannot answer, also after a restart.
//
// clang-format off
// The file "FireAlarm.answers" in the snapshot directory is a 16-byte header
// and a body:
//   offset size field          content
//        0    8 Magic          "RNDLFIR1"
//        8    4 BodyLength     uint32, bytes of Body (kMinBodySize..kMaxBodySize)
//       12    4 Checksum       uint32, CRC-32 of Body (as the play outbox's)
//       16    L Body
// The body:
//        0    1 Flags          bit 0: a default file name is remembered,
//                              bit 1: a page is remembered; no other bit set
//        1    1 DefaultLength  n1 (1..255 with bit 0, else 0)
//        2   n1 Default        the default file name
//     2+n1    1 PageLength     n2 (0..99; 0 without bit 1)
//     3+n1   n2 Page           the page (an empty one is an answer too)
//  3+n1+n2    2 EntryCount     k (0..kMaxEntries)
//  5+n1+n2      k entries, in ascending byte order of their addresses, each:
//                 0   1 AddressLength a (0..kMaxAddressBytes)
//                 1   a Address       the player address as the host passed
//                                     it ("" also for none)
//               1+a   1 FileLength    f (1..255)
//               2+a   f FileName
// Byte order: every integer is little-endian, written and read byte by byte.
// clang-format on
//
// The body parses to exactly BodyLength bytes, or the file is damaged. A
// damaged or unreadable file is ignored (one log line) and nothing is
// remembered from it. The file is replaced whole: a temporary
// "FireAlarm.answers.new" is written and flushed, renamed over it, and the
// directory flushed, so a crash leaves the old file or the new one.
#ifndef RONDEL_PLAYBACK_FIRE_ALARM_MEMORY_H_
#define RONDEL_PLAYBACK_FIRE_ALARM_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace rondel {
namespace fire_alarm {

constexpr char kFileName[] = "FireAlarm.answers";
constexpr char kTemporarySuffix[] = ".new";
constexpr char kMagic[] = "RNDLFIR1";  // the 8 bytes without the terminator
constexpr size_t kMagicSize = 8;
constexpr size_t kHeaderSize = 16;
constexpr size_t kMaxFileNameBytes = 255;  // as the file-name column is bound
constexpr size_t kMaxPageBytes = 99;       // as the page column is bound
// Player addresses are at most 19 characters; a longer text is not remembered
// (that address then gets the remembered default).
constexpr size_t kMaxAddressBytes = 64;
// Rooms remembered at most; an address beyond them gets the default.
constexpr size_t kMaxEntries = 1024;
constexpr size_t kMinBodySize = 5;
constexpr size_t kMaxEntrySize = 2 + kMaxAddressBytes + kMaxFileNameBytes;
constexpr size_t kMaxBodySize = kMinBodySize + kMaxFileNameBytes +
                                kMaxPageBytes + kMaxEntries * kMaxEntrySize;
constexpr uint8_t kHasDefault = 1;
constexpr uint8_t kHasPage = 2;

static_assert(sizeof kMagic == kMagicSize + 1, "magic is 8 bytes");
static_assert(kHeaderSize == kMagicSize + 4 + 4, "magic, length, checksum");
static_assert(kMaxFileNameBytes <= 255 && kMaxPageBytes <= 255 &&
                  kMaxAddressBytes <= 255,
              "text lengths are one byte");
static_assert(kMaxEntries <= 0xFFFF, "the entry count is two bytes");
static_assert(kMaxBodySize < UINT32_MAX, "the body length is four bytes");

// Everything remembered. A text that breaks its bound is never stored here:
// the Remember functions below refuse it.
struct Answers {
  std::map<std::string, std::string> files;  // player address -> file name
  std::optional<std::string> default_file;
  std::optional<std::string> page;

  bool operator==(const Answers& other) const {
    return files == other.files && default_file == other.default_file &&
           page == other.page;
  }
};

// The whole file: header and body. REQUIRES: `answers` within the bounds.
std::string Encode(const Answers& answers);
// True and `*answers` set when `data` is one whole, undamaged file.
bool Decode(const char* data, size_t size, Answers* answers);

}  // namespace fire_alarm

// The process's remembered answers. Thread-safe: one mutex of their own guards
// them (never the catalogue lock; it may be taken while holding the catalogue
// lock, never the other way round). A change is made in memory and the call
// returns: no caller waits for the disk. The file is brought up to date by a
// writer thread of this class, started at a change when none is at work and
// ending once the file holds what memory holds; changes made during a write
// go into the next one. A call that changes nothing writes nothing while the
// file holds what memory holds. A write that fails logs one line (the step,
// the file and the system's error text) and keeps the answers in memory; the
// next answer, changed or not, tries again, and so does FinishWriting.
class FireAlarmMemory {
 public:
  // A lookup that found `file_name` for `address` (null: none). An address
  // longer than kMaxAddressBytes, or a new one beyond kMaxEntries, is not
  // remembered.
  static void RememberFile(const char* address, const std::string& file_name);
  // A lookup that completed without a file for `address`.
  static void ForgetFile(const char* address);
  // The default step's or the page step's answer; nullopt when the step
  // completed without one.
  static void RememberDefault(const std::optional<std::string>& file_name);
  static void RememberPage(const std::optional<std::string>& page);

  // What is remembered, if anything.
  static std::optional<std::string> File(const char* address);
  static std::optional<std::string> Default();
  static std::optional<std::string> Page();

  // Replaces what is in memory by the file's answers. An absent file leaves
  // memory as it was; a damaged or unreadable one is logged and leaves it too.
  static void Load();
  // Waits for the writer, then makes one last write when the file lacks
  // answers (given since, or of a failed write): on return the file holds
  // every answer remembered so far, or that write failed. No writer starts
  // while it runs; an answer given meanwhile is written by this call. The
  // library stops with it (ExitDatabase, once no lookup can answer any more),
  // so no writer outlives the library's use.
  static void FinishWriting();
  // The file's path: SnapshotDirectoryPath() + kFileName.
  static std::string Path();
};

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_FIRE_ALARM_MEMORY_H_
