// What the views of the status model (text, JSON) say alike: the verdict's
// words, times and ages, so that a script reading --json and a person reading
// the text see the same thing.
#ifndef RONDEL_TOOLS_STATUS_STATUS_RENDER_H_
#define RONDEL_TOOLS_STATUS_STATUS_RENDER_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "status_model.h"

namespace rondel {
namespace tools {

// "database", "offline", "nothing": --json's verdict.
const char* VerdictName(Verdict verdict);
// The one-line verdict, as the text's first line and --json's "summary":
//   serving from the database: karaok on 127.0.0.1:1433
//   the database is unreachable (127.0.0.1:1433: Connection refused), an
//   offline start would serve the snapshot set written at T (5 minutes ago)
//   NOTHING to serve: the database ... and no whole snapshot set (...)
std::string VerdictLine(const VenueStatus& status);
// Why the database cannot be used: "is unreachable (...)", "refuses the login
// (18456: Login failed for user 'sa'.)"; empty when it can.
std::string DatabaseProblem(const DatabaseStatus& database);
// "2026-12-08 05:40:01 UTC".
std::string UtcTime(int64_t seconds);
// "12 seconds", "5 minutes", "3 hours", "2 days" between `then` and `now`.
std::string Age(int64_t then, int64_t now);

// The whole report for a person, section by section.
void PrintStatusText(const VenueStatus& status, std::ostream& out);
// The same model as one JSON object with stable keys, and a line break.
void PrintStatusJson(const VenueStatus& status, std::ostream& out);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_STATUS_STATUS_RENDER_H_
