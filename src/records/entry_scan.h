// Reading an outbox-format file (records/outbox_format.h) that may be damaged:
// whole entries one after another, a damaged stretch between two whole
// entries passed over as one item, and a torn tail (bytes after the last whole
// entry that no whole entry follows) told apart from both.
//
//   EntryScanner scanner(file, outbox::kMagicSize);
//   for (;;) {
//     const EntryScanner::Item item = scanner.Next(&entry);
//     if (item == EntryScanner::kEntry) { ... entry, scanner.start() ... }
//     else if (item == EntryScanner::kDamaged) { ... bytes at start() ... }
//     else break;  // kTornTail, kEnd or kReadFailed
//   }
//
// After a stretch that does not decode, the scanner looks for the next offset
// where a whole entry decodes (its length, its kind's size, its checksum and
// its body all right): the chance that damaged bytes pass for one is below one
// in 2^32 per offset, so the entries after a damaged one are found again.
#ifndef RONDEL_RECORDS_ENTRY_SCAN_H_
#define RONDEL_RECORDS_ENTRY_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "records/outbox_format.h"

namespace rondel {

// The length of an open file, found by reading single bytes (one or two when
// `guess` is right, else about twice log2 of the length). False when a read
// fails (errno set).
bool FileLength(platform::File& file, uint64_t guess, uint64_t* length);

class EntryScanner {
 public:
  enum Item {
    kEntry,       // *entry is a whole entry at [start(), end())
    kDamaged,     // [start(), end()) does not decode; a whole entry follows
    kTornTail,    // [start(), end()) runs to the end of the file undecoded
    kEnd,         // nothing more: the file ends after a whole entry
    kReadFailed,  // the file could not be read (errno set)
  };

  // Reads `file` (not owned; open for reading) from `offset` to its end.
  EntryScanner(platform::File& file, uint64_t offset)
      : file_(file), offset_(offset) {}

  Item Next(outbox::Entry* entry);

  uint64_t start() const { return start_; }  // of the last item
  uint64_t end() const { return offset_; }   // of the last item
  // The bytes of the entry Next returned last (valid until the next call).
  const char* raw() const { return raw_; }

 private:
  // Makes the buffer hold the file's bytes from `offset` on, `want` of them
  // or up to the end of the file, and answers how many it holds from there
  // (*data pointing at the first). Sets read_failed_ when a read fails.
  size_t View(uint64_t offset, size_t want, const char** data);
  // Looks for the first offset after `from` where a whole entry decodes.
  // False when none does before the end of the file.
  bool Resynchronise(uint64_t from, uint64_t* found);

  platform::File& file_;
  uint64_t offset_;
  uint64_t start_ = 0;
  std::string buffer_;
  uint64_t buffer_offset_ = 0;  // the file offset of buffer_[0]
  bool at_end_ = false;         // buffer_ runs to the end of the file
  bool read_failed_ = false;
  const char* raw_ = nullptr;
};

}  // namespace rondel

#endif  // RONDEL_RECORDS_ENTRY_SCAN_H_
