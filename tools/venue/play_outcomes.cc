#include "play_outcomes.h"

#include "catalogue/snapshot_store.h"
#include "kept_files.h"

namespace rondel {
namespace venue {

KeptPlays CountKeptPlays() {
  const tools::KeptFiles files =
      tools::ReadKeptFiles(rondel::SnapshotDirectoryPath());
  KeptPlays counts;
  for (const tools::PlaysFile* file : {&files.outbox, &files.rejected}) {
    if (file->state == tools::KeptState::kUnreadable && counts.error.empty()) {
      counts.error = file->error;
    }
  }
  counts.kept = files.outbox.unsent();
  counts.set_aside = files.rejected.plays;
  return counts;
}

PlayOutcomes TellPlaysApart(long saved, const KeptPlays& before,
                            const KeptPlays& after) {
  PlayOutcomes outcomes;
  outcomes.saved = saved;
  outcomes.error = !before.error.empty() ? before.error : after.error;
  outcomes.kept = after.kept;
  outcomes.kept_before = before.kept;
  outcomes.set_aside = after.set_aside - before.set_aside;
  // A rejected file moved away during the run restarts its count.
  if (outcomes.set_aside < 0) outcomes.set_aside = after.set_aside;
  outcomes.delivered = saved + before.kept - after.kept - outcomes.set_aside;
  return outcomes;
}

std::string DescribePlayOutcomes(const PlayOutcomes& outcomes) {
  std::string line = "plays saved " + std::to_string(outcomes.saved);
  if (!outcomes.error.empty()) {
    return line + ": delivered, kept and set aside unknown (" + outcomes.error +
           ")";
  }
  line += ": delivered " + std::to_string(outcomes.delivered) + ", kept " +
          std::to_string(outcomes.kept) + " in the outbox to send later";
  if (outcomes.kept_before != 0) {
    line += " (" + std::to_string(outcomes.kept_before) + " before the run)";
  }
  return line + ", set aside " + std::to_string(outcomes.set_aside) +
         " as refused";
}

}  // namespace venue
}  // namespace rondel
