// diff: two snapshot sets compared record by record (media by id, rooms and
// file servers by address, the records in use) and play list by play list.
//
// A play list's changes are found by matching each media id's k-th occurrence
// in one list with its k-th in the other: the unmatched are removed or added,
// and of the matched, those outside a longest run in the same order moved. It
// costs n log n, so a 100,000-entry user list compares at once.
#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

using snapshot::kTables;

// Items of one kind listed per play list before the rest are only counted.
constexpr size_t kShownPerList = 20;

std::string ShownValue(const char* record, const FieldFormat& field) {
  switch (field.kind) {
    case FieldKind::kInt32:
      return std::to_string(FieldInt(record, field));
    case FieldKind::kText:
      return "\"" + TerminalText(FieldText(record, field), false) + "\"";
    case FieldKind::kFileList: {
      bool terminated = false;
      std::string list = "[";
      for (const std::string& path :
           FileListPaths(record + field.offset, field.size, &terminated)) {
        if (list.size() > 1) list += ", ";
        list += TerminalText(path, false);
      }
      return list + "]";
    }
  }
  return std::string();
}

// One table's records in use, keyed as the library looks them up (the first
// record of a key is the one found).
struct Keyed {
  std::vector<std::string> order;  // keys in table order, first occurrences
  std::map<std::string, const char*> records;
};

Keyed KeyRecords(const SnapshotSet& set, snapshot::Table table,
                 const FieldFormat& key) {
  Keyed keyed;
  for (int32_t i = 0; i < set.InUse(table); ++i) {
    const char* record = set.tables[table].record(i);
    const std::string k = key.kind == FieldKind::kInt32
                              ? std::to_string(FieldInt(record, key))
                              : TerminalText(FieldText(record, key), false);
    if (keyed.records.emplace(k, record).second) keyed.order.push_back(k);
  }
  return keyed;
}

// Adds, removals and changes of one keyed table; true when any.
bool CompareTable(const SnapshotSet& before, const SnapshotSet& after,
                  snapshot::Table table, const char* title,
                  const char* key_name, const char* label_name,
                  std::ostream& out) {
  const std::vector<FieldFormat>& fields = RecordFields(table);
  auto field = [&fields](const char* name) {
    return *std::find_if(fields.begin(), fields.end(), [name](const auto& f) {
      return std::string(f.name) == name;
    });
  };
  const FieldFormat key = field(key_name);
  const FieldFormat label = field(label_name);
  const Keyed old_records = KeyRecords(before, table, key);
  const Keyed new_records = KeyRecords(after, table, key);
  std::vector<std::string> lines;
  int added = 0, removed = 0, changed = 0;
  for (const std::string& k : old_records.order) {
    const char* old_record = old_records.records.at(k);
    const auto now = new_records.records.find(k);
    if (now == new_records.records.end()) {
      ++removed;
      lines.push_back("  - " + k + " " + label.name + " " +
                      ShownValue(old_record, label));
      continue;
    }
    std::string differences;
    for (const FieldFormat& f : fields) {
      const std::string was = ShownValue(old_record, f);
      const std::string is = ShownValue(now->second, f);
      if (was == is) continue;
      differences += (differences.empty() ? "" : "; ") + std::string(f.name) +
                     " " + was + " -> " + is;
    }
    if (!differences.empty()) {
      ++changed;
      lines.push_back("  ~ " + k + ": " + differences);
    }
  }
  for (const std::string& k : new_records.order) {
    if (old_records.records.count(k) != 0) continue;
    ++added;
    lines.push_back("  + " + k + " " + label.name + " " +
                    ShownValue(new_records.records.at(k), label));
  }
  if (lines.empty()) {
    out << title << ": no change\n";
    return false;
  }
  out << title << ": " << added << " added, " << removed << " removed, "
      << changed << " changed\n";
  for (const std::string& line : lines) out << line << "\n";
  return true;
}

// Positions of a longest increasing run of `values` (patience sorting).
std::vector<bool> InLongestRun(const std::vector<size_t>& values) {
  std::vector<size_t> tails;  // indexes into values
  std::vector<size_t> previous(values.size(), SIZE_MAX);
  for (size_t i = 0; i < values.size(); ++i) {
    const auto at = std::lower_bound(
        tails.begin(), tails.end(), values[i],
        [&values](size_t t, size_t v) { return values[t] < v; });
    if (at != tails.begin()) previous[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<bool> kept(values.size(), false);
  for (size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX;
       i = previous[i]) {
    kept[i] = true;
  }
  return kept;
}

// "-ID@i" removed from old position i, "+ID@j" added at new position j,
// "ID@i>j" moved; empty when the lists are equal.
std::string ComparePlayList(const std::vector<int32_t>& before,
                            const std::vector<int32_t>& after) {
  std::unordered_map<int32_t, std::vector<size_t>> positions;  // in `after`
  for (size_t j = after.size(); j-- > 0;) positions[after[j]].push_back(j);
  std::vector<std::string> removed, added, moved;
  std::vector<size_t> matched_old, matched_new;
  std::vector<bool> new_matched(after.size(), false);
  for (size_t i = 0; i < before.size(); ++i) {
    auto& free = positions[before[i]];
    if (free.empty()) {
      removed.push_back("-" + std::to_string(before[i]) + "@" +
                        std::to_string(i));
      continue;
    }
    matched_old.push_back(i);
    matched_new.push_back(free.back());
    new_matched[free.back()] = true;
    free.pop_back();
  }
  for (size_t j = 0; j < after.size(); ++j) {
    if (!new_matched[j]) {
      added.push_back("+" + std::to_string(after[j]) + "@" + std::to_string(j));
    }
  }
  const std::vector<bool> kept = InLongestRun(matched_new);
  for (size_t m = 0; m < matched_old.size(); ++m) {
    if (kept[m]) continue;
    moved.push_back(std::to_string(before[matched_old[m]]) + "@" +
                    std::to_string(matched_old[m]) + ">" +
                    std::to_string(matched_new[m]));
  }
  std::string compact;
  for (const auto* items : {&removed, &added, &moved}) {
    for (size_t n = 0; n < items->size() && n < kShownPerList; ++n) {
      compact += " " + (*items)[n];
    }
    if (items->size() > kShownPerList) {
      compact +=
          " (" + std::to_string(items->size() - kShownPerList) + " more)";
    }
  }
  return compact;
}

}  // namespace

int DiffSnapshots(const std::string& before_directory,
                  const std::string& after_directory, std::ostream& out,
                  std::ostream& err) {
  const SnapshotSet before = ReadSnapshotSet(before_directory);
  const SnapshotSet after = ReadSnapshotSet(after_directory);
  bool unreadable = false;
  for (const auto& [set, directory] :
       {std::make_pair(&before, &before_directory),
        std::make_pair(&after, &after_directory)}) {
    for (const TableFile& file : set->tables) {
      if (file.check.ok) continue;
      err << "rondel-snapshot: " << *directory << ": " << file.check.reason
          << "\n";
      unreadable = true;
    }
  }

  bool differ = false;
  differ |= CompareTable(before, after, snapshot::kMedias, "media", "MediaId",
                         "MediaName", out);
  differ |= CompareTable(before, after, snapshot::kRooms, "rooms",
                         "RoomAddress", "RoomInfo", out);
  differ |= CompareTable(before, after, snapshot::kFileServers, "file servers",
                         "ServerAddress", "FileServerId", out);
  out << "play lists:\n";
  for (int k = snapshot::kAllSequence; k <= snapshot::kUserSequence; ++k) {
    const auto list = static_cast<snapshot::Table>(k);
    const std::vector<int32_t> was = before.Entries(list);
    const std::vector<int32_t> is = after.Entries(list);
    const std::string compact = ComparePlayList(was, is);
    out << "  " << kTables[list].table_name;
    if (compact.empty()) {
      out << ": no change (" << was.size()
          << (was.size() == 1 ? " entry)\n" : " entries)\n");
      continue;
    }
    differ = true;
    out << " (" << was.size() << " -> " << is.size() << " entries):" << compact
        << "\n";
  }
  if (unreadable) return 2;
  return differ ? 1 : 0;
}

}  // namespace tools
}  // namespace rondel
