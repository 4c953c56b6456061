// The catalogue: the in-memory copy of what the database assigns to this video
// server.
//
// Every table exists once per process, statically allocated and zero when the
// library is loaded. Records are packed with no gaps, so several int32 fields
// sit at offsets that are not multiples of 4; the snapshot files copy these
// layouts byte for byte. Because members of packed records may be misaligned,
// never take their address as an int32_t*: copy the value instead.
//
// Filled once by the catalogue stage of start-up (on the thread of
// InitialDatabase); read without a lock and never written afterwards (background
// play keeps its per-room cursors and found play-list counts in atomic slots of
// its own, seeded from these records).
#ifndef RONDEL_CATALOGUE_TABLES_H_
#define RONDEL_CATALOGUE_TABLES_H_

#include <cstddef>
#include <cstdint>

namespace rondel {

constexpr int kMediaCapacity = 100000;
constexpr int kRoomCapacity = 512;
constexpr int kFileServerCapacity = 20;
constexpr int kSequenceCapacity = 200;
constexpr int kUserSequenceCapacity = 100000;
constexpr int kLocalAddressCapacity = 32;
constexpr int kFileListSize = 768;

enum MediaClass : int32_t { kFilm = 1, kSong = 2, kAd = 3 };

#pragma pack(push, 1)

// TableRecords: 28 bytes.
//   offset size field            meaning
//        0    4 MediaCount       records in use in Medias, 0..100000
//        4    4 Reserved         always 0; saved and restored with the rest
//        8    4 RoomCount        records in use in Rooms, 0..512
//       12    4 FileServerCount  records in use in FILE_SERVERS, 0..20
//       16    4 FilmCount        entries in use in FilmIndex
//       20    4 SongCount        entries in use in SongIndex
//       24    4 AdCount          entries in use in AdIndex
struct TableRecords {
  int32_t MediaCount;
  int32_t Reserved;
  int32_t RoomCount;
  int32_t FileServerCount;
  int32_t FilmCount;
  int32_t SongCount;
  int32_t AdCount;
};

// MediaRecord: 942 bytes, one per media item.
//   offset size field      meaning
//        0    4 MediaId    media id, the key of every media lookup
//        4  100 MediaName  name text
//      104   10 MediaCode  numeric code text; decides Class
//      114    4 Class      MediaClass: 1 film, 2 song, 3 ad (a snapshot: any)
//      118   20 TextA      text attribute
//      138   20 TextB      text attribute
//      158    4 NumberA    number attribute
//      162    4 NumberB    number attribute
//      166    4 NumberC    number attribute
//      170    4 GroupId    server group of this video server at load time
//      174  768 FileList   zero-terminated paths, an empty text, then zeros
struct MediaRecord {
  int32_t MediaId;
  char MediaName[100];
  char MediaCode[10];
  int32_t Class;
  char TextA[20];
  char TextB[20];
  int32_t NumberA;
  int32_t NumberB;
  int32_t NumberC;
  int32_t GroupId;
  char FileList[kFileListSize];
};

// RoomRecord: 52 bytes, one per room of the venue.
//   offset size field        meaning
//        0    4 RoomId       room id (kept, not read)
//        4   20 RoomInfo     the text GetRoomIDInfoFromIP answers
//       24   20 RoomAddress  IPv4 address of the room's player; the key
//       44    4 RoomNumber   low 16 bits of the room number (kept, not read)
//       48    4 PlayCursor   place in sequential background play; -1 loaded
struct RoomRecord {
  int32_t RoomId;
  char RoomInfo[20];
  char RoomAddress[20];
  int32_t RoomNumber;
  int32_t PlayCursor;
};

// FileServerRecord: 36 bytes, one per file server of the venue.
//   offset size field          meaning
//        0    4 FileServerId   file-server id
//        4   20 ServerAddress  dotted IPv4 address; the lookup key
//       24    4 ServerValue3   kept, not read
//       28    4 GroupId        server group of the file server
//       32    4 ServerValue5   kept, not read
struct FileServerRecord {
  int32_t FileServerId;
  char ServerAddress[20];
  int32_t ServerValue3;
  int32_t GroupId;
  int32_t ServerValue5;
};

// ClassIndex entry: 8 bytes, a media id and the 0-based position of its record
// in Medias.
struct ClassIndexEntry {
  int32_t MediaId;
  int32_t CataloguePosition;
};

#pragma pack(pop)

static_assert(sizeof(TableRecords) == 28, "TableRecords layout");
static_assert(offsetof(TableRecords, MediaCount) == 0, "TableRecords layout");
static_assert(offsetof(TableRecords, Reserved) == 4, "TableRecords layout");
static_assert(offsetof(TableRecords, RoomCount) == 8, "TableRecords layout");
static_assert(offsetof(TableRecords, FileServerCount) == 12,
              "TableRecords layout");
static_assert(offsetof(TableRecords, FilmCount) == 16, "TableRecords layout");
static_assert(offsetof(TableRecords, SongCount) == 20, "TableRecords layout");
static_assert(offsetof(TableRecords, AdCount) == 24, "TableRecords layout");

static_assert(sizeof(MediaRecord) == 942, "MediaRecord layout");
static_assert(offsetof(MediaRecord, MediaId) == 0, "MediaRecord layout");
static_assert(offsetof(MediaRecord, MediaName) == 4, "MediaRecord layout");
static_assert(offsetof(MediaRecord, MediaCode) == 104, "MediaRecord layout");
static_assert(offsetof(MediaRecord, Class) == 114, "MediaRecord layout");
static_assert(offsetof(MediaRecord, TextA) == 118, "MediaRecord layout");
static_assert(offsetof(MediaRecord, TextB) == 138, "MediaRecord layout");
static_assert(offsetof(MediaRecord, NumberA) == 158, "MediaRecord layout");
static_assert(offsetof(MediaRecord, NumberB) == 162, "MediaRecord layout");
static_assert(offsetof(MediaRecord, NumberC) == 166, "MediaRecord layout");
static_assert(offsetof(MediaRecord, GroupId) == 170, "MediaRecord layout");
static_assert(offsetof(MediaRecord, FileList) == 174, "MediaRecord layout");

static_assert(sizeof(RoomRecord) == 52, "RoomRecord layout");
static_assert(offsetof(RoomRecord, RoomId) == 0, "RoomRecord layout");
static_assert(offsetof(RoomRecord, RoomInfo) == 4, "RoomRecord layout");
static_assert(offsetof(RoomRecord, RoomAddress) == 24, "RoomRecord layout");
static_assert(offsetof(RoomRecord, RoomNumber) == 44, "RoomRecord layout");
static_assert(offsetof(RoomRecord, PlayCursor) == 48, "RoomRecord layout");

static_assert(sizeof(FileServerRecord) == 36, "FileServerRecord layout");
static_assert(offsetof(FileServerRecord, FileServerId) == 0,
              "FileServerRecord layout");
static_assert(offsetof(FileServerRecord, ServerAddress) == 4,
              "FileServerRecord layout");
static_assert(offsetof(FileServerRecord, ServerValue3) == 24,
              "FileServerRecord layout");
static_assert(offsetof(FileServerRecord, GroupId) == 28,
              "FileServerRecord layout");
static_assert(offsetof(FileServerRecord, ServerValue5) == 32,
              "FileServerRecord layout");

static_assert(sizeof(ClassIndexEntry) == 8, "ClassIndex layout");

// A play list: media ids in database order with the number of entries in use
// beside them. A count of 0 means "not yet counted": background play then
// counts the leading non-zero entries.
template <int kCapacity>
struct PlayList {
  static constexpr int kSize = kCapacity;
  int32_t entries[kCapacity];
  int32_t count;
};

// Every table of the catalogue. The one instance is zero-initialised static
// storage (it lies in .bss, so pages nobody writes are never touched); keep it
// free of initialisers.
struct Catalogue {
  TableRecords table_records;
  MediaRecord medias[kMediaCapacity];
  RoomRecord rooms[kRoomCapacity];
  FileServerRecord file_servers[kFileServerCapacity];
  PlayList<kSequenceCapacity> all_sequence;
  PlayList<kSequenceCapacity> month_sequence;
  PlayList<kSequenceCapacity> week_sequence;
  PlayList<kSequenceCapacity> new_sequence;
  PlayList<kUserSequenceCapacity> user_sequence;
  PlayList<kMediaCapacity>
      prefix86_list;  // songs whose 7-digit code starts with 8 or 6
  ClassIndexEntry film_index[kMediaCapacity];
  ClassIndexEntry song_index[kMediaCapacity];
  ClassIndexEntry ad_index[kMediaCapacity];
  char local_addresses[kLocalAddressCapacity]
                      [20];         // ends at its first empty entry
  int32_t identity_file_server_id;  // ServerIdentity; 0, 0 when unknown
  int32_t identity_group_id;
};

// Records every writer of Medias must report: the number of leading records it
// may have written (a load that writes positions 0..n-1 reports n).
// ResetCatalogue clears Medias only that far, so the pages of a 94 MB table
// that nobody wrote are never touched.
void NoteMediasWritten(int records);

// Clears the counters, every room and file-server record, the media records
// written so far and the first 20 entries of each class index, and sets the
// play type to 2. Play lists, their counts, Prefix86List, the local addresses
// and the server identity are kept.
void ResetCatalogue();

// Empties the five play lists and Prefix86List (entries in use and counts), so
// that a snapshot load after a failed database load serves what an offline
// start from the same files serves.
void ClearPlayLists();

// The one catalogue of the process.
extern Catalogue g_catalogue;
// The background play type (0..14); 2 at load and after every reset.
extern int32_t g_play_type;

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_TABLES_H_
