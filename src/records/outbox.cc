// The play outbox: loading the file, appending plays and sent marks, reading
// the oldest unsent plays, and cutting sent plays out of the file.
//
// What the outbox keeps true, whatever moment a crash (of the process or of
// the machine) strikes:
//  1. A play counts as kept only once its entry was written whole and the file
//     flushed (and the directory, when that append created the file).
//  2. Entries are only ever appended. Bytes after the last whole entry (an
//     append cut short by a crash or a failed write) are cut off before
//     anything else is appended, so a whole entry never follows a torn one; a
//     torn append is dropped, never delivered garbled. Bytes damaged inside
//     the file (whole entries follow them) are never delivered and never cut
//     off unread: they are copied to "PlayRecords.outbox.damaged" and flushed,
//     once, before the file is rewritten without them (as in 5). While the
//     rewrite fails (a replacement the system refuses), they stay in the
//     file, skipped, and plays are appended behind them; the rewrite is
//     tried again after each round of sends.
//  3. A play leaves the outbox through a sent mark appended after its
//     dbrpcsend succeeded, never before. A mark carries the count of plays
//     sent from the file's start (a damaged stretch still in the file counted
//     as the most plays its bytes could hold, as loading reads it), so a mark
//     that is lost or torn is made good by any later one. Marks are written as
//     each play goes (a crash of the process keeps them) and flushed at the end
//     of the round (a crash of the machine can send the plays of that round, at
//     most 50, a second time; never lose one).
//  4. The file is removed only after all its plays are marked and the marks
//     flushed: a crash before the removal leaves a file whose plays are all
//     marked sent.
//  5. Cutting out sent plays writes the unsent ones to
//  "PlayRecords.outbox.new",
//     flushes it and renames it over the file, after the marks were flushed: a
//     crash before the rename leaves the old file as it was, one after it the
//     new file whole. A leftover ".new" is never read, and the next cut writes
//     over it.
//  6. A refused play leaves the outbox only after it was set aside: the
//     marks before it are flushed, its entry in the rejected-plays file is
//     written and flushed, and only then is its own mark appended and
//     flushed. A crash between the two leaves it in both files, as the
//     rejected file's last entry and the outbox's first unsent play; loading
//     recognises that pair and only marks the play. Past the rejected file's
//     capacity the play is not set aside: one log line gives its values, then
//     its mark is appended and flushed (a crash before the mark sends it, and
//     logs it, again).
#include "records/outbox.h"

#include <errno.h>

#include <cassert>
#include <cstdio>
#include <cstring>
#include <utility>

#include "catalogue/snapshot_store.h"
#include "frame/session.h"
#include "platform/file_error.h"
#include "platform/message_log.h"
#include "platform/paths.h"
#include "records/entry_scan.h"
#include "records/outbox_test_hooks.h"

namespace rondel {

namespace {

using outbox::Decoded;
using outbox::Entry;

constexpr size_t kReadChunk = 64 * 1024;
constexpr char kCompactSuffix[] = ".new";

void Log(const char* format, const std::string& path, unsigned long count = 0) {
  char line[512];
  std::snprintf(line, sizeof line, format, path.c_str(), count);
  ModuleLog().AddLog(line);
}

// One line saying what failed and why: `what` and the system's account.
void Log(const std::string& what, const platform::FileError& error) {
  ModuleLog().AddLog((what + " (" + error.ToString() + ")").c_str());
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

using Span = std::pair<uint64_t, uint64_t>;  // an offset and a size

// Whole entries one after another from `offset`, up to `end` or the end of the
// file, read in chunks, passing over the stretches in `skipped` (in file
// order; not owned, or null).
class EntryReader {
 public:
  EntryReader(platform::File& file, uint64_t offset, uint64_t end,
              const std::vector<Span>* skipped = nullptr)
      : file_(file), offset_(offset), end_(end), skipped_(skipped) {}

  // The next whole entry; false at the end, or at an entry that is not whole
  // (then broken_tail() is true).
  bool Next(Entry* entry) {
    for (;;) {
      PassSkipped();
      if (offset_ >= end_) return false;
      size_t available = buffer_.size() - at_;
      if (available > end_ - offset_) available = end_ - offset_;
      size_t size = 0;
      const Decoded decoded =
          outbox::DecodeEntry(buffer_.data() + at_, available, entry, &size);
      if (decoded == Decoded::kWhole) {
        raw_ = buffer_.data() + at_;
        raw_size_ = size;
        at_ += size;
        offset_ += size;
        return true;
      }
      if (decoded == Decoded::kDamaged || !Refill()) {
        broken_tail_ = available > 0;
        return false;
      }
    }
  }

  uint64_t offset() const { return offset_; }  // where the next entry starts
  bool broken_tail() const { return broken_tail_; }
  // True when the reading stopped at a read error, not at the end of the file.
  bool read_failed() const { return read_failed_; }
  // The bytes of the entry Next returned last (valid until the next call).
  const char* raw() const { return raw_; }
  size_t raw_size() const { return raw_size_; }

 private:
  void PassSkipped() {
    for (; skipped_ != nullptr && next_skipped_ < skipped_->size() &&
           (*skipped_)[next_skipped_].first <= offset_;
         ++next_skipped_) {
      if ((*skipped_)[next_skipped_].first < offset_) continue;
      offset_ += (*skipped_)[next_skipped_].second;
      buffer_.clear();
      at_ = 0;
    }
  }
  // Reads more of the file behind what is buffered; false when nothing came.
  bool Refill() {
    buffer_.erase(0, at_);
    at_ = 0;
    const size_t kept = buffer_.size();
    buffer_.resize(kept + kReadChunk);
    const size_t got = file_.ReadAt(offset_ + kept, &buffer_[kept], kReadChunk);
    if (got == 0 && errno != 0) read_failed_ = true;
    buffer_.resize(kept + got);
    return got > 0;
  }

  platform::File& file_;
  uint64_t offset_;
  const uint64_t end_;
  const std::vector<Span>* skipped_;
  size_t next_skipped_ = 0;
  std::string buffer_;
  size_t at_ = 0;  // buffer_[at_] is the byte at offset_
  const char* raw_ = nullptr;
  size_t raw_size_ = 0;
  bool broken_tail_ = false;
  bool read_failed_ = false;
};

// A play's texts as a log line shows them: at most 64 bytes each, bytes
// outside printable ASCII as \xNN (the values themselves are kept whole).
std::string Shown(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size() && i < 64; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"') {
      shown.push_back(static_cast<char>(byte));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  if (text.size() > 64) shown += "...";
  return "\"" + shown + "\"";
}

PlayOutbox* g_kept_plays = nullptr;  // guarded by the catalogue lock
size_t g_kept_plays_capacity = kKeptPlaysCapacity;
uint64_t g_rejected_capacity = kRejectedCapacity;

constexpr char kDamagedSuffix[] = ".damaged";
// The smallest entry a play makes: what a damaged stretch may have held.
constexpr uint64_t kSmallestPlayEntry =
    outbox::kEntryHeaderSize + outbox::kPlayFixedSize;

// Copies `size` bytes at `start` of `from` to the end of `to`.
platform::FileError CopyBytes(platform::File& from,
                              const std::string& from_path, uint64_t start,
                              uint64_t size, platform::File& to,
                              const std::string& to_path) {
  std::string chunk;
  while (size > 0) {
    chunk.resize(size < kReadChunk ? static_cast<size_t>(size) : kReadChunk);
    errno = 0;
    if (from.ReadAt(start, &chunk[0], chunk.size()) != chunk.size()) {
      return platform::FileError::Now("read", from_path);
    }
    if (to.Write(chunk.data(), chunk.size()) != chunk.size()) {
      return platform::FileError::Now("write", to_path);
    }
    start += chunk.size();
    size -= chunk.size();
  }
  return {};
}

}  // namespace

PlayOutbox::PlayOutbox(std::string directory, size_t capacity,
                       uint32_t compact_after, uint64_t rejected_capacity)
    : directory_(std::move(directory)),
      path_(directory_ + outbox::kFileName),
      capacity_(capacity),
      compact_after_(compact_after),
      rejected_(directory_, rejected_capacity) {}

size_t PlayOutbox::Unsent() {
  Load();
  return plays_ - sent_;
}

// A file that cannot be read now is neither empty nor broken: the outbox stays
// unloaded (the next call tries again) rather than start anew over its plays.
void PlayOutbox::Load() {
  if (loaded_) return;
  platform::File file = platform::File::OpenForRead(path_);
  if (!file.valid()) {
    loaded_ = errno == ENOENT;  // nothing kept
    return;
  }
  uint64_t length = 0;
  if (!FileLength(file, 0, &length)) return;
  char magic[outbox::kMagicSize];
  const size_t magic_read = length < outbox::kMagicSize
                                ? static_cast<size_t>(length)
                                : outbox::kMagicSize;
  errno = 0;
  if (file.ReadAt(0, magic, magic_read) != magic_read) return;
  std::vector<Span> plays;        // every whole play
  std::vector<uint64_t> numbers;  // each one's highest possible number
  std::vector<Span> damaged;
  std::vector<std::pair<uint32_t, uint64_t>> damaged_plays;
  size_t sent = 0;
  uint64_t end = 0;
  if (std::memcmp(magic, outbox::kMagic, magic_read) != 0) {
    damaged.push_back({0, length});  // another file: set aside whole
    damaged_plays.push_back({0, 0});
  } else if (length >= outbox::kMagicSize) {
    EntryScanner scanner(file, outbox::kMagicSize);
    uint64_t hidden = 0;  // plays the damaged stretches so far may have held
    uint32_t marked = 0;  // the last mark's count
    end = outbox::kMagicSize;
    for (;;) {
      Entry entry;
      const EntryScanner::Item item = scanner.Next(&entry);
      if (item == EntryScanner::kReadFailed) return;
      if (item == EntryScanner::kEnd || item == EntryScanner::kTornTail) break;
      const Span span{scanner.start(), scanner.end() - scanner.start()};
      end = scanner.end();
      if (item == EntryScanner::kEntry && entry.kind == outbox::kPlay) {
        numbers.push_back(plays.size() + hidden);
        plays.push_back(span);
      } else if (item == EntryScanner::kEntry && entry.sent >= marked &&
                 entry.sent <= plays.size() + hidden) {
        // A play counts as sent only when it is so whatever the damaged
        // stretches held: one may go twice, none is lost.
        marked = entry.sent;
        while (sent < plays.size() && numbers[sent] < marked) ++sent;
      } else {
        // Damaged, or a mark no writer makes (of plays never kept, or fewer
        // than an earlier one).
        const uint64_t held = item == EntryScanner::kDamaged
                                  ? span.second / kSmallestPlayEntry
                                  : 0;
        damaged.push_back(span);
        damaged_plays.push_back({static_cast<uint32_t>(plays.size()), held});
        hidden += held;
      }
    }
  }
  file.Close();  // not every system replaces an open file
  loaded_ = true;
  end_ = end;
  plays_ = static_cast<uint32_t>(plays.size());
  sent_ = static_cast<uint32_t>(sent);
  next_unsent_ = sent == 0 ? outbox::kMagicSize
                           : plays[sent - 1].first + plays[sent - 1].second;
  skipped_ = std::move(damaged);
  skipped_plays_ = std::move(damaged_plays);
  if (!skipped_.empty() && !SetDamagedAside()) return;
  MarkWhenSetAside();
}

// The plays stay readable whether or not the rewrite succeeds; only a file
// under another magic whose bytes could not be copied aside keeps the outbox
// unloaded, as the first append would cut them off.
bool PlayOutbox::SetDamagedAside() {
  uint64_t bytes = 0;
  for (const Span& span : skipped_) bytes += span.second;
  const std::string found =
      "play outbox " + Quoted(path_) + ": " +
      (end_ == 0 ? std::string("not a play outbox")
                 : "damaged entries skipped in " +
                       std::to_string(skipped_.size()) + " places") +
      " (" + std::to_string(bytes) + " bytes";
  const std::string kept = "kept in " + Quoted(path_ + kDamagedSuffix) + "); " +
                           std::to_string(plays_ - sent_) +
                           " unsent plays kept";
  const platform::FileError error = Rewrite();
  if (error.ok()) {
    ModuleLog().AddLog((found + ", " + kept).c_str());
    return true;
  }
  if (end_ == 0 && !damaged_copied_) {
    Log(found + "), cannot be set aside: no play is kept until it is", error);
    loaded_ = false;
    return false;
  }
  Log(found + (damaged_copied_ ? ", " + kept : "); its plays kept") +
          ", but the file cannot be rewritten without them yet: tried again "
          "after the next sends",
      error);
  if (end_ == 0) {  // the first play kept writes over the file
    skipped_.clear();
    skipped_plays_.clear();
    damaged_copied_ = false;
  }
  return true;
}

platform::FileError PlayOutbox::CopyDamagedAside() {
  platform::File file = platform::File::OpenForRead(path_);
  if (!file.valid()) return platform::FileError::Now("open", path_);
  const std::string aside = path_ + kDamagedSuffix;
  platform::File out = platform::File::OpenForAppend(aside);
  if (!out.valid()) return platform::FileError::Now("open", aside);
  for (const Span& span : skipped_) {
    platform::FileError error =
        CopyBytes(file, path_, span.first, span.second, out, aside);
    if (!error.ok()) return error;
  }
  if (!out.Sync()) return platform::FileError::Now("flush", aside);
  // Its name is durable before the damaged bytes leave the outbox.
  if (!platform::SyncDirectory(directory_)) {
    return platform::FileError::Now("flush", directory_);
  }
  return {};
}

platform::FileError PlayOutbox::Rewrite() {
  if (!skipped_.empty() && !damaged_copied_) {
    const platform::FileError error = CopyDamagedAside();
    if (!error.ok()) return error;
    damaged_copied_ = true;  // never appended twice
  }
  const std::string temporary = path_ + kCompactSuffix;
  uint32_t copied = 0;
  uint64_t bytes = 0;
  platform::FileError error = CopyUnsentTo(temporary, &copied, &bytes);
  // Closed before the replacement: not every system replaces an open file. A
  // failed replacement leaves the old file, which the next append reopens.
  append_.Close();
  if (error.ok() && !platform::RenameFile(temporary, path_)) {
    error = platform::FileError::Now("rename", temporary);
  }
  if (!error.ok()) {
    platform::RemoveFile(temporary);
    return error;
  }
  platform::SyncDirectory(directory_);
  end_ = outbox::kMagicSize + bytes;
  plays_ = copied;
  sent_ = 0;
  next_unsent_ = outbox::kMagicSize;
  skipped_.clear();
  skipped_plays_.clear();
  damaged_copied_ = false;
  return {};
}

uint32_t PlayOutbox::MarkCount() const {
  uint64_t count = sent_;
  for (const std::pair<uint32_t, uint64_t>& held : skipped_plays_) {
    if (held.first < sent_) count += held.second;
  }
  return static_cast<uint32_t>(count);
}

void PlayOutbox::MarkWhenSetAside() {
  if (plays_ == sent_) return;
  platform::File file = platform::File::OpenForRead(path_);
  EntryReader reader(file, next_unsent_, end_, &skipped_);
  Entry entry;
  while (reader.Next(&entry) && entry.kind != outbox::kPlay) {
  }
  if (entry.kind != outbox::kPlay || reader.offset() == next_unsent_ ||
      !rejected_.EndsWith(entry.play)) {
    return;
  }
  ModuleLog().AddLog(("play outbox " + Quoted(path_) +
                      ": its first unsent play was set aside in " +
                      Quoted(rejected_.path()) +
                      " before the last stop; it leaves the outbox unsent")
                         .c_str());
  oldest_ends_.assign(1, reader.offset());
  marked_ = 0;
  MarkSetAside();
  EndSending();
}

// Opens the file for appending; cuts off whatever follows the whole entries
// (invariant 2) and starts a new file with its magic.
platform::FileError PlayOutbox::PrepareAppend() {
  if (!append_.valid()) {
    if (end_ == 0) platform::MakeDirectory(directory_);
    append_ = platform::File::OpenForAppend(path_);
    if (!append_.valid()) return platform::FileError::Now("open", path_);
    cut_before_append_ = true;
  }
  if (cut_before_append_) {
    if (!append_.Truncate(end_)) {
      return platform::FileError::Now("truncate", path_);
    }
    cut_before_append_ = false;
  }
  if (end_ == 0) {
    if (append_.Write(outbox::kMagic, outbox::kMagicSize) !=
        outbox::kMagicSize) {
      platform::FileError error = platform::FileError::Now("write", path_);
      cut_before_append_ = true;
      return error;
    }
    end_ = outbox::kMagicSize;
    next_unsent_ = end_;
  }
  return {};
}

platform::FileError PlayOutbox::Append(const std::string& bytes) {
  platform::FileError error = PrepareAppend();
  if (!error.ok()) return error;
  if (append_.Write(bytes.data(), bytes.size()) != bytes.size()) {
    error = platform::FileError::Now("write", path_);
    cut_before_append_ = !append_.Truncate(end_);
    return error;
  }
  end_ += bytes.size();
  return {};
}

bool PlayOutbox::Keep(const PlayRecord& play) {
  Load();
  if (!loaded_) {
    Log("play outbox \"%s\": cannot read, a play is not kept", path_);
    return false;
  }
  if (plays_ - sent_ >= capacity_) {
    if (!full_logged_) {
      Log("play outbox \"%s\" is full: %lu unsent plays kept, later plays are "
          "not kept until some are sent",
          path_, static_cast<unsigned long>(capacity_));
      full_logged_ = true;
    }
    return false;
  }
  if (!outbox::KeepsWhole(play)) {
    Log("play outbox \"%s\": a play with a text over %lu bytes is kept cut",
        path_, static_cast<unsigned long>(outbox::kMaxLongTextBytes));
  }
  std::string entry;
  outbox::EncodePlay(play, &entry);
  const bool creates = end_ == 0;
  const platform::FileError error = Append(entry);
  if (!error.ok()) {
    Log("play outbox " + Quoted(path_) + ": cannot write, a play is not kept",
        error);
    return false;
  }
  ++plays_;
  if (!append_.Sync()) {
    Log("play outbox " + Quoted(path_) + ": cannot flush to the disk",
        platform::FileError::Now("flush", path_));
    return false;
  }
  if (creates && !platform::SyncDirectory(directory_)) {
    Log("play outbox " + Quoted(path_) + ": cannot flush to the disk",
        platform::FileError::Now("flush", directory_));
    return false;
  }
  return true;
}

std::vector<PlayRecord> PlayOutbox::Oldest(size_t max) {
  Load();
  std::vector<PlayRecord> plays;
  oldest_ends_.clear();
  marked_ = 0;
  if (!loaded_ || plays_ == sent_ || max == 0) return plays;
  platform::File file = platform::File::OpenForRead(path_);
  if (!file.valid()) return plays;
  EntryReader reader(file, next_unsent_, end_, &skipped_);
  Entry entry;
  while (plays.size() < max && reader.Next(&entry)) {
    if (entry.kind != outbox::kPlay) continue;
    plays.push_back(entry.play);
    oldest_ends_.push_back(reader.offset());
  }
  return plays;
}

void PlayOutbox::MarkSent() {
  assert(marked_ < oldest_ends_.size());
  if (marked_ >= oldest_ends_.size()) return;
  next_unsent_ = oldest_ends_[marked_++];
  ++sent_;
  full_logged_ = false;
  std::string mark;
  outbox::EncodeSentMark(MarkCount(), &mark);
  // A failed mark is made good by the next one (invariant 3); in this process
  // the play has left the outbox either way.
  const platform::FileError error = Append(mark);
  if (!error.ok()) {
    Log("play outbox " + Quoted(path_) + ": cannot mark " +
            std::to_string(sent_) + " plays sent",
        error);
  }
}

void PlayOutbox::MarkSetAside() {
  MarkSent();
  if (!append_.Sync()) {
    Log("play outbox " + Quoted(path_) + ": cannot flush to the disk",
        platform::FileError::Now("flush", path_));
  }
}

bool PlayOutbox::SetAside(const PlayRecord& play) {
  const std::string what =
      "play of media " + std::to_string(play.media_id) + " in room " +
      Shown(play.room_address) + " from " + Shown(play.begin_time) + " to " +
      Shown(play.end_time) + " (song type " + std::to_string(play.song_type) +
      ") cannot be sent as its texts stand";
  // The round's marks reach the disk first: a stop after the set-aside then
  // leaves this play first among the unsent ones, where Load looks for it
  // (invariant 6).
  if (marked_ > 0 && !append_.Sync()) {
    Log(what + ", and the outbox cannot be flushed before it is set aside",
        platform::FileError::Now("flush", path_));
    return false;
  }
  platform::FileError error;
  switch (rejected_.Append(play, &error)) {
    case RejectedPlays::Appended::kDone:
      rejected_full_logged_ = false;
      ModuleLog().AddLog(
          (what + ": set aside in " + Quoted(rejected_.path())).c_str());
      return true;
    case RejectedPlays::Appended::kFull:
      // Kept, it would be refused again at every call and hold back every
      // play behind it: like the outbox past its own capacity, the file
      // takes no more, and the log keeps the play's values.
      if (!rejected_full_logged_) {
        ModuleLog().AddLog(
            ("rejected plays " + Quoted(rejected_.path()) + " is full (" +
             std::to_string(rejected_.capacity()) +
             " bytes): later refused plays are not kept, each named in the "
             "log, until the file is moved away")
                .c_str());
        rejected_full_logged_ = true;
      }
      ModuleLog().AddLog((what + ", and is not kept: the set-aside file " +
                          Quoted(rejected_.path()) +
                          " is full (move it away; set-asides resume in a "
                          "new file)")
                             .c_str());
      return true;
    case RejectedPlays::Appended::kFailed:
      break;
  }
  Log(what + ", and cannot be set aside: it waits in the play outbox", error);
  return false;
}

void PlayOutbox::EndSending() {
  const bool marked = marked_ > 0;
  oldest_ends_.clear();
  marked_ = 0;
  if (!marked) return;
  if (!append_.Sync()) {
    Log("play outbox " + Quoted(path_) + ": cannot flush to the disk",
        platform::FileError::Now("flush", path_));
    return;  // neither removed nor rewritten while its marks may be lost
  }
  if (!skipped_.empty()) {
    Compact();  // the rewrite that loading could not finish
  } else if (sent_ == plays_) {
    RemoveFile();
  } else if (sent_ >= compact_after_ && sent_ >= plays_ - sent_) {
    Compact();
  }
}

void PlayOutbox::RemoveFile() {
  append_.Close();
  if (!platform::RemoveFile(path_)) {
    // It stays, with every play marked sent.
    Log("play outbox " + Quoted(path_) + ": cannot remove the sent plays",
        platform::FileError::Now("remove", path_));
    return;
  }
  platform::SyncDirectory(directory_);
  end_ = 0;
  plays_ = 0;
  sent_ = 0;
  next_unsent_ = 0;
}

void PlayOutbox::Compact() {
  const uint32_t sent = sent_;
  const bool damaged = !skipped_.empty();
  const platform::FileError error = Rewrite();
  if (!error.ok()) {
    Log("play outbox " + Quoted(path_) + ": cannot cut out " +
            std::to_string(sent) + " sent plays" +
            (damaged ? " and its damaged entries" : ""),
        error);
  }
}

platform::FileError PlayOutbox::CopyUnsentTo(const std::string& temporary,
                                             uint32_t* copied,
                                             uint64_t* bytes) {
  platform::File in = platform::File::OpenForRead(path_);
  if (!in.valid()) return platform::FileError::Now("open", path_);
  platform::File out = platform::File::CreateForWrite(temporary);
  if (!out.valid()) return platform::FileError::Now("create", temporary);
  if (out.Write(outbox::kMagic, outbox::kMagicSize) != outbox::kMagicSize) {
    return platform::FileError::Now("write", temporary);
  }
  EntryReader reader(in, next_unsent_, end_, &skipped_);
  Entry entry;
  while (reader.Next(&entry)) {
    if (entry.kind != outbox::kPlay) continue;
    if (out.Write(reader.raw(), reader.raw_size()) != reader.raw_size()) {
      return platform::FileError::Now("write", temporary);
    }
    *bytes += reader.raw_size();
    ++*copied;
  }
  if (*copied != plays_ - sent_) {
    if (!reader.read_failed()) errno = 0;  // the file ends early
    return platform::FileError::Now("read", path_);
  }
  if (!out.Sync()) return platform::FileError::Now("flush", temporary);
  return {};
}

namespace {

// The outbox's memory goes with the library: a host that unloads it (dlclose)
// must not keep a heap object nothing points at any more. A call still in an
// exchange at that moment keeps it (the lock is busy); nothing else uses it.
struct KeptPlaysRelease {
  ~KeptPlaysRelease() {
    if (!CatalogueLock().TryAcquire()) return;
    delete g_kept_plays;
    g_kept_plays = nullptr;
    CatalogueLock().Release();
  }
} g_kept_plays_release;

}  // namespace

PlayOutbox& KeptPlays() {
  assert(CatalogueLock().HeldByThisThread());
  if (g_kept_plays == nullptr) {
    g_kept_plays =
        new PlayOutbox(SnapshotDirectoryPath(), g_kept_plays_capacity,
                       kCompactAfter, g_rejected_capacity);
  }
  return *g_kept_plays;
}

void ResetKeptPlays(size_t capacity, uint64_t rejected_capacity) {
  assert(CatalogueLock().HeldByThisThread());
  delete g_kept_plays;
  g_kept_plays = nullptr;
  g_kept_plays_capacity = capacity;
  g_rejected_capacity = rejected_capacity;
}

}  // namespace rondel
