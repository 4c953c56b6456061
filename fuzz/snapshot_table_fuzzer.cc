// One snapshot table file, as the store loads it and as the inspector checks
// it. Built once per table: RONDEL_FUZZ_TABLE is its snapshot::Table.
//
// The input is the whole file. It is loaded twice: by SnapshotStore::LoadTable
// into the catalogue, and by CheckTableFile into memory of exactly the size
// the header asks for (so a read or write past the records is caught). Both
// must agree on the verdict and on the records. What loaded is then served:
// the counter of a media, room or file-server table is set to the records
// that came, and the lookups run over them.
#include <cstring>
#include <memory>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "fuzz_target.h"
#include "snapshot_harness.h"

#ifndef RONDEL_FUZZ_TABLE
#error "RONDEL_FUZZ_TABLE names the table this target reads"
#endif

namespace {

using rondel::g_catalogue;
namespace snapshot = rondel::snapshot;

constexpr snapshot::Table kTable =
    static_cast<snapshot::Table>(RONDEL_FUZZ_TABLE);
static_assert(kTable >= 0 && kTable < snapshot::kTableCount, "a table");
constexpr const snapshot::TableFormat& kFormat = snapshot::kTables[kTable];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rondel::fuzz::SnapshotScratch();
  rondel::fuzz::WriteScratchFile(kFormat.file_name, data, size);
  rondel::fuzz::ResetForLoad();

  rondel::SnapshotStore store;
  store.DirectoryPath = rondel::fuzz::SnapshotScratch();
  const bool loaded = store.LoadTable(kFormat.file_name, kFormat.table_name);

  std::unique_ptr<char[]> records;
  size_t records_size = 0;
  const snapshot::TableCheck check = snapshot::CheckTableFile(
      store.DirectoryPath + kFormat.file_name, kTable,
      [&](int32_t record_count) -> void* {
        FUZZ_CHECK(record_count >= 0 && record_count <= kFormat.capacity);
        records_size = static_cast<size_t>(record_count) *
                       static_cast<size_t>(kFormat.record_size);
        records.reset(new char[records_size > 0 ? records_size : 1]);
        return records.get();
      });

  FUZZ_CHECK(loaded == check.ok);
  FUZZ_CHECK(check.ok == check.reason.empty());
  FUZZ_CHECK(loaded == store.LastLoad().ok);
  if (!loaded) return 0;
  FUZZ_CHECK(check.record_size == kFormat.record_size);
  FUZZ_CHECK(records_size == static_cast<size_t>(check.record_count) *
                                 static_cast<size_t>(kFormat.record_size));
  FUZZ_CHECK(std::memcmp(rondel::fuzz::CatalogueMemory(kTable), records.get(),
                         records_size) == 0);

  rondel::TableRecords& counters = g_catalogue.table_records;
  switch (kTable) {
    case snapshot::kMedias:
      counters.MediaCount = check.record_count;
      break;
    case snapshot::kRooms:
      counters.RoomCount = check.record_count;
      break;
    case snapshot::kFileServers:
      counters.FileServerCount = check.record_count;
      break;
    default:
      // The counters and play lists are served only with the tables they
      // count: the whole-set target covers them.
      return 0;
  }
  rondel::fuzz::ExerciseCatalogue();
  return 0;
}
