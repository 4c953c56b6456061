// The play outbox: plays that SaveVideoTime could not send because no
// connection opened, kept on disk until a later call sends them.
//
// The plays live in one file in the snapshot directory, in the format of
// records/outbox_format.h: each play is appended and flushed before Keep
// returns; a play leaves the outbox when a sent mark is appended after its
// send. What a crash at any point leaves is stated at the top of outbox.cc.
//
//   PlayOutbox& outbox = KeptPlays();             // catalogue lock held
//   if (!connected) { outbox.Keep(play); return; }
//   for (const PlayRecord& p : outbox.Oldest(50)) {
//     if (Refused(p)) {                           // its own values' fault
//       if (!outbox.SetAside(p)) break;           // p stays first
//       outbox.MarkSetAside();                    // set aside, or logged
//     } else if (Send(p)) {
//       outbox.MarkSent();                        // p has gone
//     } else {
//       break;
//     }
//   }
//   outbox.EndSending();
//
// A PlayOutbox is not thread-safe. The library's one instance, KeptPlays(), is
// touched only under the catalogue lock (inside an exchange), so two threads
// never append or send at once and the order of the file is the order in
// which the plays were kept.
#ifndef RONDEL_RECORDS_OUTBOX_H_
#define RONDEL_RECORDS_OUTBOX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_error.h"
#include "records/outbox_format.h"
#include "records/rejected_plays.h"

namespace rondel {

// Unsent plays the library keeps at most: about 7 MB of typical plays.
constexpr size_t kKeptPlaysCapacity = 100000;
// Bytes the rejected-plays file grows to at most: about 100,000 typical
// plays. Past it, refused plays are only logged (PlayOutbox::SetAside).
constexpr uint64_t kRejectedCapacity = 8 << 20;
// Sent plays that, once half of the file, are cut out of it.
constexpr uint32_t kCompactAfter = 1024;

class PlayOutbox {
 public:
  // Keeps its file in `directory` (with a trailing '/'; created when the first
  // play is kept), at most `capacity` unsent plays. Sent plays are cut out of
  // the file once at least `compact_after` of them make up at least half of
  // it. The rejected-plays file beside it holds at most `rejected_capacity`
  // bytes. Nothing is read before the first call.
  //
  // Loading the file keeps every whole entry. A stretch of damaged entries
  // between whole ones is skipped: its bytes are appended to
  // "PlayRecords.outbox.damaged", the file is rewritten with its unsent plays
  // only, and one log line gives the count; a sent mark behind it is read
  // as if the stretch held as many plays as its bytes could (a play may go
  // twice, none is lost). When the file cannot be rewritten (a replacement
  // the system refuses), the stretch stays in it, skipped, plays are kept
  // behind it, and the rewrite is tried again after each round of sends;
  // its bytes are copied aside once. A torn tail (bytes no whole entry
  // follows) is cut off. A file under another magic is set aside whole the
  // same way. When the first unsent play is the last entry of the
  // rejected-plays file (set aside just before a stop, not yet marked), it
  // is marked sent without being sent again.
  PlayOutbox(std::string directory, size_t capacity,
             uint32_t compact_after = kCompactAfter,
             uint64_t rejected_capacity = kRejectedCapacity);
  PlayOutbox(const PlayOutbox&) = delete;
  PlayOutbox& operator=(const PlayOutbox&) = delete;

  // The file's path.
  const std::string& path() const { return path_; }

  // The plays kept and not yet sent (loading the file at first use).
  size_t Unsent();

  // Appends `play` (each text cut to outbox::kMaxTextBytes) and flushes it to
  // the disk. True when it is kept durably. False when the outbox already
  // holds `capacity` unsent plays (the older ones are kept; one log line until
  // some are sent), when the file cannot be written (one log line; nothing of
  // the play stays in the file), or when it cannot be flushed (one log line;
  // the play stays in the file and may still be sent).
  bool Keep(const PlayRecord& play);

  // Up to `max` of the oldest unsent plays, oldest first; empty when there are
  // none or the file cannot be read.
  std::vector<PlayRecord> Oldest(size_t max);

  // The oldest unsent play has been sent (or set aside): it leaves the outbox
  // (a sent mark is written; it reaches the disk at EndSending). REQUIRES:
  // Oldest returned it: plays are marked in the order of the last Oldest, each
  // at most once.
  void MarkSent();

  // As MarkSent, for a play SetAside has just set aside, and the mark is
  // flushed at once: a power cut can leave in both files only the play set
  // aside last, which the next Load recognises.
  void MarkSetAside();

  // Sets aside a play the server refused for its own values: appends it whole
  // to the rejected-plays file beside the outbox (records/rejected_plays.h)
  // and flushes it, with one log line naming the play. True when the play is
  // done with: it reached the disk, or the file is full (then the play is
  // not kept: one log line gives its values and where the file is, and one
  // more says the file is full, until a play is set aside again). Only then
  // may a play from the outbox leave it through MarkSetAside. False when
  // the file cannot be written (one log line naming the play and the
  // error): the play is to stay in, or be kept in, the outbox.
  bool SetAside(const PlayRecord& play);

  // Ends a round of sends: flushes its marks, then removes the file when every
  // play in it has been sent, or rewrites it without its sent plays when they
  // are due to be cut out. Nothing when nothing was marked.
  void EndSending();

 private:
  void Load();
  // After a Load that found damaged entries (skipped_): rewrites the file
  // without them, with one log line. False when the outbox stays unloaded.
  bool SetDamagedAside();
  // Appends the bytes of skipped_ to "PlayRecords.outbox.damaged" and
  // flushes it and the directory.
  platform::FileError CopyDamagedAside();
  // Rewrites the file with its unsent plays only (after copying skipped_
  // aside, once).
  platform::FileError Rewrite();
  // The count a sent mark carries for sent_ plays: as loading reads it, each
  // damaged stretch still in the file before the last of them counts as the
  // most plays it could hold.
  uint32_t MarkCount() const;
  // Marks the first unsent play sent when it is the rejected file's last.
  void MarkWhenSetAside();
  platform::FileError PrepareAppend();
  platform::FileError Append(const std::string& bytes);
  void RemoveFile();
  void Compact();
  // Writes the magic and the unsent plays to `temporary` and flushes it,
  // counting the plays and their bytes.
  platform::FileError CopyUnsentTo(const std::string& temporary,
                                   uint32_t* copied, uint64_t* bytes);

  const std::string directory_;
  const std::string path_;
  const size_t capacity_;
  const uint32_t compact_after_;

  bool loaded_ = false;
  platform::File append_;          // open for appending, or not open yet
  bool cut_before_append_ = true;  // bytes after end_ may need cutting off
  uint64_t end_ = 0;               // end of the whole entries; 0: no file yet
  uint32_t plays_ = 0;             // plays in the file
  uint32_t sent_ = 0;              // the first sent_ of them have been sent
  uint64_t next_unsent_ = 0;       // offset at or before the first unsent play
  // Damaged stretches still in the file (a rewrite failed), in file order,
  // and for each the whole plays before it and the plays it could hold.
  using Span = std::pair<uint64_t, uint64_t>;  // an offset and a size
  std::vector<Span> skipped_;
  std::vector<std::pair<uint32_t, uint64_t>> skipped_plays_;
  bool damaged_copied_ = false;        // skipped_ is in ".damaged", flushed
  std::vector<uint64_t> oldest_ends_;  // end offsets of Oldest's plays
  size_t marked_ = 0;                  // of them, marked sent
  bool full_logged_ = false;
  RejectedPlays rejected_;
  bool rejected_full_logged_ = false;
};

// The library's outbox: its directory is SnapshotDirectoryPath() as it is at
// the first use, its capacity kKeptPlaysCapacity. REQUIRES: the catalogue lock
// held (asserted), for this call and every use of what it returns.
PlayOutbox& KeptPlays();

}  // namespace rondel

#endif  // RONDEL_RECORDS_OUTBOX_H_
