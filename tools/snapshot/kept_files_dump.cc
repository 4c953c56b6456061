// dump of a kept file: every entry of a plays file with its offset (CSV: the
// plays alone, for entering by hand), or the fire alarm's answers.
#include <string>
#include <vector>

#include "kept_files.h"
#include "kept_files_view.h"
#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

void DumpPlays(const PlaysFile& file, DumpFormat format, bool raw,
               std::ostream& out) {
  const bool outbox = IsOutbox(file);
  if (format == DumpFormat::kCsv) {
    // Plays only, one a row, for entering them by hand.
    out << "MediaId,RoomAddress,BeginTime,EndTime,SongType"
        << (outbox ? ",Sent" : "") << "\r\n";
    for (const KeptEntry& e : file.entries) {
      if (e.kind != KeptEntry::kPlay) continue;
      out << e.play.media_id << "," << CsvField(Shown(e.play.room_address, raw))
          << "," << CsvField(Shown(e.play.begin_time, raw)) << ","
          << CsvField(Shown(e.play.end_time, raw)) << "," << e.play.song_type;
      if (outbox) out << (e.play_sent ? ",yes" : ",no");
      out << "\r\n";
    }
    return;
  }
  if (format == DumpFormat::kJson) {
    out << "{\"file\":" << JsonString(file.name) << ",\"entries\":[";
    bool first = true;
    for (const KeptEntry& e : file.entries) {
      out << (first ? "\n" : ",\n") << "{\"offset\":" << e.offset
          << ",\"size\":" << e.size << ",\"entry\":";
      first = false;
      switch (e.kind) {
        case KeptEntry::kPlay:
          out << "\"play\"," << JsonPlay(e.play, raw);
          if (outbox) out << ",\"sent\":" << (e.play_sent ? "true" : "false");
          break;
        case KeptEntry::kSentMark:
          out << "\"sent mark\",\"Sent\":" << e.sent;
          break;
        case KeptEntry::kStrayMark:
          out << "\"stray sent mark\",\"Sent\":" << e.sent;
          break;
        case KeptEntry::kDamaged:
          out << "\"damaged\"";
          break;
        case KeptEntry::kTornTail:
          out << "\"torn end\"";
          break;
      }
      out << "}";
    }
    out << "\n]}\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {
      {"Offset", "Entry", "MediaId", "RoomAddress", "BeginTime", "EndTime",
       "SongType", "State"}};
  for (const KeptEntry& e : file.entries) {
    const std::string offset = std::to_string(e.offset);
    const std::string bytes = Plural(e.size, "byte", "bytes");
    switch (e.kind) {
      case KeptEntry::kPlay:
        rows.push_back(
            {offset, "play", std::to_string(e.play.media_id),
             Shown(e.play.room_address, raw), Shown(e.play.begin_time, raw),
             Shown(e.play.end_time, raw), std::to_string(e.play.song_type),
             outbox ? (e.play_sent ? "sent" : "unsent") : "set aside"});
        break;
      case KeptEntry::kSentMark:
        rows.push_back({offset, "sent mark", "", "", "", "", "",
                        "first " + std::to_string(e.sent) + " sent"});
        break;
      case KeptEntry::kStrayMark:
        rows.push_back({offset, "sent mark", "", "", "", "", "",
                        std::to_string(e.sent) + ": skipped"});
        break;
      case KeptEntry::kDamaged:
        rows.push_back(
            {offset, "damaged", "", "", "", "", "", bytes + " skipped"});
        break;
      case KeptEntry::kTornTail:
        rows.push_back(
            {offset, "torn end", "", "", "", "", "", bytes + " cut off"});
        break;
    }
  }
  PrintAligned(rows, out);
}

void DumpFireAlarm(const FireAlarmFile& file, DumpFormat format, bool raw,
                   std::ostream& out) {
  const fire_alarm::Answers& a = file.answers;
  if (format == DumpFormat::kJson) {
    out << "{\"file\":" << JsonString(file.name) << ",\"default\":"
        << (a.default_file ? JsonText(*a.default_file, raw) : "null")
        << ",\"page\":" << (a.page ? JsonText(*a.page, raw) : "null")
        << ",\"files\":[";
    bool first = true;
    for (const auto& [address, file_name] : a.files) {
      out << (first ? "\n" : ",\n") << "{\"Address\":" << JsonText(address, raw)
          << ",\"FileName\":" << JsonText(file_name, raw) << "}";
      first = false;
    }
    out << "\n]}\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {{"Step", "Address", "Answer"}};
  if (a.default_file)
    rows.push_back({"default", "", Shown(*a.default_file, raw)});
  if (a.page) rows.push_back({"page", "", Shown(*a.page, raw)});
  for (const auto& [address, file_name] : a.files) {
    rows.push_back({"file", Shown(address, raw), Shown(file_name, raw)});
  }
  if (format == DumpFormat::kTable) return PrintAligned(rows, out);
  for (const auto& row : rows) {
    out << CsvField(row[0]) << "," << CsvField(row[1]) << ","
        << CsvField(row[2]) << "\r\n";
  }
}

}  // namespace

int DumpKeptFile(const std::string& directory, KeptFile which,
                 DumpFormat format, bool raw, std::ostream& out,
                 std::ostream& err) {
  const KeptFiles kept = ReadKeptFiles(directory);
  std::string name, trouble;
  KeptState state;
  if (which == KeptFile::kFireAlarm) {
    DumpFireAlarm(kept.fire_alarm, format, raw, out);
    name = kept.fire_alarm.name;
    state = kept.fire_alarm.state;
    trouble = state == KeptState::kDamaged ? kept.fire_alarm.fault
                                           : kept.fire_alarm.error;
  } else {
    const PlaysFile& file =
        which == KeptFile::kOutbox ? kept.outbox : kept.rejected;
    DumpPlays(file, format, raw, out);
    name = file.name;
    state = file.state;
    trouble = state == KeptState::kDamaged
                  ? Plural(file.damaged_bytes, "byte", "bytes") +
                        " damaged (verify says where)"
                  : file.error;
  }
  if (state == KeptState::kAbsent) {
    err << "rondel-snapshot: " << name << ": absent, nothing kept\n";
  } else if (Failed(state)) {
    err << "rondel-snapshot: " << name << ": " << trouble << "\n";
  }
  return Failed(state) ? 1 : 0;
}

}  // namespace tools
}  // namespace rondel
