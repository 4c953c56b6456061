// `rondel status --json`: the model as one object. Keys are stable; a key is
// present with null rather than left out. Texts from the venue's files are
// UTF-8 with every byte kept (EscapedText); times are ISO 8601 UTC.
#include <ctime>
#include <nlohmann/json.hpp>

#include "kept_files_view.h"
#include "snapshot_view.h"
#include "status_render.h"

namespace rondel {
namespace tools {

namespace {

using nlohmann::json;

json Time(int64_t seconds) {
  if (seconds == 0) return nullptr;
  const time_t at = static_cast<time_t>(seconds);
  struct tm utc;
  gmtime_r(&at, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

json Play(const PlayRecord& play) {
  return {{"media_id", play.media_id},
          {"room_address", EscapedText(play.room_address)},
          {"begin_time", EscapedText(play.begin_time)},
          {"end_time", EscapedText(play.end_time)},
          {"song_type", play.song_type}};
}

json Database(const DatabaseStatus& database) {
  json messages = json::array();
  for (const ServerMessage& m : database.messages) {
    messages.push_back({{"number", m.number},
                        {"class", m.severity},
                        {"state", m.state},
                        {"text", EscapedText(m.text)}});
  }
  return {
      {"target", database.target},
      {"database", EscapedText(database.database)},
      {"user", EscapedText(database.user)},
      {"reachable", database.reached},
      {"logged_in", database.logged_in},
      {"connect_error",
       database.reached ? json(nullptr) : json(database.connect_error)},
      {"server_messages", messages},
      {"login_ms", database.reached ? json(database.login_ms) : json(nullptr)}};
}

json Settings(const SettingsStatus& settings) {
  json values = json::array();
  for (const SettingValue& v : settings.values) {
    values.push_back({{"section", v.section},
                      {"key", v.key},
                      {"value", EscapedText(v.shown)},
                      {"from_file", v.from_file}});
  }
  json warnings = json::array();
  for (const std::string& w : settings.warnings) {
    warnings.push_back(EscapedText(w));
  }
  return {{"file", settings.file},
          {"from", settings.from},
          {"readable", settings.readable},
          {"error", settings.readable ? json(nullptr) : json(settings.error)},
          {"values", values},
          {"warnings", warnings}};
}

json Snapshots(const SnapshotStatus& snapshots) {
  json tables = json::object();
  for (const TableStatus& t : snapshots.tables) {
    tables[t.file] = t.ok ? json(t.records) : json(nullptr);
  }
  return {{"directory", snapshots.directory},
          {"from", snapshots.from},
          {"exists", snapshots.exists},
          {"writable", snapshots.writable},
          {"written", Time(snapshots.written)},
          {"records", tables},
          {"loads", snapshots.loads},
          {"verify", snapshots.verify_verdict},
          {"verify_findings", snapshots.verify_findings},
          {"replacement_pending", snapshots.replacement_pending}};
}

json Plays(const KeptFiles& kept) {
  const PlaysFile& outbox = kept.outbox;
  const KeptEntry* oldest = outbox.OldestUnsent();
  const KeptEntry* newest = outbox.NewestUnsent();
  json set_aside = json::array();
  for (const KeptEntry& entry : kept.rejected.entries) {
    if (entry.kind == KeptEntry::kPlay) set_aside.push_back(Play(entry.play));
  }
  return {{"outbox", KeptStateName(outbox.state)},
          {"outbox_error",
           outbox.error.empty() ? json(nullptr) : json(outbox.error)},
          {"kept", outbox.unsent()},
          {"oldest", oldest ? Play(oldest->play) : json(nullptr)},
          {"newest", newest ? Play(newest->play) : json(nullptr)},
          {"damaged_bytes", outbox.damaged_bytes},
          {"set_aside_file", KeptStateName(kept.rejected.state)},
          {"set_aside", set_aside},
          {"damaged_bytes_kept_aside",
           outbox.aside_bytes() + kept.rejected.aside_bytes()}};
}

json FireAlarm(const FireAlarmFile& file) {
  const bool whole = file.state == KeptState::kWhole;
  const fire_alarm::Answers& a = file.answers;
  return {
      {"answers", KeptStateName(file.state)},
      {"rooms", whole ? json(a.files.size()) : json(nullptr)},
      {"default", whole && a.default_file ? json(EscapedText(*a.default_file))
                                          : json(nullptr)},
      {"page", whole && a.page ? json(EscapedText(*a.page)) : json(nullptr)},
      {"written", Time(file.written)}};
}

json Log(const LogStatus& log) {
  json problems = json::array();
  for (const LogLine& line : log.problems) {
    problems.push_back({{"level", line.level},
                        {"text", EscapedText(line.text)},
                        {"count", line.count},
                        {"first", line.first},
                        {"last", line.last}});
  }
  return {{"file", log.file},
          {"from", log.from},
          {"exists", log.exists},
          {"size", log.size},
          {"last_change", log.last_change.empty()
                              ? json(nullptr)
                              : json(EscapedText(log.last_change))},
          {"problems", problems}};
}

}  // namespace

void PrintStatusJson(const VenueStatus& status, std::ostream& out) {
  const json report = {{"verdict", VerdictName(status.verdict)},
                       {"summary", VerdictLine(status)},
                       {"exit_status", StatusExitCode(status)},
                       {"gathered", Time(status.now)},
                       {"database", Database(status.database)},
                       {"settings", Settings(status.settings)},
                       {"snapshots", Snapshots(status.snapshots)},
                       {"plays", Plays(status.kept)},
                       {"fire_alarm", FireAlarm(status.kept.fire_alarm)},
                       {"log", Log(status.log)}};
  // A path or a system text that is not UTF-8 still prints.
  out << report.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace tools
}  // namespace rondel
