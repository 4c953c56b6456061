// The play outbox: loading the file, appending plays and sent marks, reading
// the oldest unsent plays, and cutting sent plays out of the file.
//
// What the outbox keeps true, whatever moment a crash (of the process or of
// the machine) strikes:
//  1. A play counts as kept only once its entry was written whole and the file
//     flushed (and the directory, when that append created the file).
//  2. Entries are only ever appended. Bytes after the last whole entry (an
//     append cut short by a crash or a failed write) are cut off before
//     anything else is appended, so a whole entry never follows a broken one;
//     a reader stops at the first entry that is not whole, so a torn append is
//     dropped, never delivered garbled.
//  3. A play leaves the outbox through a sent mark appended after its
//     dbrpcsend succeeded, never before. A mark carries the count of plays
//     sent from the file's start, so a mark that is lost or torn is made good
//     by any later one. Marks are written as each play goes (a crash of the
//     process keeps them) and flushed at the end of the round (a crash of the
//     machine can send the plays of that round, at most 50, a second time;
//     never lose one).
//  4. The file is removed only after all its plays are marked and the marks
//     flushed: a crash before the removal leaves a file whose plays are all
//     marked sent.
//  5. Cutting out sent plays writes the unsent ones to
//  "PlayRecords.outbox.new",
//     flushes it and renames it over the file, after the marks were flushed: a
//     crash before the rename leaves the old file as it was, one after it the
//     new file whole. A leftover ".new" is never read, and the next cut writes
//     over it.
#include "records/outbox.h"

#include <errno.h>

#include <cassert>
#include <cstdio>
#include <cstring>
#include <utility>

#include "catalogue/snapshot_store.h"
#include "frame/session.h"
#include "platform/message_log.h"
#include "platform/paths.h"
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

// Whole entries one after another from `offset`, up to `end` or the end of the
// file, read in chunks.
class EntryReader {
 public:
  EntryReader(platform::File& file, uint64_t offset, uint64_t end)
      : file_(file), offset_(offset), end_(end) {}

  // The next whole entry; false at the end, or at an entry that is not whole
  // (then broken_tail() is true).
  bool Next(Entry* entry) {
    for (;;) {
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
  std::string buffer_;
  size_t at_ = 0;  // buffer_[at_] is the byte at offset_
  const char* raw_ = nullptr;
  size_t raw_size_ = 0;
  bool broken_tail_ = false;
  bool read_failed_ = false;
};

PlayOutbox* g_kept_plays = nullptr;  // guarded by the catalogue lock
size_t g_kept_plays_capacity = kKeptPlaysCapacity;

}  // namespace

PlayOutbox::PlayOutbox(std::string directory, size_t capacity,
                       uint32_t compact_after)
    : directory_(std::move(directory)),
      path_(directory_ + outbox::kFileName),
      capacity_(capacity),
      compact_after_(compact_after) {}

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
  char magic[outbox::kMagicSize];
  errno = 0;
  const size_t magic_read = file.ReadAt(0, magic, sizeof magic);
  if (magic_read != sizeof magic && errno != 0) return;
  loaded_ = true;
  if (magic_read != sizeof magic ||
      std::memcmp(magic, outbox::kMagic, sizeof magic) != 0) {
    // Not an outbox (or one whose creation was cut short): it holds no plays
    // and is started anew at the next Keep.
    return;
  }
  std::vector<uint64_t> play_ends;
  uint32_t sent = 0;
  EntryReader reader(file, outbox::kMagicSize, UINT64_MAX);
  Entry entry;
  uint64_t end = reader.offset();
  bool broken = false;
  while (reader.Next(&entry)) {
    if (entry.kind == outbox::kPlay) {
      play_ends.push_back(reader.offset());
    } else if (entry.sent >= sent && entry.sent <= play_ends.size()) {
      sent = entry.sent;
    } else {
      broken = true;  // no writer marks plays it has not read, or unmarks any
      break;
    }
    end = reader.offset();
  }
  if (reader.read_failed()) {
    loaded_ = false;
    return;
  }
  if (broken || reader.broken_tail()) {
    Log("play outbox \"%s\": an entry cut short or damaged ends the kept plays",
        path_);
  }
  end_ = end;
  plays_ = static_cast<uint32_t>(play_ends.size());
  sent_ = sent;
  next_unsent_ = sent == 0 ? outbox::kMagicSize : play_ends[sent - 1];
}

// Opens the file for appending; cuts off whatever follows the whole entries
// (invariant 2) and starts a new file with its magic.
bool PlayOutbox::PrepareAppend() {
  if (!append_.valid()) {
    if (end_ == 0) platform::MakeDirectory(directory_);
    append_ = platform::File::OpenForAppend(path_);
    if (!append_.valid()) return false;
    cut_before_append_ = true;
  }
  if (cut_before_append_) {
    if (!append_.Truncate(end_)) return false;
    cut_before_append_ = false;
  }
  if (end_ == 0) {
    if (append_.Write(outbox::kMagic, outbox::kMagicSize) !=
        outbox::kMagicSize) {
      cut_before_append_ = true;
      return false;
    }
    end_ = outbox::kMagicSize;
    next_unsent_ = end_;
  }
  return true;
}

bool PlayOutbox::Append(const std::string& bytes) {
  if (!PrepareAppend()) return false;
  if (append_.Write(bytes.data(), bytes.size()) != bytes.size()) {
    cut_before_append_ = !append_.Truncate(end_);
    return false;
  }
  end_ += bytes.size();
  return true;
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
  std::string entry;
  outbox::EncodePlay(play, &entry);
  const bool creates = end_ == 0;
  if (!Append(entry)) {
    Log("play outbox \"%s\": cannot write, a play is not kept", path_);
    return false;
  }
  ++plays_;
  if (!append_.Sync() || (creates && !platform::SyncDirectory(directory_))) {
    Log("play outbox \"%s\": cannot flush to the disk", path_);
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
  EntryReader reader(file, next_unsent_, end_);
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
  outbox::EncodeSentMark(sent_, &mark);
  // A failed mark is made good by the next one (invariant 3); in this process
  // the play has left the outbox either way.
  if (!Append(mark)) {
    Log("play outbox \"%s\": cannot mark %lu plays sent", path_, sent_);
  }
}

void PlayOutbox::EndSending() {
  const bool marked = marked_ > 0;
  oldest_ends_.clear();
  marked_ = 0;
  if (!marked) return;
  if (!append_.Sync()) {
    Log("play outbox \"%s\": cannot flush to the disk", path_);
    return;  // neither removed nor rewritten while its marks may be lost
  }
  if (sent_ == plays_) {
    RemoveFile();
  } else if (sent_ >= compact_after_ && sent_ >= plays_ - sent_) {
    Compact();
  }
}

void PlayOutbox::RemoveFile() {
  append_.Close();
  if (!platform::RemoveFile(path_)) return;  // stays, with every play marked
  platform::SyncDirectory(directory_);
  end_ = 0;
  plays_ = 0;
  sent_ = 0;
  next_unsent_ = 0;
}

void PlayOutbox::Compact() {
  const std::string temporary = path_ + kCompactSuffix;
  platform::File out = platform::File::CreateForWrite(temporary);
  platform::File in = platform::File::OpenForRead(path_);
  bool written =
      out.valid() && in.valid() &&
      out.Write(outbox::kMagic, outbox::kMagicSize) == outbox::kMagicSize;
  uint64_t size = outbox::kMagicSize;
  uint32_t copied = 0;
  EntryReader reader(in, next_unsent_, end_);
  Entry entry;
  while (written && reader.Next(&entry)) {
    if (entry.kind != outbox::kPlay) continue;
    written = out.Write(reader.raw(), reader.raw_size()) == reader.raw_size();
    size += reader.raw_size();
    ++copied;
  }
  if (!written || copied != plays_ - sent_ || !out.Sync()) {
    out.Close();
    platform::RemoveFile(temporary);
    Log("play outbox \"%s\": cannot cut out %lu sent plays", path_, sent_);
    return;
  }
  out.Close();
  if (!platform::RenameFile(temporary, path_)) {
    platform::RemoveFile(temporary);
    Log("play outbox \"%s\": cannot cut out %lu sent plays", path_, sent_);
    return;
  }
  platform::SyncDirectory(directory_);
  append_.Close();  // the replaced file's
  end_ = size;
  plays_ = copied;
  sent_ = 0;
  next_unsent_ = outbox::kMagicSize;
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
        new PlayOutbox(SnapshotDirectoryPath(), g_kept_plays_capacity);
  }
  return *g_kept_plays;
}

void ResetKeptPlays(size_t capacity) {
  assert(CatalogueLock().HeldByThisThread());
  delete g_kept_plays;
  g_kept_plays = nullptr;
  g_kept_plays_capacity = capacity;
}

}  // namespace rondel
