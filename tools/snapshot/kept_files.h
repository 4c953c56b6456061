// The files the library keeps in the snapshot directory besides the nine
// tables, read as the library reads them and never written:
//   PlayRecords.outbox    plays kept while the database could not be reached
//                         (records/outbox_format.h, records/outbox.h)
//   PlayRecords.rejected  plays the server refused, set aside
//                         (records/rejected_plays.h)
//   FireAlarm.answers     the fire alarm's remembered answers
//                         (playback/fire_alarm_memory.h)
// Entries are decoded, and damaged stretches found, by the library's own
// decoder and scanner (records/entry_scan.h); the answers by
// fire_alarm::Decode. Texts stay the bytes stored (code page 936 as the host
// passed them); converting them is the viewer's business.
//
//   const KeptFiles kept = ReadKeptFiles(directory);
//   if (kept.outbox.state == KeptState::kUnreadable) Say(kept.outbox.error);
//   Say(kept.outbox.unsent(), "plays wait for the database");
//
// Each call opens and reads the files on its own and keeps nothing: calls may
// run on several threads at once.
#ifndef RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_H_
#define RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "playback/fire_alarm_memory.h"
#include "records/outbox_format.h"

namespace rondel {
namespace tools {

enum class KeptState {
  kAbsent,      // no file: nothing kept
  kWhole,       // read to its end; at most a torn end (torn_bytes) after it
  kDamaged,     // readable, but bytes in it are skipped or the file ignored
  kUnreadable,  // could not be opened or read: `error` says why
};

// One item of a plays file, in file order.
struct KeptEntry {
  enum Kind {
    kPlay,
    kSentMark,   // the first `sent` plays of the file have been sent
    kStrayMark,  // a mark no writer makes (of plays never kept, fewer than an
                 // earlier mark, or in the rejected file): skipped as damage
    kDamaged,    // bytes that do not decode, a whole entry after them
    kTornTail,   // bytes that do not decode up to the end: a write cut short
  };
  Kind kind = kPlay;
  uint64_t offset = 0;     // in the file
  uint64_t size = 0;       // bytes, header included
  PlayRecord play;         // kPlay
  uint32_t sent = 0;       // kSentMark, kStrayMark: the count the mark carries
  bool play_sent = false;  // kPlay in the outbox: a mark covers it
};

// A file beside a kept one holding bytes the library set aside from it.
struct AsideFile {
  std::string name;  // "PlayRecords.outbox.damaged", ...
  uint64_t size = 0;
};

enum class PlaysFileKind { kOutbox, kRejected };

// PlayRecords.outbox or PlayRecords.rejected.
struct PlaysFile {
  PlaysFileKind kind = PlaysFileKind::kOutbox;
  std::string name;  // the file name, without the directory
  std::string path;
  KeptState state = KeptState::kAbsent;
  std::string error;  // kUnreadable: the step, the file, the system's text
  bool other_magic = false;  // kDamaged: not a file of this kind at all; the
                             // library sets it aside whole
  std::string magic;         // with other_magic: its first (up to 8) bytes
  uint64_t size = 0;
  int64_t written = 0;  // last modified, seconds since 1970 UTC; 0: absent
  std::vector<KeptEntry> entries;
  uint32_t plays = 0;
  // Outbox: of them, sent as the library counts them (a mark behind a damaged
  // stretch counts it as holding as many plays as its bytes could).
  uint32_t sent = 0;
  uint64_t damaged_bytes = 0;  // kDamaged and kStrayMark items, or the whole
                               // file of another magic
  uint64_t torn_bytes = 0;     // the torn end, cut off before the next append
  // Outbox: its first unsent play is the rejected file's last entry (set aside
  // just before a stop): the library's next load lets it leave unsent.
  bool first_unsent_set_aside = false;
  std::vector<AsideFile> aside;  // set aside from this file earlier

  uint32_t unsent() const { return plays - sent; }
  // The first and last unsent plays (every play of the rejected file), in the
  // order kept; null when there is none.
  const KeptEntry* OldestUnsent() const;
  const KeptEntry* NewestUnsent() const;
  uint64_t aside_bytes() const;
};

// FireAlarm.answers.
struct FireAlarmFile {
  std::string name;
  std::string path;
  KeptState state = KeptState::kAbsent;
  std::string error;  // kUnreadable
  std::string fault;  // kDamaged: the check that fails; nothing is served
  uint64_t size = 0;
  int64_t written = 0;
  fire_alarm::Answers answers;  // kWhole: what is remembered
};

struct KeptFiles {
  PlaysFile outbox;
  PlaysFile rejected;
  FireAlarmFile fire_alarm;
};

// `directory` with or without its trailing '/'.
PlaysFile ReadPlaysFile(const std::string& directory, PlaysFileKind kind);
FireAlarmFile ReadFireAlarmFile(const std::string& directory);
// All three, and the outbox's first_unsent_set_aside from the rejected file.
KeptFiles ReadKeptFiles(const std::string& directory);

// The state's word as reports show it: "absent", "whole", "damaged",
// "unreadable".
const char* KeptStateName(KeptState state);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_H_
