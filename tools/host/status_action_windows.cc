#include <iostream>

#include "status_action.h"

namespace rondel {
namespace tools {

const char kStatusActionHelp[] = "";

int RunStatusAction(const std::vector<std::string>&) {
  std::cerr << "rondel: status is not built for Windows yet\n";
  return 3;
}

}  // namespace tools
}  // namespace rondel
