// The catalogue stage of start-up.
#ifndef RONDEL_CATALOGUE_START_CATALOGUE_H_
#define RONDEL_CATALOGUE_START_CATALOGUE_H_

namespace rondel {

// Fills the catalogue: from the database when it answers (then saves the
// snapshot files and persists the play type), else from the snapshot files
// (then restores the play type); the class indexes are built on every path.
// Runs once, inside InitialDatabase.
void StartCatalogue();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_START_CATALOGUE_H_
