#include "catalogue/start_catalogue.h"

namespace rondel {

// The catalogue is not built yet: start-up runs no catalogue work.
void StartCatalogue() {}

}  // namespace rondel
