#include "status_action.h"

#include <iostream>

#include "status_command.h"

namespace rondel {
namespace tools {

const char kStatusActionHelp[] =
    "  status [--json] [--settings FILE] [--snapshot-dir DIR] [--log FILE]\n"
    "                       what a start would serve now and why, without "
    "loading the library\n"
    "                       or writing anything (rondel status --help; exit "
    "0 database,\n"
    "                       1 offline on a whole snapshot set, 2 nothing, 3 "
    "usage)\n";

int RunStatusAction(const std::vector<std::string>& arguments) {
  return RunStatusCommand(arguments, std::cout, std::cerr);
}

}  // namespace tools
}  // namespace rondel
