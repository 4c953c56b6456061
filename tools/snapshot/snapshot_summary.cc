// summary: what a snapshot set holds, as the library would use it.
#include <cstdio>
#include <string>

#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

using snapshot::kTables;

std::string Plural(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The reason without its leading "<file name>: ".
std::string Fault(const snapshot::TableCheck& check) {
  const size_t colon = check.reason.find(": ");
  return colon == std::string::npos ? check.reason
                                    : check.reason.substr(colon + 2);
}

std::string TableLine(const SnapshotSet& set, snapshot::Table table) {
  const TableFile& file = set.tables[table];
  if (!file.check.ok) return "not loadable: " + Fault(file.check);
  const TableRecords stored = set.StoredCounters();
  const char* counter = nullptr;
  int32_t value = 0;
  switch (table) {
    case snapshot::kTableRecords:
      return Plural(file.count(), "record", "records");
    case snapshot::kRooms:
      counter = "RoomCount";
      value = stored.RoomCount;
      break;
    case snapshot::kMedias:
      counter = "MediaCount";
      value = stored.MediaCount;
      break;
    case snapshot::kFileServers:
      counter = "FileServerCount";
      value = stored.FileServerCount;
      break;
    default: {
      const int32_t played = PlayedLength(set.Entries(table));
      return Plural(file.count(), "entry", "entries") + ", " +
             std::to_string(played) + " played";
    }
  }
  std::string line = Plural(file.count(), "record", "records") + ", " +
                     counter + " " + std::to_string(value);
  if (set.InUse(table) != value) {
    line += " (" + std::to_string(set.InUse(table)) + " in use)";
  }
  return line;
}

}  // namespace

int SummarizeSnapshots(const std::string& directory, std::ostream& out) {
  const SnapshotSet set = ReadSnapshotSet(directory);
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%-19s", kTables[k].file_name);
    out << name << TableLine(set, static_cast<snapshot::Table>(k)) << "\n";
  }

  int32_t classes[4] = {};  // other, film, song, ad
  for (const MediaRecord& m : set.Medias()) {
    ++classes[m.Class >= kFilm && m.Class <= kAd ? m.Class : 0];
  }
  out << "media by class: film " << classes[kFilm] << ", song "
      << classes[kSong] << ", ad " << classes[kAd] << ", other " << classes[0]
      << "\n";

  // As the library finds a file server by address: the first record, in table
  // order, whose address matches.
  out << "file-server identity by address (first match wins):\n";
  const std::vector<FileServerRecord> servers = set.FileServers();
  for (size_t i = 0; i < servers.size(); ++i) {
    const std::string address =
        FieldText(servers[i].ServerAddress, sizeof servers[i].ServerAddress);
    if (address.empty()) {
      out << "  record " << i << ": empty address, never this server\n";
      continue;
    }
    size_t first = 0;
    while (FieldText(servers[first].ServerAddress,
                     sizeof servers[first].ServerAddress) != address) {
      ++first;
    }
    out << "  " << TerminalText(address, false) << " -> FileServerId "
        << servers[first].FileServerId << ", GroupId "
        << servers[first].GroupId;
    if (first != i)
      out << " (record " << first << "; record " << i << " unused)";
    out << "\n";
  }

  if (set.Loads()) {
    out << "the library loads this set\n";
  } else {
    out << "the library refuses this set: "
        << set.tables[set.FirstFailure()].check.reason << "\n";
  }
  SummarizeKeptFiles(directory, out);
  return 0;
}

}  // namespace tools
}  // namespace rondel
