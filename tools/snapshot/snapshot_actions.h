// The inspector's four actions over snapshot directories, each writing its
// report to `out` (and trouble to `err`) and answering the command's exit
// status. Each reads the files through ReadSnapshotSet (snapshot_view.h), so
// through the loader's own checks.
#ifndef RONDEL_TOOLS_SNAPSHOT_ACTIONS_H_
#define RONDEL_TOOLS_SNAPSHOT_ACTIONS_H_

#include <ostream>
#include <string>
#include <vector>

namespace rondel {
namespace tools {

// Every file's checks ("ok" or "error" with the reason), then the set's
// consistency findings ("warning": the library loads the set anyway), then a
// verdict. 0 when the library would load all nine files, 1 when it would not.
int VerifySnapshots(const std::string& directory, std::ostream& out);

// Records per table, media per class, play-list lengths as background play
// counts them, the identity each file-server address would get, and a line
// per kept file (SummarizeKeptFiles). 0.
int SummarizeSnapshots(const std::string& directory, std::ostream& out);

enum class DumpFormat { kTable, kCsv, kJson };

// Every record of one table with every field; texts converted from code page
// 936 unless `raw`. 0, or 1 when the table's file does not pass its checks
// (the reason on `err`).
int DumpSnapshotTable(const std::string& directory, const std::string& table,
                      DumpFormat format, bool raw, std::ostream& out,
                      std::ostream& err);

// Media, rooms and file servers added, removed and changed, and the play lists
// compared. 0 when the sets hold the same, 1 when they differ, 2 when a file
// of either could not be read (the differences of what was read still shown).
int DiffSnapshots(const std::string& before, const std::string& after,
                  std::ostream& out, std::ostream& err);

// The files kept beside the tables (kept_files.h), by file name in any case.
enum class KeptFile { kOutbox, kRejected, kFireAlarm, kNone };
KeptFile FindKeptFile(const std::string& name);

// One line per kept file, as `summary DIR` ends.
void SummarizeKeptFiles(const std::string& directory, std::ostream& out);
// One kept file's line, or with `json` its whole model as one object. 0.
int SummarizeKeptFile(const std::string& directory, KeptFile which, bool json,
                      std::ostream& out);
// What in one kept file is damaged and where ("error": skipped or ignored by
// the library; "warning": read anyway), then a verdict; with `json` the
// summary's object, whose findings are these. 0 when the file is whole or
// absent, 1 when it is damaged or cannot be read.
int VerifyKeptFile(const std::string& directory, KeptFile which, bool json,
                   std::ostream& out);
// Every entry of one kept file: plays, sent marks and damaged stretches with
// their offsets, or the fire alarm's answers. CSV holds the plays alone, one
// a row. Texts are code page 936 converted with every byte kept (EscapedText
// of snapshot_view.h) unless `raw`. 0, or 1 when the file is damaged or
// cannot be read (the reason on `err`).
int DumpKeptFile(const std::string& directory, KeptFile which,
                 DumpFormat format, bool raw, std::ostream& out,
                 std::ostream& err);

// The command line without the program name: parses it and runs one action;
// usage errors answer 2.
int RunSnapshotTool(const std::vector<std::string>& arguments,
                    std::ostream& out, std::ostream& err);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_SNAPSHOT_ACTIONS_H_
