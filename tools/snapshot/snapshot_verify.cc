// verify: the loader's checks file by file (errors: the library refuses the
// set), then what the library loads but serves oddly (warnings).
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

using snapshot::kTables;

// Warnings of one kind beyond this many are counted, not listed: a damaged
// 100,000-entry list would otherwise bury the rest.
constexpr int kShownPerKind = 10;

class Findings {
 public:
  void Warn(const std::string& kind, const std::string& text) {
    ++warnings_;
    if (++per_kind_[kind] <= kShownPerKind)
      lines_.push_back("warning  " + text);
  }
  void Print(std::ostream& out) const {
    for (const std::string& line : lines_) out << line << "\n";
    for (const auto& [kind, count] : per_kind_) {
      if (count > kShownPerKind) {
        out << "warning  " << kind << ": " << count - kShownPerKind
            << " more not shown\n";
      }
    }
  }
  int warnings() const { return warnings_; }

 private:
  std::vector<std::string> lines_;
  std::map<std::string, int> per_kind_;
  int warnings_ = 0;
};

std::string Records(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void CheckCounters(const SnapshotSet& set, Findings& findings) {
  const TableRecords stored = set.StoredCounters();
  if (!set.tables[snapshot::kTableRecords].check.ok) return;
  const struct {
    const char* name;
    int32_t value;
    snapshot::Table table;
  } counters[] = {
      {"RoomCount", stored.RoomCount, snapshot::kRooms},
      {"MediaCount", stored.MediaCount, snapshot::kMedias},
      {"FileServerCount", stored.FileServerCount, snapshot::kFileServers}};
  for (const auto& c : counters) {
    const TableFile& file = set.tables[c.table];
    if (!file.check.ok || file.count() == c.value) continue;
    std::string text = std::string("TABLE_RECORDS.tbl: ") + c.name + " " +
                       std::to_string(c.value) + ", " +
                       kTables[c.table].file_name + " holds " +
                       Records(file.count(), "record", "records") + ": ";
    text += c.value > file.count()
                ? "the library serves " + std::to_string(file.count())
                : "the library serves the first " + std::to_string(c.value);
    findings.Warn("TABLE_RECORDS.tbl counters", text);
  }
}

// Text fields that fill their width without a terminator: lookups cut them.
void CheckTerminators(const SnapshotSet& set, snapshot::Table table,
                      Findings& findings) {
  const TableFile& file = set.tables[table];
  const std::string name = kTables[table].file_name;
  for (int32_t i = 0; i < set.InUse(table); ++i) {
    for (const FieldFormat& field : RecordFields(table)) {
      if (field.kind != FieldKind::kText ||
          FieldText(file.record(i), field).size() < field.size) {
        continue;
      }
      findings.Warn(name + " unterminated texts",
                    name + ": record " + std::to_string(i) + ": " + field.name +
                        " fills its " + std::to_string(field.size) +
                        " bytes without a terminator");
    }
  }
}

// Records whose key a record before them already has: lookups answer the
// first.
// `keys` name each record's key in words ("media id 110").
void CheckDuplicates(const std::vector<std::string>& keys,
                     snapshot::Table table, Findings& findings) {
  const std::string name = kTables[table].file_name;
  std::unordered_map<std::string, size_t> first;
  for (size_t i = 0; i < keys.size(); ++i) {
    const auto [at, added] = first.emplace(keys[i], i);
    if (added) continue;
    findings.Warn(name + " duplicates",
                  name + ": " + keys[i] + " in records " +
                      std::to_string(at->second) + " and " + std::to_string(i) +
                      ": lookups answer record " + std::to_string(at->second));
  }
}

void CheckMedias(const SnapshotSet& set, Findings& findings) {
  const std::vector<MediaRecord> medias = set.Medias();
  std::vector<std::string> ids;
  for (size_t i = 0; i < medias.size(); ++i) {
    const MediaRecord& m = medias[i];
    ids.push_back("media id " + std::to_string(m.MediaId));
    const std::string where = "Medias.tbl: record " + std::to_string(i) +
                              " (media " + std::to_string(m.MediaId) + "): ";
    bool terminated = false;
    FileListPaths(m.FileList, sizeof m.FileList, &terminated);
    if (!terminated) {
      findings.Warn("Medias.tbl file lists",
                    where + "file list does not end in an empty text");
    }
    if (m.Class != kFilm && m.Class != kSong && m.Class != kAd) {
      findings.Warn(
          "Medias.tbl classes",
          where + "Class " + std::to_string(m.Class) + ", in no class index");
    }
  }
  CheckDuplicates(ids, snapshot::kMedias, findings);
}

void CheckAddresses(const SnapshotSet& set, Findings& findings) {
  std::vector<std::string> rooms;
  for (const RoomRecord& r : set.Rooms()) {
    rooms.push_back(
        "address " +
        TerminalText(FieldText(r.RoomAddress, sizeof r.RoomAddress), true));
  }
  CheckDuplicates(rooms, snapshot::kRooms, findings);
  std::vector<std::string> servers;
  for (const FileServerRecord& s : set.FileServers()) {
    servers.push_back(
        "address " +
        TerminalText(FieldText(s.ServerAddress, sizeof s.ServerAddress), true));
  }
  CheckDuplicates(servers, snapshot::kFileServers, findings);
}

void CheckPlayLists(const SnapshotSet& set, Findings& findings) {
  std::unordered_set<int32_t> media;
  for (const MediaRecord& m : set.Medias()) {
    const int32_t id = m.MediaId;  // packed: never bind a reference to it
    media.insert(id);
  }
  for (int k = snapshot::kAllSequence; k <= snapshot::kUserSequence; ++k) {
    const auto list = static_cast<snapshot::Table>(k);
    const std::string name = kTables[list].file_name;
    const std::vector<int32_t> entries = set.Entries(list);
    const int32_t played = PlayedLength(entries);
    if (played < static_cast<int32_t>(entries.size())) {
      const int32_t after = static_cast<int32_t>(entries.size()) - played - 1;
      findings.Warn(name + " zeros",
                    name + ": entry " + std::to_string(played) +
                        " is 0: background play stops there (" +
                        Records(after, "entry", "entries") +
                        " after it never played)");
    }
    for (int32_t i = 0; i < played; ++i) {
      if (media.count(entries[i]) != 0) continue;
      findings.Warn(name + " unknown media",
                    name + ": entry " + std::to_string(i) + " names media " +
                        std::to_string(entries[i]) + ", not in Medias.tbl");
    }
  }
}

}  // namespace

int VerifySnapshots(const std::string& directory, std::ostream& out) {
  const SnapshotSet set = ReadSnapshotSet(directory);
  int errors = 0;
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    const TableFile& file = set.tables[k];
    if (file.check.ok) {
      const bool play_list = k >= snapshot::kAllSequence;
      out << "ok       " << kTables[k].file_name << ": "
          << Records(file.count(), play_list ? "entry" : "record",
                     play_list ? "entries" : "records")
          << "\n";
    } else {
      ++errors;
      out << "error    " << file.check.reason << "\n";
    }
  }
  Findings findings;
  CheckCounters(set, findings);
  CheckTerminators(set, snapshot::kRooms, findings);
  CheckTerminators(set, snapshot::kMedias, findings);
  CheckTerminators(set, snapshot::kFileServers, findings);
  CheckMedias(set, findings);
  CheckAddresses(set, findings);
  CheckPlayLists(set, findings);
  findings.Print(out);

  const std::string counts =
      " (" + Records(errors, "error", "errors") + ", " +
      Records(findings.warnings(), "warning", "warnings") + ")";
  if (set.Loads()) {
    out << "verdict  the library loads this set" << counts << "\n";
    return 0;
  }
  out << "verdict  the library refuses this set: its load stops at "
      << kTables[set.FirstFailure()].file_name << counts << "\n";
  return 1;
}

}  // namespace tools
}  // namespace rondel
