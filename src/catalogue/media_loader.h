// Loading the media catalogue of this video server from the database.
#ifndef RONDEL_CATALOGUE_MEDIA_LOADER_H_
#define RONDEL_CATALOGUE_MEDIA_LOADER_H_

#include <cstdint>

namespace rondel {

// The MediaClass of a media code: the code read as a decimal integer (leading
// white space, an optional sign, then digits up to the first other character; 0
// when there are none) is a film for 10000..11999 and 100000..199999, an
// advertisement for 30000..30999 and 3000000..3999999, and a song otherwise.
// REQUIRES: `code` zero-terminated.
int32_t ClassifyMediaCode(const char* code);

// True when a media with this code and class belongs in Prefix86List: a song
// whose code is exactly 7 characters long and starts with '8' or '6'.
bool BelongsInPrefix86List(const char* code, int32_t media_class);

// Fills Medias from procedure "sp_getmediainfobyvideoserver" (called with the
// group and file-server id of ServerIdentity), in one locked exchange.
// Consecutive rows of one media id are one record whose FileList gathers their
// paths; each record takes the group id of ServerIdentity, its class from its
// code, and (for qualifying songs) a Prefix86List entry. Rows beyond 100000
// records are read and dropped. Empties Prefix86List first. Returns the number
// of records stored, or -1 when the connection, the call or a bind fails (the
// records stored before a failure stay). Does not write MediaCount. REQUIRES:
// Medias zero (ResetCatalogue), the catalogue lock not held by this thread.
int LoadMedias();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_MEDIA_LOADER_H_
