// The inspector's command line: one action and its arguments.
#include <string>
#include <vector>

#include "snapshot_actions.h"

namespace rondel {
namespace tools {

namespace {

constexpr char kUsage[] =
    "usage: rondel-snapshot verify DIR\n"
    "       rondel-snapshot summary DIR\n"
    "       rondel-snapshot dump DIR TABLE [--format table|csv|json] [--raw]\n"
    "       rondel-snapshot diff DIR1 DIR2\n";

constexpr char kHelp[] =
    "\n"
    "Inspects a directory of the library's nine snapshot files "
    "(TABLE_RECORDS,\n"
    "Rooms, Medias, FILE_SERVERS and the five play lists, each NAME.tbl). The\n"
    "files are read through the library's own loader checks; nothing is\n"
    "written.\n"
    "\n"
    "verify DIR   each file's checks as the loader makes them: 'ok' with its\n"
    "             records, or 'error' with the reason (missing file, short\n"
    "             header, bad magic, table name, record size, record count\n"
    "             beyond capacity or negative, records cut short, stored\n"
    "             counters beyond their tables). Errors make the library "
    "refuse\n"
    "             the set. Then 'warning's: what the library loads anyway but\n"
    "             serves oddly (counters that differ from the records in the\n"
    "             files, duplicate media ids or addresses, file lists without\n"
    "             their final empty text, classes outside film/song/ad, texts\n"
    "             without terminator, play-list entries after a zero or "
    "naming\n"
    "             unknown media). Exit 0 when the library would load the "
    "whole\n"
    "             set as it stands, 1 when it would not.\n"
    "summary DIR  records per table (with the stored counters and the records\n"
    "             in use), media per class, play-list lengths counted to the\n"
    "             first zero as background play counts them, and the "
    "file-server\n"
    "             identity (FileServerId, GroupId) each address gets, the "
    "first\n"
    "             matching record winning.\n"
    "dump DIR TABLE\n"
    "             every record of TABLE (a table or file name, any case) with\n"
    "             every field. Texts are code page 936 converted to UTF-8 (a\n"
    "             byte that does not convert shows as U+FFFD); --raw gives "
    "the\n"
    "             bytes as stored (in JSON each byte as one code point, "
    "\\u0080\n"
    "             to \\u00ff for bytes 0x80 to 0xff). File lists are joined by "
    "'|'\n"
    "             in table and CSV form, arrays in JSON. Exit 1 when the file\n"
    "             fails its checks.\n"
    "diff DIR1 DIR2\n"
    "             media (by id), rooms and file servers (by address) added "
    "(+),\n"
    "             removed (-) and changed (~, with each changed field), and "
    "each\n"
    "             play list compared: -ID@i removed from position i, +ID@j "
    "added\n"
    "             at j, ID@i>j moved. Exit 0 when equal, 1 when they differ, "
    "2\n"
    "             when a file of either set could not be read.\n";

int Usage(std::ostream& err) {
  err << kUsage;
  return 2;
}

}  // namespace

int RunSnapshotTool(const std::vector<std::string>& arguments,
                    std::ostream& out, std::ostream& err) {
  if (arguments.empty()) return Usage(err);
  const std::string& action = arguments[0];
  if (action == "--help" || action == "-h" || action == "help") {
    out << kUsage << kHelp;
    return 0;
  }
  if (action == "verify" && arguments.size() == 2) {
    return VerifySnapshots(arguments[1], out);
  }
  if (action == "summary" && arguments.size() == 2) {
    return SummarizeSnapshots(arguments[1], out);
  }
  if (action == "diff" && arguments.size() == 3) {
    return DiffSnapshots(arguments[1], arguments[2], out, err);
  }
  if (action == "dump" && arguments.size() >= 3) {
    DumpFormat format = DumpFormat::kTable;
    bool raw = false;
    for (size_t i = 3; i < arguments.size(); ++i) {
      const std::string& option = arguments[i];
      if (option == "--raw") {
        raw = true;
      } else if (option == "--format" && i + 1 < arguments.size()) {
        const std::string& name = arguments[++i];
        if (name == "table") {
          format = DumpFormat::kTable;
        } else if (name == "csv") {
          format = DumpFormat::kCsv;
        } else if (name == "json") {
          format = DumpFormat::kJson;
        } else {
          return Usage(err);
        }
      } else {
        return Usage(err);
      }
    }
    return DumpSnapshotTable(arguments[1], arguments[2], format, raw, out, err);
  }
  return Usage(err);
}

}  // namespace tools
}  // namespace rondel
