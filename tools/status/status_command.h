// `rondel status [--json] [--settings FILE] [--snapshot-dir DIR] [--log FILE]`:
// the venue's state (status_model.h) for a person or, with --json, a script.
#ifndef RONDEL_TOOLS_STATUS_STATUS_COMMAND_H_
#define RONDEL_TOOLS_STATUS_STATUS_COMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace rondel {
namespace tools {

// The usage text, for `rondel status --help` and `rondel --help`.
extern const char kStatusHelp[];

// The arguments after "status": the report on `out`, usage errors on `err`.
// Answers StatusExitCode, or 3 on a usage error, 0 for --help.
int RunStatusCommand(const std::vector<std::string>& arguments,
                     std::ostream& out, std::ostream& err);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_STATUS_STATUS_COMMAND_H_
