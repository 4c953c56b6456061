// Gathering: where each file is, the snapshot set through the inspector's own
// reading and verify, the kept files through their model, and the verdict.
#include "status_model.h"

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "catalogue/snapshot_commit.h"
#include "catalogue/snapshot_format.h"
#include "frame/settings.h"
#include "platform/file_info.h"
#include "platform/paths.h"
#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

int64_t WrittenTime(const std::string& path) {
  platform::FileInfo info;
  return platform::GetFileInfo(path, &info) ? info.written : 0;
}

}  // namespace

StatusSources SourcesFromEnvironment() {
  StatusSources sources;
  sources.settings_file = SettingsFilePath();
  sources.settings_from = Environment("RONDEL_SETTINGS_FILE")
                              ? "RONDEL_SETTINGS_FILE"
                              : "the venue's fixed path";
  if (const char* directory = Environment("RONDEL_SNAPSHOT_DIR")) {
    sources.snapshot_dir = directory;
    sources.snapshot_from = "RONDEL_SNAPSHOT_DIR";
  } else {
    sources.snapshot_dir = snapshot::kDirectoryName;
    sources.snapshot_from =
        "working directory; the library's is the one beside the host program";
  }
  if (const char* log = Environment("RONDEL_LOG_FILE")) {
    sources.log_file = log;
    sources.log_from = "RONDEL_LOG_FILE";
  } else {
    sources.log_file = "rondel.log";
    sources.log_from = "working directory";
  }
  return sources;
}

SnapshotStatus ReadSnapshotStatus(const std::string& directory,
                                  const std::string& from) {
  SnapshotStatus status;
  status.directory = directory;
  if (!status.directory.empty() && status.directory.back() != '/') {
    status.directory += '/';
  }
  status.from = from;
  platform::FileInfo info;
  status.exists =
      platform::GetFileInfo(status.directory, &info) && info.directory;
  status.writable =
      status.exists && platform::DirectoryWritable(status.directory);
  if (!status.exists) return status;
  // A committed replacement's set is the one a start loads (and finishes).
  status.replacement_pending = snapshot::ReplacementCommitted(status.directory);
  const SnapshotSet set = ReadSnapshotSet(status.directory);
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    const TableFile& file = set.tables[k];
    status.tables.push_back(TableStatus{snapshot::kTables[k].file_name,
                                        file.check.ok,
                                        file.check.ok ? file.count() : 0});
    const int64_t written = WrittenTime(snapshot::ServedTablePath(
        status.directory, static_cast<snapshot::Table>(k),
        status.replacement_pending));
    if (written > status.written) status.written = written;
  }
  status.loads = set.Loads();
  std::ostringstream report;
  VerifySnapshots(status.directory, report);
  std::string line;
  std::istringstream lines(report.str());
  while (std::getline(lines, line)) {
    if (line.rfind("verdict  ", 0) == 0) {
      status.verify_verdict = line.substr(9);
    } else if (line.rfind("ok", 0) != 0) {
      status.verify_findings.push_back(line);
    }
  }
  return status;
}

VenueStatus GatherStatus(const StatusSources& sources) {
  VenueStatus status;
  status.now = static_cast<int64_t>(std::time(nullptr));
  status.settings =
      ReadSettingsStatus(sources.settings_file, sources.settings_from);
  status.database =
      CheckDatabase(status.settings, sources.login_timeout_seconds);
  status.snapshots =
      ReadSnapshotStatus(sources.snapshot_dir, sources.snapshot_from);
  if (status.snapshots.exists) {
    status.kept = ReadKeptFiles(status.snapshots.directory);
  }
  status.log = ReadLogStatus(sources.log_file, sources.log_from);
  status.verdict = status.database.logged_in ? Verdict::kDatabase
                   : status.snapshots.loads  ? Verdict::kOffline
                                             : Verdict::kNothing;
  return status;
}

int StatusExitCode(const VenueStatus& status) {
  if (!status.settings.readable) return kStatusUsage;
  switch (status.verdict) {
    case Verdict::kDatabase:
      return 0;
    case Verdict::kOffline:
      return 1;
    case Verdict::kNothing:
      break;
  }
  return 2;
}

}  // namespace tools
}  // namespace rondel
