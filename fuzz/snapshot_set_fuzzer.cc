// The whole snapshot set, as an offline start loads it.
//
// The input is cut into the nine files, in table order. Each part is a 4-byte
// little-endian word, then its bytes:
//   bits 0-30  the part's length (cut to what remains of the input)
//   bit 31     0: the bytes are the whole file; 1: the bytes are the records
//              only, and a valid header counting the whole records among them
//              is put before them (so that mutations reach the records)
// A part the input does not reach leaves its file absent. Then
// SnapshotStore::LoadAllTables loads the set and the catalogue is served as
// start-up leaves it: counters within the records loaded, class and lookup
// indexes built, lookups answering as scans of the tables do.
#include <cstring>
#include <memory>
#include <string>

#include "catalogue/snapshot_check.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "fuzz_target.h"
#include "snapshot_harness.h"

namespace {

using rondel::g_catalogue;
namespace snapshot = rondel::snapshot;

constexpr uint32_t kWholeHeaderFlag = 0x80000000u;

void PutLe32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
}

std::string Header(const snapshot::TableFormat& format, size_t body_size) {
  std::string header(snapshot::kMagic, snapshot::kMagicSize);
  std::string name(format.table_name);
  name.resize(snapshot::kTableNameSize, '\0');
  header += name;
  PutLe32(&header, static_cast<uint32_t>(body_size /
                                         static_cast<size_t>(format.record_size)));
  PutLe32(&header, static_cast<uint32_t>(format.record_size));
  return header;
}

// Records each table brings when the set is loaded in order, stopping at the
// first file that fails (as LoadAllTables does); 0 for that one and after.
// True when all nine load.
bool RecordsLoaded(int32_t (&loaded)[snapshot::kTableCount]) {
  std::unique_ptr<char[]> records;
  bool failed = false;
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    loaded[k] = 0;
    if (failed) continue;
    const snapshot::TableFormat& format = snapshot::kTables[k];
    const snapshot::TableCheck check = snapshot::CheckTableFile(
        rondel::fuzz::SnapshotScratch() + format.file_name,
        static_cast<snapshot::Table>(k), [&](int32_t count) -> void* {
          const size_t bytes = static_cast<size_t>(count) *
                               static_cast<size_t>(format.record_size);
          records.reset(new char[bytes > 0 ? bytes : 1]);
          return records.get();
        });
    if (check.ok) {
      loaded[k] = check.record_count;
    } else {
      failed = true;
    }
  }
  return !failed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rondel::fuzz::SnapshotScratch();
  size_t at = 0;
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    const snapshot::TableFormat& format = snapshot::kTables[k];
    if (size - at < 4) {
      rondel::fuzz::RemoveScratchFile(format.file_name);
      at = size;
      continue;
    }
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    at += 4;
    size_t length = word & ~kWholeHeaderFlag;
    if (length > size - at) length = size - at;
    std::string file;
    if (word & kWholeHeaderFlag) file = Header(format, length);
    file.append(reinterpret_cast<const char*>(data + at), length);
    at += length;
    rondel::fuzz::WriteScratchFile(format.file_name, file.data(), file.size());
  }

  rondel::fuzz::ResetForLoad();
  rondel::SnapshotStore store;
  const bool loaded = store.LoadAllTables();
  FUZZ_CHECK(store.DirectoryPath == rondel::fuzz::SnapshotScratch());

  int32_t records[snapshot::kTableCount];
  FUZZ_CHECK(loaded == RecordsLoaded(records));
  const rondel::TableRecords& counters = g_catalogue.table_records;
  FUZZ_CHECK(counters.MediaCount <= records[snapshot::kMedias]);
  FUZZ_CHECK(counters.RoomCount <= records[snapshot::kRooms]);
  FUZZ_CHECK(counters.FileServerCount <= records[snapshot::kFileServers]);
  rondel::fuzz::ExerciseCatalogue();
  return 0;
}
