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
#include "platform/file_error.h"
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

// One line saying what failed and why: `what` and the system's account.
void Log(const std::string& what, const platform::FileError& error) {
  ModuleLog().AddLog((what + " (" + error.ToString() + ")").c_str());
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

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

// Appends `entry` to the rejected-plays file at `path` behind its whole
// entries (a torn tail is cut off), magic first when the file is new, and
// flushes it.
platform::FileError AppendRejected(const std::string& directory,
                                   const std::string& path,
                                   const std::string& entry) {
  platform::File file = platform::File::OpenForAppend(path);
  if (!file.valid()) {
    platform::MakeDirectory(directory);
    file = platform::File::OpenForAppend(path);
  }
  if (!file.valid()) return platform::FileError::Now("open", path);
  platform::File reading = platform::File::OpenForRead(path);
  if (!reading.valid()) return platform::FileError::Now("open", path);
  char magic[outbox::kMagicSize];
  errno = 0;
  const bool has_magic =
      reading.ReadAt(0, magic, sizeof magic) == sizeof magic &&
      std::memcmp(magic, outbox::kRejectedMagic, sizeof magic) == 0;
  uint64_t end = 0;
  if (has_magic) {
    EntryReader reader(reading, outbox::kMagicSize, UINT64_MAX);
    Entry whole;
    while (reader.Next(&whole)) {
    }
    if (reader.read_failed()) return platform::FileError::Now("read", path);
    end = reader.offset();
  } else if (errno != 0) {
    return platform::FileError::Now("read", path);
  }
  if (!file.Truncate(end)) return platform::FileError::Now("truncate", path);
  std::string bytes =
      has_magic
          ? entry
          : std::string(outbox::kRejectedMagic, outbox::kMagicSize) + entry;
  if (file.Write(bytes.data(), bytes.size()) != bytes.size()) {
    platform::FileError error = platform::FileError::Now("write", path);
    (void)file.Truncate(end);
    return error;
  }
  if (!file.Sync()) return platform::FileError::Now("flush", path);
  if (end == 0 && !platform::SyncDirectory(directory)) {
    return platform::FileError::Now("flush", directory);
  }
  return {};
}

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
  const platform::FileError error = Append(mark);
  if (!error.ok()) {
    Log("play outbox " + Quoted(path_) + ": cannot mark " +
            std::to_string(sent_) + " plays sent",
        error);
  }
}

bool PlayOutbox::SetAside(const PlayRecord& play) {
  const std::string path = directory_ + outbox::kRejectedFileName;
  std::string entry;
  outbox::EncodePlay(play, &entry);
  const platform::FileError error = AppendRejected(directory_, path, entry);
  const std::string what =
      "play of media " + std::to_string(play.media_id) + " in room " +
      Shown(play.room_address) + " from " + Shown(play.begin_time) + " to " +
      Shown(play.end_time) + " (song type " + std::to_string(play.song_type) +
      ") cannot be sent as its texts stand";
  if (!error.ok()) {
    Log(what + ", and cannot be set aside", error);
    return false;
  }
  ModuleLog().AddLog((what + ": set aside in " + Quoted(path)).c_str());
  return true;
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
  if (sent_ == plays_) {
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
    Log("play outbox " + Quoted(path_) + ": cannot cut out " +
            std::to_string(sent_) + " sent plays",
        error);
    return;
  }
  platform::SyncDirectory(directory_);
  end_ = outbox::kMagicSize + bytes;
  plays_ = copied;
  sent_ = 0;
  next_unsent_ = outbox::kMagicSize;
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
  EntryReader reader(in, next_unsent_, end_);
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
