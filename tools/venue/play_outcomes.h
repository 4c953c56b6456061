// Where the plays a run saved went. SaveVideoTime answers nothing, so the
// simulator reads what the library keeps in the snapshot directory before
// the run and after it: plays still kept in PlayRecords.outbox, to be sent
// later, and plays the server refused, set aside in PlayRecords.rejected.
// Every play saved, and every one kept before the run, is in exactly one of
// three places afterwards, so delivered is the rest:
//
//   delivered = saved + kept before - kept after - set aside during the run
//
// A play dropped unsent (KeepUnsentPlays=0) counts as delivered; a stop that
// leaves a refused play in both files counts it as set aside only once the
// next run's load has settled it.
#ifndef RONDEL_TOOLS_VENUE_PLAY_OUTCOMES_H_
#define RONDEL_TOOLS_VENUE_PLAY_OUTCOMES_H_

#include <string>

namespace rondel {
namespace venue {

// Plays kept in the snapshot directory at one moment.
struct KeptPlays {
  long kept = 0;       // unsent plays in the outbox
  long set_aside = 0;  // plays in the rejected file
  std::string error;   // a file that could not be read: counts unknown
};

// Reads the two files in the directory the library uses (as the library
// finds it: $RONDEL_SNAPSHOT_DIR, else beside the program).
KeptPlays CountKeptPlays();

struct PlayOutcomes {
  long saved = 0;
  long delivered = 0;
  long kept = 0;         // still kept at the end
  long kept_before = 0;  // kept when the run began
  long set_aside = 0;    // set aside during the run
  std::string error;     // when not empty, only `saved` is known
};

PlayOutcomes TellPlaysApart(long saved, const KeptPlays& before,
                            const KeptPlays& after);

// One line: "plays saved N: delivered D, kept K in the outbox to send later
// (K0 before the run), set aside R as refused".
std::string DescribePlayOutcomes(const PlayOutcomes& outcomes);

}  // namespace venue
}  // namespace rondel

#endif  // RONDEL_TOOLS_VENUE_PLAY_OUTCOMES_H_
