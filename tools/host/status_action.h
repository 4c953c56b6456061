// `rondel status`: runs without loading the library (tools/status).
#ifndef RONDEL_TOOLS_HOST_STATUS_ACTION_H_
#define RONDEL_TOOLS_HOST_STATUS_ACTION_H_

#include <string>
#include <vector>

namespace rondel {
namespace tools {

// One line of `rondel --help` naming the action.
extern const char kStatusActionHelp[];
// The arguments after "status"; answers the command's exit status.
int RunStatusAction(const std::vector<std::string>& arguments);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_STATUS_ACTION_H_
