// The inspector's command line: one action and its arguments.
#include <string>
#include <vector>

#include "snapshot_actions.h"

namespace rondel {
namespace tools {

namespace {

constexpr char kUsage[] =
    "usage: rondel-snapshot verify DIR [FILE] [--json]\n"
    "       rondel-snapshot summary DIR [FILE] [--json]\n"
    "       rondel-snapshot dump DIR TABLE|FILE [--format table|csv|json] "
    "[--raw]\n"
    "       rondel-snapshot diff DIR1 DIR2\n"
    "       rondel-snapshot --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Inspects a directory of the library's nine snapshot files "
    "(TABLE_RECORDS,\n"
    "Rooms, Medias, FILE_SERVERS and the five play lists, each NAME.tbl). The\n"
    "files are read through the library's own loader checks; nothing is\n"
    "written. FILE names one of the files the library keeps beside them:\n"
    "PlayRecords.outbox (plays kept while the database could not be reached,\n"
    "with sent marks), PlayRecords.rejected (plays the server refused, set\n"
    "aside) or FireAlarm.answers (the fire alarm's remembered answers); they\n"
    "are read with the library's own decoders.\n"
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
    "verify DIR FILE\n"
    "             what in FILE is damaged and where: 'error' for bytes the\n"
    "             library skips (with their offset and size) or a file it\n"
    "             ignores, 'warning' for what it reads anyway (a write cut\n"
    "             short at the end, bytes set aside earlier in FILE.damaged).\n"
    "             Exit 0 when FILE is whole or absent, 1 when it is damaged "
    "or\n"
    "             cannot be read.\n"
    "summary DIR  records per table (with the stored counters and the records\n"
    "             in use), media per class, play-list lengths counted to the\n"
    "             first zero as background play counts them, and the "
    "file-server\n"
    "             identity (FileServerId, GroupId) each address gets, the "
    "first\n"
    "             matching record winning; then a line per kept file.\n"
    "summary DIR FILE\n"
    "             FILE's line: plays kept, sent and unsent with the oldest "
    "and\n"
    "             newest unsent begin times, plays set aside, damaged bytes,\n"
    "             the fire alarm's addresses, default and page; when written.\n"
    "--json       with FILE, for summary and verify: the same as one JSON\n"
    "             object (the findings as an array).\n"
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
    "dump DIR FILE\n"
    "             every entry of FILE with its offset: plays, sent marks,\n"
    "             damaged stretches; the fire alarm's default, page and file\n"
    "             per address. Texts are code page 936 converted to UTF-8 "
    "with\n"
    "             every byte kept: one that does not convert, and a control\n"
    "             byte, show as \\xNN, a backslash as \\\\. --format csv gives "
    "the\n"
    "             plays alone, one a row (MediaId, RoomAddress, BeginTime,\n"
    "             EndTime, SongType; Sent for the outbox), quoted as RFC 4180\n"
    "             asks, lines ending CRLF: `dump DIR PlayRecords.rejected\n"
    "             --format csv > plays.csv` lists the plays to enter by hand.\n"
    "             Exit 1 when FILE is damaged or cannot be read.\n"
    "diff DIR1 DIR2\n"
    "             media (by id), rooms and file servers (by address) added "
    "(+),\n"
    "             removed (-) and changed (~, with each changed field), and "
    "each\n"
    "             play list compared: -ID@i removed from position i, +ID@j "
    "added\n"
    "             at j, ID@i>j moved. Exit 0 when equal, 1 when they differ, "
    "2\n"
    "             when a file of either set could not be read.\n"
    "\n"
    "Exit 2 for a usage error, named on standard error with its reason.\n";

// A usage error: what is wrong with which argument, then the usage.
int Usage(std::ostream& err, const std::string& problem) {
  err << "rondel-snapshot: " << problem << "\n" << kUsage;
  return 2;
}

std::string Quoted(const std::string& argument) {
  return "\"" + argument + "\"";
}

constexpr char kKeptNames[] =
    "PlayRecords.outbox, PlayRecords.rejected or FireAlarm.answers";

// verify and summary: DIR, then an optional kept FILE and --json.
int RunFileAction(const std::vector<std::string>& arguments, std::ostream& out,
                  std::ostream& err) {
  const std::string& action = arguments[0];
  std::vector<std::string> operands;
  bool json = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--json") {
      json = true;
    } else if (arguments[i].rfind("--", 0) == 0) {
      return Usage(err, Quoted(arguments[i]) + ": not an option of " + action);
    } else {
      operands.push_back(arguments[i]);
    }
  }
  if (operands.empty()) return Usage(err, action + ": DIR is missing");
  if (operands.size() > 2) {
    return Usage(err, Quoted(operands[2]) + ": one FILE at most");
  }
  if (operands.size() == 1) {
    if (json) {
      return Usage(err, "--json: needs a FILE (" + std::string(kKeptNames) +
                            "); the tables have no JSON " + action);
    }
    return action == "verify" ? VerifySnapshots(operands[0], out)
                              : SummarizeSnapshots(operands[0], out);
  }
  const KeptFile which = FindKeptFile(operands[1]);
  if (which == KeptFile::kNone) {
    return Usage(
        err, Quoted(operands[1]) + ": not a kept file (" + kKeptNames + ")");
  }
  return action == "verify" ? VerifyKeptFile(operands[0], which, json, out)
                            : SummarizeKeptFile(operands[0], which, json, out);
}

int RunDump(const std::vector<std::string>& arguments, std::ostream& out,
            std::ostream& err) {
  std::vector<std::string> operands;
  DumpFormat format = DumpFormat::kTable;
  bool raw = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--raw") {
      raw = true;
    } else if (option == "--json") {
      format = DumpFormat::kJson;
    } else if (option == "--format") {
      if (i + 1 == arguments.size()) {
        return Usage(err, "--format: needs table, csv or json");
      }
      const std::string& name = arguments[++i];
      if (name == "table") {
        format = DumpFormat::kTable;
      } else if (name == "csv") {
        format = DumpFormat::kCsv;
      } else if (name == "json") {
        format = DumpFormat::kJson;
      } else {
        return Usage(
            err, "--format: " + Quoted(name) + " is not table, csv or json");
      }
    } else if (option.rfind("--", 0) == 0) {
      return Usage(err, Quoted(option) + ": not an option of dump");
    } else {
      operands.push_back(option);
    }
  }
  if (operands.size() < 2) {
    return Usage(err, operands.empty() ? "dump: DIR is missing"
                                       : "dump: TABLE or FILE is missing");
  }
  if (operands.size() > 2) {
    return Usage(err, Quoted(operands[2]) + ": one TABLE or FILE at most");
  }
  const KeptFile which = FindKeptFile(operands[1]);
  if (which != KeptFile::kNone) {
    return DumpKeptFile(operands[0], which, format, raw, out, err);
  }
  return DumpSnapshotTable(operands[0], operands[1], format, raw, out, err);
}

}  // namespace

int RunSnapshotTool(const std::vector<std::string>& arguments,
                    std::ostream& out, std::ostream& err) {
  if (arguments.empty()) return Usage(err, "no command given");
  const std::string& action = arguments[0];
  if (action == "--help" || action == "-h" || action == "help") {
    out << kUsage << kHelp;
    return 0;
  }
  if (action == "--version") {
    out << "rondel-snapshot " << RONDEL_VERSION << "\n";
    return 0;
  }
  if (action == "verify" || action == "summary") {
    return RunFileAction(arguments, out, err);
  }
  if (action == "dump") return RunDump(arguments, out, err);
  if (action == "diff") {
    if (arguments.size() != 3) {
      return Usage(err, "diff: needs DIR1 and DIR2, " +
                            std::to_string(arguments.size() - 1) + " given");
    }
    return DiffSnapshots(arguments[1], arguments[2], out, err);
  }
  return Usage(
      err, Quoted(action) + ": not a command (verify, summary, dump or diff)");
}

}  // namespace tools
}  // namespace rondel
