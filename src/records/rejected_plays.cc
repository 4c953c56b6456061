#include "records/rejected_plays.h"

#include <errno.h>

#include <cstring>
#include <utility>

#include "frame/session.h"
#include "platform/message_log.h"
#include "platform/paths.h"
#include "records/entry_scan.h"

namespace rondel {

namespace {

// The end of the file read first when its end is not known, doubled while no
// whole entry is found in it.
constexpr uint64_t kFirstTail = 64 * 1024;
// A whole entry must start within this of the end: a torn append is at most
// one entry. A file without one there is not left by appends: moved aside.
constexpr uint64_t kTailLimit = 2 * outbox::kMaxEntrySize + kFirstTail;
constexpr int kAsideNames = 1000;

}  // namespace

RejectedPlays::RejectedPlays(std::string directory, uint64_t capacity)
    : directory_(std::move(directory)),
      path_(directory_ + outbox::kRejectedFileName),
      capacity_(capacity) {}

platform::FileError RejectedPlays::Refresh(uint64_t* length) {
  *length = 0;
  platform::File reading = platform::File::OpenForRead(path_);
  if (!reading.valid()) {
    if (errno != ENOENT) return platform::FileError::Now("open", path_);
  } else if (!FileLength(reading, end_, length)) {
    return platform::FileError::Now("read", path_);
  }
  if (located_ && *length == end_) return {};
  return Locate(reading, length);
}

platform::FileError RejectedPlays::Locate(platform::File& reading,
                                          uint64_t* length) {
  located_ = false;
  end_ = 0;
  last_.clear();
  if (*length > 0) {
    char magic[outbox::kMagicSize];
    const size_t wanted =
        *length < outbox::kMagicSize ? *length : outbox::kMagicSize;
    errno = 0;
    if (reading.ReadAt(0, magic, wanted) != wanted) {
      return platform::FileError::Now("read", path_);
    }
    // A file shorter than the magic that starts it is a creation cut short
    // (end_ stays 0: it is cut); any other first bytes are another file's.
    if (std::memcmp(magic, outbox::kRejectedMagic, wanted) != 0) {
      reading.Close();
      platform::FileError error = MoveAside("another magic");
      if (!error.ok()) return error;
      *length = 0;
    } else if (*length >= outbox::kMagicSize) {
      end_ = outbox::kMagicSize;
    }
  }
  for (uint64_t tail = kFirstTail; end_ == outbox::kMagicSize; tail *= 2) {
    const uint64_t start = *length - outbox::kMagicSize > tail
                               ? *length - tail
                               : outbox::kMagicSize;
    EntryScanner scanner(reading, start);
    outbox::Entry entry;
    for (;;) {
      const EntryScanner::Item item = scanner.Next(&entry);
      if (item == EntryScanner::kReadFailed) {
        return platform::FileError::Now("read", path_);
      }
      if (item != EntryScanner::kEntry && item != EntryScanner::kDamaged) {
        break;
      }
      if (item == EntryScanner::kEntry) {
        last_.assign(scanner.raw(), scanner.end() - scanner.start());
        end_ = scanner.end();
      }
    }
    if (!last_.empty() || start == outbox::kMagicSize) break;
    if (tail >= kTailLimit) {
      reading.Close();
      platform::FileError error = MoveAside("no whole entry near its end");
      if (!error.ok()) return error;
      *length = 0;
      end_ = 0;
    }
  }
  located_ = true;
  return {};
}

platform::FileError RejectedPlays::MoveAside(const char* why) {
  std::string aside = path_ + ".damaged";
  for (int n = 2; platform::FileReadable(aside) && n <= kAsideNames; ++n) {
    aside = path_ + ".damaged." + std::to_string(n);
  }
  if (!platform::RenameFile(path_, aside)) {
    return platform::FileError::Now("rename", path_);
  }
  platform::SyncDirectory(directory_);
  ModuleLog().AddLog(("rejected plays \"" + path_ + "\": " + why +
                      "; moved to \"" + aside + "\", a new file is started")
                         .c_str());
  return {};
}

RejectedPlays::Appended RejectedPlays::Append(const PlayRecord& play,
                                              platform::FileError* error) {
  std::string entry;
  outbox::EncodePlay(play, &entry);
  uint64_t length = 0;
  *error = Refresh(&length);
  if (!error->ok()) return Appended::kFailed;
  const std::string bytes =
      end_ == 0
          ? std::string(outbox::kRejectedMagic, outbox::kMagicSize) + entry
          : entry;
  if (end_ + bytes.size() > capacity_) return Appended::kFull;
  platform::File file = platform::File::OpenForAppend(path_);
  if (!file.valid()) {
    platform::MakeDirectory(directory_);
    file = platform::File::OpenForAppend(path_);
  }
  if (!file.valid()) {
    *error = platform::FileError::Now("open", path_);
    return Appended::kFailed;
  }
  if (length != end_ && !file.Truncate(end_)) {  // a torn append
    *error = platform::FileError::Now("truncate", path_);
    return Appended::kFailed;
  }
  // A play not flushed is cut off again: it stays in the outbox, and must not
  // reach the disk here as well.
  if (file.Write(bytes.data(), bytes.size()) != bytes.size()) {
    *error = platform::FileError::Now("write", path_);
  } else if (!file.Sync()) {
    *error = platform::FileError::Now("flush", path_);
  } else if (end_ == 0 && !platform::SyncDirectory(directory_)) {
    *error = platform::FileError::Now("flush", directory_);
  }
  if (!error->ok()) {
    (void)file.Truncate(end_);
    return Appended::kFailed;
  }
  end_ += bytes.size();
  last_ = entry;
  return Appended::kDone;
}

bool RejectedPlays::EndsWith(const PlayRecord& play) {
  uint64_t length = 0;
  if (!Refresh(&length).ok() || last_.empty()) return false;
  std::string entry;
  outbox::EncodePlay(play, &entry);
  return entry == last_;
}

}  // namespace rondel
