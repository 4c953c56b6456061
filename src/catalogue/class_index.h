// The three class indexes over the media table: films, songs and
// advertisements.
#ifndef RONDEL_CATALOGUE_CLASS_INDEX_H_
#define RONDEL_CATALOGUE_CLASS_INDEX_H_

namespace rondel {

// One pass over the first MediaCount records of Medias (a negative count counts
// as 0, and never more than the table's capacity), in table order: a record of
// class film, song or advertisement becomes the next entry (MediaId, position)
// of FilmIndex, SongIndex or AdIndex; any other class enters no index. Stores
// the three entry counts in FilmCount, SongCount and AdCount. Entries beyond
// the new counts keep what they held.
//
// Runs at the end of every start-up path, on the thread of InitialDatabase;
// takes no lock.
void BuildClassIndexes();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_CLASS_INDEX_H_
