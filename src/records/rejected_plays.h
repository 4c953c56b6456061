// The rejected-plays file: plays the server refused for their own values, set
// aside beside the outbox (outbox::kRejectedFileName, the outbox's entry
// layout under outbox::kRejectedMagic) for someone to look at.
//
// The file is only ever appended to. Its end is kept in memory; each append
// checks the file's length (a few one-byte reads) and reads only its last
// entries when the file is not as it was left (first use, a torn append, a
// file moved away or replaced), never the whole file. Bytes after the last
// whole entry are a torn append and are cut off before the next; an entry
// damaged inside the file stays as it is. A file under another magic is
// renamed out of the way ("PlayRecords.rejected.damaged", or ".damaged.2" and
// on when taken), never cut.
//
// Not thread-safe: the outbox that owns it is touched under the catalogue
// lock only.
#ifndef RONDEL_RECORDS_REJECTED_PLAYS_H_
#define RONDEL_RECORDS_REJECTED_PLAYS_H_

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "platform/file_error.h"
#include "records/outbox_format.h"

namespace rondel {

class RejectedPlays {
 public:
  // Keeps its file in `directory` (with a trailing '/'; created with the
  // first play), at most `capacity` bytes of it.
  RejectedPlays(std::string directory, uint64_t capacity);

  const std::string& path() const { return path_; }
  uint64_t capacity() const { return capacity_; }

  enum class Appended { kDone, kFull, kFailed };
  // Appends `play` whole and flushes it (and the directory when the append
  // creates the file). kFull, with nothing written, when the play would take
  // the file past its capacity; kFailed with *error when the file cannot be
  // read or written (nothing of the play stays in it).
  Appended Append(const PlayRecord& play, platform::FileError* error);

  // True when the file's last whole entry is `play`: a play set aside just
  // before a stop that left it in the outbox too. False when the file cannot
  // be read.
  bool EndsWith(const PlayRecord& play);

 private:
  // Measures the file (*length) and locates its end unless it is as this
  // object left it.
  platform::FileError Refresh(uint64_t* length);
  // Finds the end of the whole entries and the last of them from the file's
  // end (*length bytes; `reading` open on it), renaming a file of another
  // magic out of the way (then *length is 0).
  platform::FileError Locate(platform::File& reading, uint64_t* length);
  // Renames the file out of the way, with one log line saying `why`.
  platform::FileError MoveAside(const char* why);

  const std::string directory_;
  const std::string path_;
  const uint64_t capacity_;
  bool located_ = false;  // end_ and last_ describe the file
  uint64_t end_ = 0;      // end of the whole entries; 0: no file or no magic
  std::string last_;      // the last whole entry's bytes, or empty
};

}  // namespace rondel

#endif  // RONDEL_RECORDS_REJECTED_PLAYS_H_
