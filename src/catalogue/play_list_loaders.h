// Loading the background play type and the five play lists from the database.
//
// Each loader is one locked exchange on its own connection.
// REQUIRES for all: the catalogue lock not held by this thread.
#ifndef RONDEL_CATALOGUE_PLAY_LIST_LOADERS_H_
#define RONDEL_CATALOGUE_PLAY_LIST_LOADERS_H_

namespace rondel {

// The four lists that procedure "spa_sequencemedia" fills, each with its "@num"
// and
// "@isnewsong" values: All (0, 0), Week (7, 0), Month (30, 0), New (0, 1).
enum class Sequence { kAll, kWeek, kMonth, kNew };

// PlayType from "select Configure_Set01 as PlayType from configures where
// Configure_ID=1": every row overwrites it (the last one wins; NULL gives 0).
// True when at least one row came; without a row PlayType keeps its value.
bool LoadPlayType();

// Sets the list's entry count to 0, then stores the media ids (column 1) of
// "spa_sequencemedia" in order, at most 200 (later rows are read and dropped),
// counting each entry. "@room_ipaddress" carries the DataBaseServerIp setting
// (NULL when empty). Returns the number stored, or -1 on failure (entries
// stored before it stay counted).
int LoadSequence(Sequence which);

// As LoadSequence, for UserSequence (at most 100000 entries) from
// "select MediaUserSet_MediaId from MediaUserSet order by MediaUserSet_Shunxu".
int LoadUserSequence();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_PLAY_LIST_LOADERS_H_
