// Writes the snapshot targets' seed inputs: the library's own save of a small
// catalogue and of an empty one, one file per table target, and the same two
// sets cut as the whole-set target reads its input.
//
//   fuzz_snapshot_seeds fuzz/corpus
//
// The small catalogue: a film, a song (GBK name) and an advertisement, with
// file lists; two rooms; two file servers; short play lists.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "catalogue/class_index.h"
#include "catalogue/snapshot_format.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"

namespace {

namespace snapshot = rondel::snapshot;
using rondel::g_catalogue;

// The table targets' names, in the order of snapshot::Table (fuzz/CMakeLists.txt).
const char* const kTableTargets[snapshot::kTableCount] = {
    "snapshot_table_records", "snapshot_rooms",
    "snapshot_medias",        "snapshot_file_servers",
    "snapshot_all_sequence",  "snapshot_month_sequence",
    "snapshot_week_sequence", "snapshot_new_sequence",
    "snapshot_user_sequence"};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

void PutLe32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
}

void FillSmallCatalogue() {
  using rondel::testing::AddFileServer;
  using rondel::testing::AddMedia;
  using rondel::testing::AddRoom;
  AddMedia(11, rondel::kFilm, "Night Train", {"/media/film/11.mpg"});
  AddMedia(1234, rondel::kSong, "\xD6\xDC\xBD\xDC\xC2\xD7",
           {"/media/song/1234a.mpg", "/media/song/1234b.mpg"})
      .GroupId = 1;
  AddMedia(30, rondel::kAd, "Spring offer", {"/media/ad/30.mpg"});
  AddRoom(1, "Room 1", "10.0.1.10", 101);
  AddRoom(2, "Room 2", "10.0.1.11", 102);
  AddFileServer(1, "10.0.0.2", 1);
  AddFileServer(2, "10.0.0.3", 2);
  rondel::BuildClassIndexes();
  const int32_t lists[] = {1234, 11, 30};
  for (int i = 0; i < 3; ++i) {
    g_catalogue.all_sequence.entries[i] = lists[i];
    g_catalogue.user_sequence.entries[i] = lists[2 - i];
  }
  g_catalogue.month_sequence.entries[0] = 1234;
  g_catalogue.week_sequence.entries[0] = 11;
  g_catalogue.new_sequence.entries[0] = 1234;
  g_catalogue.new_sequence.entries[1] = 30;
  // A save writes each play list up to its count.
  g_catalogue.all_sequence.count = 3;
  g_catalogue.user_sequence.count = 3;
  g_catalogue.month_sequence.count = 1;
  g_catalogue.week_sequence.count = 1;
  g_catalogue.new_sequence.count = 2;
}

// Saves the catalogue with the library's store and writes the seeds named
// `seed` from the nine files.
bool SaveSeeds(const std::string& corpus, const std::string& seed) {
  rondel::SnapshotStore store;
  if (!store.SaveAllTables()) {
    std::fprintf(stderr, "fuzz_snapshot_seeds: the save failed\n");
    return false;
  }
  std::string whole_files, records_only;
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    const std::string file =
        ReadWhole(store.DirectoryPath + snapshot::kTables[k].file_name);
    const std::string target = corpus + "/" + kTableTargets[k];
    mkdir(target.c_str(), 0755);
    if (!WriteWhole(target + "/" + seed + ".tbl", file)) return false;
    PutLe32(&whole_files, static_cast<uint32_t>(file.size()));
    whole_files += file;
    const std::string records = file.substr(snapshot::kHeaderSize);
    PutLe32(&records_only, static_cast<uint32_t>(records.size()) | 0x80000000u);
    records_only += records;
  }
  const std::string set = corpus + "/snapshot_set";
  mkdir(set.c_str(), 0755);
  return WriteWhole(set + "/" + seed + ".bin", whole_files) &&
         WriteWhole(set + "/" + seed + "-records.bin", records_only);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_snapshot_seeds CORPUS_DIR\n");
    return 2;
  }
  char parent[] = "/tmp/rondel-seeds-XXXXXX";
  if (mkdtemp(parent) == nullptr) return 1;
  const std::string snapshots = std::string(parent) + "/VideoServertable";
  setenv("RONDEL_SNAPSHOT_DIR", snapshots.c_str(), 1);
  bool ok = SaveSeeds(argv[1], "empty");
  FillSmallCatalogue();
  ok = ok && SaveSeeds(argv[1], "small");
  // The store may keep more than the nine files beside them (staging, the
  // previous media): the whole parent goes.
  const std::string remove = std::string("rm -rf '") + parent + "'";
  if (std::system(remove.c_str()) != 0) ok = false;
  return ok ? 0 : 1;
}
