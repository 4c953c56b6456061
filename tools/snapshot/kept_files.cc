#include "kept_files.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/coding.h"
#include "platform/file.h"
#include "platform/file_error.h"
#include "records/entry_scan.h"

namespace rondel {
namespace tools {

namespace {

// The smallest entry a play makes: as many plays as a damaged stretch may
// have held, as the outbox's load counts them.
constexpr uint64_t kSmallestPlayEntry =
    outbox::kEntryHeaderSize + outbox::kPlayFixedSize;
// The rejected file's earlier files are ".damaged", ".damaged.2", ... (as
// RejectedPlays moves them aside).
constexpr int kAsideNames = 1000;

std::string InDirectory(const std::string& directory, const char* name) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path += '/';
  return path + name;
}

// Size and modification time; false when there is no such file.
bool Stat(const std::string& path, uint64_t* size, int64_t* written) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  *written = static_cast<int64_t>(status.st_mtime);
  return true;
}

std::vector<AsideFile> AsideFiles(const PlaysFile& file) {
  std::vector<AsideFile> aside;
  const std::string base = file.name + ".damaged";
  const int names = file.kind == PlaysFileKind::kOutbox ? 1 : kAsideNames;
  for (int n = 1; n <= names; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    AsideFile one{name, 0};
    int64_t written = 0;
    const std::string path =
        file.path.substr(0, file.path.size() - file.name.size()) + name;
    if (!Stat(path, &one.size, &written)) break;
    aside.push_back(one);
  }
  return aside;
}

void Unreadable(const char* step, PlaysFile* file) {
  file->state = KeptState::kUnreadable;
  file->error = platform::FileError::Now(step, file->path).ToString();
  file->entries.clear();
  file->plays = file->sent = 0;
  file->damaged_bytes = file->torn_bytes = 0;
}

// The entries from the magic on, counted as the outbox's load counts them
// (outbox.cc, PlayOutbox::Load): a mark counts only when no writer could have
// made it otherwise, and the damaged stretches before it may have held plays.
void ReadEntries(platform::File& reading, PlaysFile* file) {
  const bool outbox = file->kind == PlaysFileKind::kOutbox;
  EntryScanner scanner(reading, outbox::kMagicSize);
  std::vector<uint64_t> numbers;  // each play's highest possible number
  std::vector<size_t> play_items;
  uint64_t hidden = 0;
  uint32_t marked = 0;
  for (;;) {
    outbox::Entry entry;
    const EntryScanner::Item item = scanner.Next(&entry);
    if (item == EntryScanner::kReadFailed) return Unreadable("read", file);
    if (item == EntryScanner::kEnd) break;
    KeptEntry kept;
    kept.offset = scanner.start();
    kept.size = scanner.end() - scanner.start();
    if (item == EntryScanner::kTornTail) {
      kept.kind = KeptEntry::kTornTail;
      file->torn_bytes = kept.size;
      file->entries.push_back(kept);
      break;
    }
    if (item == EntryScanner::kDamaged) {
      kept.kind = KeptEntry::kDamaged;
      hidden += kept.size / kSmallestPlayEntry;
    } else if (entry.kind == outbox::kPlay) {
      kept.kind = KeptEntry::kPlay;
      kept.play = entry.play;
      numbers.push_back(play_items.size() + hidden);
      play_items.push_back(file->entries.size());
    } else if (outbox && entry.sent >= marked &&
               entry.sent <= play_items.size() + hidden) {
      kept.kind = KeptEntry::kSentMark;
      kept.sent = marked = entry.sent;
      while (file->sent < play_items.size() && numbers[file->sent] < marked) {
        ++file->sent;
      }
    } else {
      kept.kind = KeptEntry::kStrayMark;
      kept.sent = entry.sent;
    }
    if (kept.kind == KeptEntry::kDamaged ||
        kept.kind == KeptEntry::kStrayMark) {
      file->damaged_bytes += kept.size;
      file->state = KeptState::kDamaged;
    }
    file->entries.push_back(kept);
  }
  file->plays = static_cast<uint32_t>(play_items.size());
  for (uint32_t i = 0; i < file->sent; ++i) {
    file->entries[play_items[i]].play_sent = true;
  }
}

}  // namespace

const KeptEntry* PlaysFile::OldestUnsent() const {
  uint32_t seen = 0;
  for (const KeptEntry& entry : entries) {
    if (entry.kind == KeptEntry::kPlay && seen++ == sent) return &entry;
  }
  return nullptr;
}

const KeptEntry* PlaysFile::NewestUnsent() const {
  if (unsent() == 0) return nullptr;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->kind == KeptEntry::kPlay) return &*entry;
  }
  return nullptr;
}

uint64_t PlaysFile::aside_bytes() const {
  uint64_t bytes = 0;
  for (const AsideFile& file : aside) bytes += file.size;
  return bytes;
}

PlaysFile ReadPlaysFile(const std::string& directory, PlaysFileKind kind) {
  PlaysFile file;
  file.kind = kind;
  file.name = kind == PlaysFileKind::kOutbox ? outbox::kFileName
                                             : outbox::kRejectedFileName;
  file.path = InDirectory(directory, file.name.c_str());
  file.aside = AsideFiles(file);
  platform::File reading = platform::File::OpenForRead(file.path);
  if (!reading.valid()) {
    if (errno != ENOENT) Unreadable("open", &file);
    return file;
  }
  uint64_t ignored = 0;
  Stat(file.path, &ignored, &file.written);
  file.state = KeptState::kWhole;
  if (!FileLength(reading, 0, &file.size)) {
    Unreadable("read", &file);
    return file;
  }
  const size_t magic_size = file.size < outbox::kMagicSize
                                ? static_cast<size_t>(file.size)
                                : outbox::kMagicSize;
  file.magic.resize(magic_size);
  errno = 0;
  if (reading.ReadAt(0, &file.magic[0], magic_size) != magic_size) {
    Unreadable("read", &file);
    return file;
  }
  const char* magic =
      kind == PlaysFileKind::kOutbox ? outbox::kMagic : outbox::kRejectedMagic;
  // A file shorter than the magic that starts it is a creation cut short.
  if (std::memcmp(file.magic.data(), magic, magic_size) != 0) {
    file.state = KeptState::kDamaged;
    file.other_magic = true;
    file.damaged_bytes = file.size;
  } else if (file.size < outbox::kMagicSize) {
    file.torn_bytes = file.size;
  } else {
    ReadEntries(reading, &file);
  }
  return file;
}

namespace {

void Unreadable(const char* step, FireAlarmFile* file) {
  file->state = KeptState::kUnreadable;
  file->error = platform::FileError::Now(step, file->path).ToString();
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

// Which of the header's checks `bytes` fails, or the body's when they hold:
// fire_alarm::Decode answers only whether the file is whole.
std::string FireAlarmFault(const std::string& bytes) {
  using namespace fire_alarm;
  if (bytes.size() < kHeaderSize) {
    return "shorter than its " + std::to_string(kHeaderSize) +
           "-byte header (" + std::to_string(bytes.size()) + " bytes)";
  }
  if (std::memcmp(bytes.data(), kMagic, kMagicSize) != 0) {
    return std::string("its magic is not ") + kMagic;
  }
  const uint32_t length = platform::GetUint32(bytes.data() + kMagicSize);
  const size_t follows = bytes.size() - kHeaderSize;
  if (length < kMinBodySize || length > kMaxBodySize) {
    return "BodyLength " + std::to_string(length) + " is outside " +
           std::to_string(kMinBodySize) + ".." + std::to_string(kMaxBodySize);
  }
  if (length != follows) {
    return "BodyLength " + std::to_string(length) + ", but " +
           std::to_string(follows) + " bytes follow the header";
  }
  const uint32_t stored = platform::GetUint32(bytes.data() + kMagicSize + 4);
  if (stored != platform::Crc32(bytes.data() + kHeaderSize, length)) {
    return "Checksum " + Hex(stored) + " does not match the body";
  }
  return "the body does not parse (its flags, a text beyond its bound, "
         "addresses out of order or bytes left over)";
}

}  // namespace

FireAlarmFile ReadFireAlarmFile(const std::string& directory) {
  FireAlarmFile file;
  file.name = fire_alarm::kFileName;
  file.path = InDirectory(directory, fire_alarm::kFileName);
  platform::File reading = platform::File::OpenForRead(file.path);
  if (!reading.valid()) {
    if (errno != ENOENT) Unreadable("open", &file);
    return file;
  }
  Stat(file.path, &file.size, &file.written);
  // One byte beyond the largest whole file tells a longer one apart.
  std::string bytes(fire_alarm::kHeaderSize + fire_alarm::kMaxBodySize + 1,
                    '\0');
  errno = 0;
  const size_t got = reading.Read(&bytes[0], bytes.size());
  if (got < bytes.size() && errno != 0) {
    Unreadable("read", &file);
    return file;
  }
  bytes.resize(got);
  if (got == fire_alarm::kHeaderSize + fire_alarm::kMaxBodySize + 1) {
    file.state = KeptState::kDamaged;
    file.fault = "longer than any answers file (" + std::to_string(got - 1) +
                 " bytes at most)";
  } else if (fire_alarm::Decode(bytes.data(), bytes.size(), &file.answers)) {
    file.state = KeptState::kWhole;
  } else {
    file.state = KeptState::kDamaged;
    file.fault = FireAlarmFault(bytes);
  }
  return file;
}

KeptFiles ReadKeptFiles(const std::string& directory) {
  KeptFiles kept;
  kept.outbox = ReadPlaysFile(directory, PlaysFileKind::kOutbox);
  kept.rejected = ReadPlaysFile(directory, PlaysFileKind::kRejected);
  kept.fire_alarm = ReadFireAlarmFile(directory);
  // As the outbox's load checks it: the rejected file's last whole entry.
  const KeptEntry* first = kept.outbox.OldestUnsent();
  const KeptEntry* last = nullptr;
  for (const KeptEntry& entry : kept.rejected.entries) {
    if (entry.kind == KeptEntry::kPlay || entry.kind == KeptEntry::kSentMark ||
        entry.kind == KeptEntry::kStrayMark) {
      last = &entry;
    }
  }
  kept.outbox.first_unsent_set_aside = first != nullptr && last != nullptr &&
                                       last->kind == KeptEntry::kPlay &&
                                       last->play == first->play;
  return kept;
}

const char* KeptStateName(KeptState state) {
  switch (state) {
    case KeptState::kAbsent:
      return "absent";
    case KeptState::kWhole:
      return "whole";
    case KeptState::kDamaged:
      return "damaged";
    case KeptState::kUnreadable:
      break;
  }
  return "unreadable";
}

}  // namespace tools
}  // namespace rondel
