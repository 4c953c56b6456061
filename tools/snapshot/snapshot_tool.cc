// rondel-snapshot: the snapshot inspector (see `rondel-snapshot --help`).
#include <iostream>
#include <string>
#include <vector>

#include "snapshot_actions.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return rondel::tools::RunSnapshotTool(arguments, std::cout, std::cerr);
}
