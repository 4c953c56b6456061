// What the snapshot targets share: a scratch snapshot directory on tmpfs, the
// catalogue memory of each table, and the lookups run over whatever a load
// left in the catalogue.
#ifndef RONDEL_FUZZ_SNAPSHOT_HARNESS_H_
#define RONDEL_FUZZ_SNAPSHOT_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/snapshot_format.h"
#include "scratch_dir.h"

namespace rondel {
namespace fuzz {

// The scratch directory (scratch_dir.h) as the snapshot directory: named in
// $RONDEL_SNAPSHOT_DIR from the first call on. With its trailing '/'.
const std::string& SnapshotScratch();

// The catalogue memory that receives table `table`'s records.
void* CatalogueMemory(snapshot::Table table);

// Empties the catalogue as start-up does before a load.
void ResetForLoad();

// Builds the lookup and class indexes over the first MediaCount, RoomCount
// and FileServerCount records, then looks up what the tables hold (every
// record's key for the first records, and keys no record has) and checks the
// answers against plain scans of the tables. REQUIRES: the counters lie within
// the tables' capacities.
void ExerciseCatalogue();

}  // namespace fuzz
}  // namespace rondel

#endif  // RONDEL_FUZZ_SNAPSHOT_HARNESS_H_
